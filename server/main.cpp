// Tarvo's start-up: one instance per user, the configuration window first,
// then the server window in the tray with the modem side wired to it.
//
// The server window is the modem side's Reporter and ServerControls, so it
// is made first and the host session (line, waits, modem control, link,
// transfers, call handling) is attached to it. The line's two notifications
// go through the window: a call's job runs inside its operation guard, and a
// lost port waits for a running operation to unwind.
#include "AppIcon.h"
#include "AppVersion.h"
#include "Configuration.h"
#include "HostSession.h"
#include "LogFile.h"
#include "MessageBoxPrompter.h"
#include "QtSerialLine.h"
#include "ServerState.h"
#include "SettingsStore.h"
#include "SingleInstance.h"
#include "Transfers.h"
#include "TrayIcon.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "frmServer.h"

#include <QApplication>

using namespace Tarvo;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppVersion::Title));
    QApplication::setApplicationVersion(QString::fromLatin1(AppVersion::Version));
    // The window spends most of its life hidden, and closing the About box
    // or a question then must not end the program: only the server window's
    // unloading does.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (instance.tryAcquire() != SingleInstance::Acquire::Acquired)
        return 0;

    SettingsStore store;
    MessageBoxPrompter prompter;
    Configuration &config = configuration();
    if (!ShowConfigurationWindow(nullptr, config, store, prompter))
        return 0;
    QCoreApplication::processEvents();

    QApplication::setWindowIcon(TarvoIcon()); // also registers the icon resources
    LogFile log(LogFile::defaultDirectory());
    SystemTrayIcon tray;
    ServerState state;
    frmServer server(
        state, log, tray, prompter, config,
        [&](QWidget *parent) { return ShowConfigurationWindow(parent, config, store, prompter); },
        [&](QWidget *parent) { ShowAboutWindow(parent, log.path()); });
    prompter.setParent(&server);

    QtSerialLine line([&store](int comNumber) { return store.portDevice(comNumber); });
    RealWaiter waiter;
    HostSession session(line, waiter, server, prompter, server, state, config);
    server.attachModem(session.modem(), &session.wait());
    server.setPortLostHandler([&session] { session.settle(); });
    line.setReceiveHandler(
        [&] { server.runOperation([&session] { session.calls().HandleCommEvent(); }); });
    line.setLostHandler([&server] { server.portLost(); });

    // Said where the user will look, so the previous copy can be recovered by hand.
    server.setStartupCheck([&server, &config] {
        for (const QString &note : UploadJob::leftoverBackups(config))
            server.WriteLog(note + QLatin1String(CrLf));
    });

    QObject::connect(&server, &frmServer::unloaded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Ending the session quits without closing the window first.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &server, &frmServer::Form_Unload);

    server.Form_Load();
    return app.exec();
}
