// A whole host without a window, wired to tarvo-portable over a
// pseudo-terminal: the QSerialPort line, the real clock, modem control, call
// handling and the transfers, exactly as the server runs them. The end-to-end
// tests and the benchmark both drive the host through it.
//
// Each rig gets its own folders: host/ for the host's files, portable/files
// for what the portable serves and portable/received for what it stored.
// The line is wrapped in a counter, and every job is timed. Uploads keep
// their journal in the rig's folder, as the server keeps its own, and a
// timer ticks the readiness rule as the server's does.
//
// The host can also face a portable that runs elsewhere, on a device given
// to startHost() (the Windows build, which has no simulator of its own,
// runs under Wine against the Linux one through a mapped COM port).
#pragma once

#include "Configuration.h"
#include "CountingLine.h"
#include "HostSession.h"
#include "LineWait.h"
#include "ServerState.h"
#include "UploadJournal.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

namespace Tarvo {
class QtSerialLine;
}

namespace Tarvo::Bench {

struct PortableOptions
{
    int bitsPerSecond = 0; // 0: unpaced
    double firstCallDelay = 0.2;
    double interval = 0.5;
    int calls = 1;
    QStringList extra;       // fault options and the like
    bool keepEvents = false; // the simulator's modem and protocol events, in PortableRig::events
};

class PortableRig
{
public:
    PortableRig();
    ~PortableRig();

    // Starts the simulator; false when it did not come up with a pseudo-terminal.
    bool startPortable(const PortableOptions &options);
    // Opens the port (the simulator's, or device), initialises the modem and
    // arms auto-answer.
    bool startHost(const QString &device = {});
    // Processes events until the simulator has reported `calls` finished
    // calls and the host has seen the end of the last one.
    bool waitForCalls(int calls, int timeoutMs);
    // The same, for a portable that runs elsewhere: until the host has run
    // a job and seen its call end.
    bool waitForHostCall(int timeoutMs);
    // Kills the simulator (the pseudo-terminal goes away under the host).
    void killPortable();

    QString hostPath(const QString &name) const;
    QString portableFile(const QString &name) const; // served to the host
    QString receivedFile(const QString &name) const; // stored by the portable
    static void writeFile(const QString &path, const QByteArray &content);
    static QByteArray readFile(const QString &path);

    Configuration config;
    ServerState state;
    HeadlessReporter reporter{[this](const QString &text) { log += text; }};
    HeadlessControls controls;
    HeadlessPrompter prompter;
    QString log;
    QStringList summaries; // the simulator's per-call lines
    QString events;        // with keepEvents: what the simulator saw, e.g. "command ATS0=0: OK"

    HostSession &session() { return *m_session; }
    CountingLine &line() { return *m_counting; }
    // The last job: wall time, bytes both ways on the line, CPU seconds of
    // this process, and where the time went: the polls' sleeps and event
    // passes, the line's reads and writes (the rest is the protocol's own
    // work and the host files).
    struct JobFigures
    {
        qint64 wallMs = -1;
        qint64 wireBytes = 0;
        double cpuSeconds = 0;
        qint64 sleeps = 0;
        double sleepMs = 0, eventsMs = 0, readMs = 0, writeMs = 0;
    };
    JobFigures lastJob() const { return m_lastJob; }
    qint64 portablePid() const { return m_portable.processId(); }
    // The simulator's pseudo-terminal, for a host in another process.
    QString ptyPath() const { return m_ptyPath; }

private:
    void readPortableOutput();

    QTemporaryDir m_dir;
    UploadJournal m_journal{m_dir.filePath(QStringLiteral("journal"))};
    QProcess m_portable;
    QByteArray m_portableOut;
    QString m_ptyPath;
    std::unique_ptr<QtSerialLine> m_line;
    std::unique_ptr<CountingLine> m_counting;
    TimingWaiter m_waiter;
    std::unique_ptr<HostSession> m_session;
    QTimer m_readiness;
    void observeJob(bool running);
    JobFigures countersNow() const;

    QElapsedTimer m_jobClock;
    JobFigures m_lastJob;
    JobFigures m_atStart;
};

// User plus system CPU seconds of this process so far.
double processCpuSeconds();

} // namespace Tarvo::Bench
