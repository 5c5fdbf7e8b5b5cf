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
//
// On Windows the same server runs as the service "Tarvo" (--service,
// ServiceRunner.h): the manager hears "running" once the locks are held and
// the control channel listens, before the journal's recovery; its stop and
// pre-shutdown are the orderly end, its own control code the close when
// idle. The other service verbs manage the service (ServiceAdmin.h). While
// it serves, the PC is kept awake during a call and, by a setting, while
// the modem is armed (KeepAwake.h).
#include "AppVersion.h"
#include "ControlServer.h"
#include "DaemonOptions.h"
#include "HeadlessServer.h"
#include "HostReporter.h"
#include "KeepAwake.h"
#include "LogFeed.h"
#include "LogFile.h"
#include "ServiceNotifier.h"
#include "SingleInstance.h"
#include "UploadJournal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#ifdef Q_OS_WIN
#include "ConsoleEvents.h"
#include "ServiceAdmin.h"
#include "ServiceRunner.h"
#endif

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

// What the Windows service adds to a server's run.
struct ServeHooks
{
    std::function<void(HeadlessServer &)> attach; // the manager's requests
    std::function<void()> running;                // the start is over
    // A service has no console: why it would not start goes to its log too.
    bool logRefusals = false;
};

// Keeps the PC awake as the server's state asks, until it ends. Asked once
// a second: a call's job pumps events, so the ticks go on during it.
void keepAwakeWhileServing(HeadlessServer &server, KeepAwake &awake, QTimer &ticks)
{
    QObject::connect(&ticks, &QTimer::timeout, &server, [&server, &awake] {
        awake.update(server.state().Connected, server.state().AutoAnswerOn,
                     [&server] { return server.keepAwakeWhileArmed(); });
    });
    QObject::connect(&server, &HeadlessServer::unloaded, &server, [&awake, &ticks] {
        ticks.stop();
        awake.release();
    });
#ifdef Q_OS_WIN
    ticks.start(1000); // elsewhere the system has nothing to hold
#endif
}

} // namespace

static int serve(QCoreApplication &app, const DaemonOptions &options, const ServeHooks &hooks)
{
    const auto refuseHere = [&options, &hooks](const QString &reason) {
        if (hooks.logRefusals)
            LogFile(options.logDir, {}, QString())
                .WriteLog(LogFile::timestamp(QDateTime::currentDateTime()) + reason +
                          QLatin1String(CrLf));
        return refuse(reason);
    };
    // What could not be checked or opened at the start: said in red once the
    // server serves, which it does all the same.
    QStringList startNotes;

    // One server per state folder: the second refuses before touching anything.
    QDir().mkpath(options.stateDir);
    QDir().mkpath(options.logDir);
    SingleInstance instance(QDir(options.stateDir).filePath(QStringLiteral("tarvod.lock")),
                            SingleInstance::Scope::Global);
    switch (instance.tryAcquire()) {
    case SingleInstance::Acquire::Acquired:
        break;
    case SingleInstance::Acquire::AlreadyRunning:
        return refuseHere(QStringLiteral("another Tarvo server runs on the state folder %1.")
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
        return refuseHere(
            QStringLiteral("another Tarvo holds the upload journal in %1.").arg(options.stateDir));

    LogFile log(options.logDir, {}, QString()); // no per-user fallback
    HostReporter reporter(log);
    ConsoleReporter console;
    reporter.addReporter(&console);
    HeadlessServer server(reporter, journal, options.settings);
    if (QString error; !server.claimPort(error))
        return refuseHere(error);

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
    if (hooks.attach)
        hooks.attach(server);
    SystemPowerRequest power;
    KeepAwake awake(power, [&reporter](const QString &text) {
        reporter.AppendStatus(text + QLatin1String(CrLf), ColourRed);
    }); // released at the latest when the server is gone
    QTimer awakeTicks;
    keepAwakeWhileServing(server, awake, awakeTicks);

    QTimer::singleShot(0, &server, [&] {
        // The service manager hears "running" before the recovery, which may take long.
        if (hooks.running)
            hooks.running();
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
#ifdef Q_OS_WIN
    if (options.verb == DaemonOptions::Verb::RunService) {
        ConsoleEvents console(false); // a user's log-off is no stop
        ServiceRunner runner;
        if (QString error; !runner.connect(error))
            return refuse(error);
        ServeHooks hooks;
        hooks.attach = [&runner](HeadlessServer &server) {
            QObject::connect(&runner, &ServiceRunner::stopRequested, &server,
                             [&server](const QString &reason) { server.shutdownNow(reason); });
            QObject::connect(&runner, &ServiceRunner::closeWhenIdleRequested, &server,
                             [&server] { server.closeWhenIdle(); });
        };
        hooks.running = [&runner] { runner.reportRunning(); };
        hooks.logRefusals = true;
        status = serve(app, options, hooks);
        runner.reportStopped(status);
        return status;
    }
    if (options.verb != DaemonOptions::Verb::Serve)
        return ServiceAdmin::run(options);
    ConsoleEvents console(true);
    ServeHooks hooks;
    hooks.attach = [&console](HeadlessServer &server) {
        QObject::connect(&console, &ConsoleEvents::interrupted, &server,
                         [&server] { server.shutdownNow(QStringLiteral("Interrupted.")); });
    };
    return serve(app, options, hooks);
#else
    return serve(app, options, {});
#endif
}
