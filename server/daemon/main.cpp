// tarvod: the Tarvo server without a window, for the service manager to run
// at boot. One server per state folder and per serial device; settings,
// state, log and control socket come from its command line
// (DaemonOptions.h), never from a user's folders.
//
// It runs in the foreground: the state folder's lock and the journal's
// first, so that a second server refuses before it touches anything; then
// the device named by the settings is claimed; then it serves at once (the
// journal's recovery before the modem is armed, HeadlessServer.h). A
// termination signal ends it in order, and it exits 0 once the modem is
// hung up and disarmed. Nothing here follows anybody's log-in or log-off.
//
// Every text of the log is echoed on standard error, where the service
// manager's journal picks it up, red ones marked as errors.
#include "AppVersion.h"
#include "ControlServer.h"
#include "DaemonOptions.h"
#include "HeadlessServer.h"
#include "HostReporter.h"
#include "LogFeed.h"
#include "LogFile.h"
#include "ServiceNotifier.h"
#include "SingleInstance.h"
#include "UploadJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

using namespace Tarvo;

namespace {

// The log's texts on standard error, one line each. When that is the
// service manager's journal ($JOURNAL_STREAM), "<3>" marks a red one as an
// error there.
class ConsoleReporter final : public Reporter
{
public:
    void AppendStatus(const QString &text, std::uint32_t colour) override
    {
        write(text, colour == ColourRed && m_journal ? "<3>" : "");
    }
    void clearStatus() override {}
    void WriteLog(const QString &text) override { write(text, ""); }
    void SetTrayTip(const QString &) override {}

private:
    void write(const QString &text, const char *level)
    {
        m_line += text;
        if (!m_line.endsWith(QLatin1String(CrLf)))
            return;
        const QString whole = m_line.trimmed().replace(QLatin1String(CrLf), QLatin1String(" "));
        m_line.clear();
        if (!whole.isEmpty())
            std::fprintf(stderr, "%s%s\n", level, whole.toLocal8Bit().constData());
    }

    QString m_line;
    const bool m_journal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
};

int refuse(const QString &reason)
{
    std::fprintf(stderr, "tarvod: %s\n", reason.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(AppVersion::Title));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(AppVersion::Version));

    DaemonOptions options;
    QString message;
    int status = 0;
    if (!options.parse(QCoreApplication::arguments(), message, status)) {
        std::fprintf(status == 0 ? stdout : stderr, "%s\n", message.toLocal8Bit().constData());
        return status;
    }

    // What could not be checked or opened at the start: said in red once the
    // server serves, which it does all the same.
    QStringList startNotes;

    // One server per state folder: the second refuses before touching anything.
    QDir().mkpath(options.stateDir);
    SingleInstance instance(QDir(options.stateDir).filePath(QStringLiteral("tarvod.lock")));
    switch (instance.tryAcquire()) {
    case SingleInstance::Acquire::Acquired:
        break;
    case SingleInstance::Acquire::AlreadyRunning:
        return refuse(QStringLiteral("another Tarvo server runs on the state folder %1.")
                          .arg(options.stateDir));
    case SingleInstance::Acquire::Failed:
        // The journal's and the device's locks still keep a second server off
        // the files and the modem.
        startNotes +=
            instance.errorString() +
            QStringLiteral(" A second server on this state folder is not kept from running.");
        break;
    }
    UploadJournal journal(options.stateDir);
    if (QString error; journal.acquire(error) == FileLock::Result::HeldElsewhere)
        return refuse(
            QStringLiteral("another Tarvo holds the upload journal in %1.").arg(options.stateDir));

    LogFile log(options.logDir, {}, QString()); // no per-user fallback
    HostReporter reporter(log);
    ConsoleReporter console;
    reporter.addReporter(&console);
    HeadlessServer server(reporter, journal, options.settings);
    if (QString error; !server.claimPort(error))
        return refuse(error);

    // The control channel listens before the server serves, so that a
    // client sees the start-up too. Every text of the log reaches the
    // channel's feed from here on. A channel that cannot be opened (a
    // folder that cannot be written, a path another server answers at)
    // costs the control, not the calls: the server serves without it.
    LogFeed feed;
    reporter.addReporter(&feed);
    ControlServer control(server, feed,
                          QStringLiteral("tarvod %1").arg(QLatin1String(AppVersion::Version)));
    if (!control.listen(options.control))
        startNotes += QStringLiteral("The control channel is not open (%1). Tarvo serves calls "
                                     "without it; tarvoctl and the tray cannot reach it.")
                          .arg(control.errorString());
    else if (!control.warning().isEmpty())
        startNotes += control.warning();

    SystemdNotifier notifier;
    WatchdogPinger watchdog(notifier, SystemdNotifier::watchdogIntervalMs());
    QObject::connect(
        &server, &HeadlessServer::unloaded, &app,
        [&notifier] {
            notifier.notify(QByteArrayLiteral("STOPPING=1"));
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);

    QTimer::singleShot(0, &server, [&] {
        server.serve();
        if (server.isUnloaded())
            return;
        for (const QString &note : std::as_const(startNotes))
            reporter.AppendStatus(note + QLatin1String(CrLf), ColourRed);
        const ControlStatus now = server.status();
        notifier.notify("READY=1\nSTATUS=" +
                        (now.settingsValid ? now.state : now.settingsProblem).toUtf8());
    });
    return app.exec();
}
