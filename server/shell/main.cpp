// Tarvo's start-up: one instance per user and settings, the owner of the
// upload journal, the configuration window first, then the server window in
// the tray with the modem side wired to it. Where a server is installed to
// run without anybody logged in (tarvod, on Windows the service), the tray
// attaches to it instead (AttachedTray.h, InstalledServer.h): no
// configuration window first, no journal, no port. No folder that cannot be
// written stops a start: not the settings' (the lock needs none), not the
// journal's; nor does a lock that cannot be taken at all.
//
// The server window is the modem side's Reporter and ServerControls, so it
// is made first and the host session (line, waits, modem control, link,
// transfers, call handling) is attached to it (ServerWiring.h, TrayWiring.h).
#include "AppIcon.h"
#include "AppVersion.h"
#include "AttachedTray.h"
#include "CloseRequests.h"
#include "Configuration.h"
#include "ControlClient.h"
#include "HostSession.h"
#include "InstalledServer.h"
#include "LogFile.h"
#include "MessageBoxPrompter.h"
#include "QtSerialLine.h"
#include "ServerState.h"
#include "ServerWiring.h"
#include "SettingsMove.h"
#include "SettingsStore.h"
#include "SingleInstance.h"
#include "TrayIcon.h"
#include "TrayWiring.h"
#include "UploadJournal.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "frmServer.h"

#include <QApplication>

using namespace Tarvo;

namespace {

int runAttached(QApplication &app, const QString &controlPath, const QString &instanceNote)
{
    QApplication::setWindowIcon(tarvoIcon());
    LogFile log(LogFile::defaultDirectory());
    SystemTrayIcon tray;
    ServerState state;
    MessageBoxPrompter prompter;
    AttachedTray attached(
        state, log, tray, prompter,
        [&prompter](QWidget *parent, Configuration &model, SettingsAccess &settings) {
            return showConfigurationWindow(parent, model, settings, prompter);
        },
        [&log](QWidget *parent) { showAboutWindow(parent, log.path()); });
    frmServer &server = attached.window();
    prompter.setParent(&server);
    // The user's own settings, offered once to the server (SettingsMove.h).
    SettingsStore ownSettings;
    SettingsMove move(ownSettings, UploadJournal::defaultFolder());
    attached.offerSettingsMove(move);
    connectTray(app, server);
    CloseRequests closeRequests;
    connectCloseRequestsAttached(closeRequests, server);
    if (!instanceNote.isEmpty())
        server.addStartupNote(instanceNote);
    attached.start(controlPath);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppVersion::Title));
    QApplication::setApplicationVersion(QString::fromLatin1(AppVersion::Version));
    // The window spends most of its life hidden, and closing the About box
    // or a question then must not end the program: only the server window's
    // unloading does.
    QApplication::setQuitOnLastWindowClosed(false);

    // A lock that cannot be taken at all costs the one-instance guarantee, not
    // the server: a second Tarvo would still find the port and the journal
    // taken. Said in red at the first activation.
    SingleInstance instance;
    QString instanceNote;
    switch (instance.tryAcquire()) {
    case SingleInstance::Acquire::Acquired:
        break;
    case SingleInstance::Acquire::AlreadyRunning:
        return 0;
    case SingleInstance::Acquire::Failed:
        instanceNote = instance.errorString();
        if (!instanceNote.endsWith(QLatin1Char('.')))
            instanceNote += QLatin1Char('.');
        instanceNote += QStringLiteral(" A second start of Tarvo is not kept from running.");
        break;
    }
    // A server installed to answer at boot serves the modem, whether it
    // answers yet or not: the tray attaches to it and never opens the port.
    const QString control = ControlClient::resolvePath({});
    if (InstalledServer::trayAttaches(control))
        return runAttached(app, control, instanceNote);

    // The journal has one owner for the whole run: only it may undo uploads.
    // A folder where it cannot be locked only keeps uploads from running;
    // the first activation says so (ServerWiring.h).
    UploadJournal journal;
    if (QString ignored; journal.acquire(ignored) == FileLock::Result::HeldElsewhere)
        return 0;

    // The installer's request to close (Windows) is heard from here on: in
    // the configuration window it counts as Cancel.
    CloseRequests closeRequests;
    bool closeRequested = false;
    QObject::connect(&closeRequests, &CloseRequests::received, &app, [&closeRequested] {
        closeRequested = true;
        closeOpenDialogs();
    });

    SettingsStore store;
    MessageBoxPrompter prompter;
    Configuration config; // the run's one model, edited by the configuration window
    if (!showConfigurationWindow(nullptr, config, store, prompter))
        return 0;
    QCoreApplication::processEvents();
    if (closeRequested)
        return 0;
    closeRequests.disconnect(&app);

    QApplication::setWindowIcon(tarvoIcon()); // also registers the icon resources
    LogFile log(LogFile::defaultDirectory());
    SystemTrayIcon tray;
    ServerState state;
    frmServer server(
        state, log, tray, prompter, config,
        [&](QWidget *parent) { return showConfigurationWindow(parent, config, store, prompter); },
        [&](QWidget *parent) { showAboutWindow(parent, log.path()); });
    prompter.setParent(&server);

    ServerRuntime runtime(
        server, prompter, state, config,
        [&store](int comNumber) { return store.portDevice(comNumber); }, journal);
    connectTray(app, server);
    runtime.session.readiness().setRetryEnabled([&store] { return store.retryEnabled(); });

    if (!instanceNote.isEmpty())
        server.addStartupNote(instanceNote);
    connectCloseRequests(closeRequests, server);
    server.Form_Load();
    return app.exec();
}
