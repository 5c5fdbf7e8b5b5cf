#include "PortableRig.h"

#include "QtSerialLine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTimer>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/resource.h>
#endif

namespace Tarvo::Bench {

PortableRig::PortableRig()
{
    for (const char *sub : {"host", "portable/files", "portable/received"})
        QDir(m_dir.path()).mkpath(QLatin1String(sub));
    QObject::connect(&m_portable, &QProcess::readyReadStandardOutput,
                     [this] { readPortableOutput(); });
    QObject::connect(&m_portable, &QProcess::readyReadStandardError, [this] {
        events += QString::fromLocal8Bit(m_portable.readAllStandardError());
    });
}

PortableRig::~PortableRig()
{
    m_readiness.stop();
    if (m_session && state.PortOpened) {
        state.Connected = false; // no question at the end of a test
        m_session->modem().HangUp();
    }
    m_session.reset();
    m_line.reset();
    killPortable();
}

bool PortableRig::startPortable(const PortableOptions &options)
{
#ifndef TARVO_PORTABLE_PATH
    Q_UNUSED(options);
    return false; // no simulator in this build: a portable elsewhere (startHost(device))
#else
    QStringList args{QStringLiteral("--bps"), QString::number(options.bitsPerSecond),
                     QStringLiteral("--first-call-delay"), QString::number(options.firstCallDelay),
                     QStringLiteral("--interval"), QString::number(options.interval),
                     QStringLiteral("--calls"), QString::number(options.calls),
                     // Stay around after the last call: the rig ends the
                     // simulator itself, and a slow host must still get its
                     // "NO CARRIER" and the OK to its re-arming.
                     QStringLiteral("--linger"), QStringLiteral("30"),
                     QStringLiteral("--download-dir"), m_dir.filePath("portable/received"),
                     QStringLiteral("--upload-dir"), m_dir.filePath("portable/files")};
    args += options.extra;
    if (options.keepEvents)
        args += QStringLiteral("--verbose");
    m_ptyPath.clear();
    m_portable.setProcessChannelMode(options.keepEvents ? QProcess::SeparateChannels
                                                        : QProcess::ForwardedErrorChannel);
    m_portable.start(QStringLiteral(TARVO_PORTABLE_PATH), args);
    if (!m_portable.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(5000);
    while (m_ptyPath.isEmpty() && !deadline.hasExpired() &&
           m_portable.state() == QProcess::Running) {
        m_portable.waitForReadyRead(100);
        readPortableOutput();
    }
    return !m_ptyPath.isEmpty();
#endif
}

void PortableRig::readPortableOutput()
{
    m_portableOut += m_portable.readAllStandardOutput();
    qsizetype end;
    while ((end = m_portableOut.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_portableOut.left(end)).trimmed();
        m_portableOut.remove(0, end + 1);
        if (line.startsWith(QLatin1String("PTY ")))
            m_ptyPath = line.mid(4);
        else if (line.startsWith(QLatin1String("CALL ")))
            summaries += line;
    }
}

bool PortableRig::startHost(const QString &onDevice)
{
    const QString device = onDevice.isEmpty() ? m_ptyPath : onDevice;
    m_line = std::make_unique<QtSerialLine>([device](int) { return device; });
    m_counting = std::make_unique<CountingLine>(*m_line);
    m_session = std::make_unique<HostSession>(*m_counting, m_waiter, reporter, prompter, controls,
                                              state, config);
    QString error;
    m_journal.acquire(error);
    m_session->setJournal(&m_journal); // uploads pay for their journal as in the server
    m_session->connectLine();
    m_session->calls().setJobObserver([this](bool running) { observeJob(running); });
    QObject::connect(&m_readiness, &QTimer::timeout, [this] {
        m_session->readiness().tick();
        m_readiness.setInterval(m_session->readiness().tickIntervalMs());
    });
    m_readiness.start(m_session->readiness().tickIntervalMs());
    config.ModemPort = 1;
    m_session->modem().InitializeModem();
    m_session->settle();
    return state.PortOpened && reporter.tip() == QLatin1String("Waiting call ...");
}

double processCpuSeconds()
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME &t) {
        return double((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7; // 100 ns ticks
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

PortableRig::JobFigures PortableRig::countersNow() const
{
    JobFigures now;
    now.wireBytes = m_counting->written + m_counting->received;
    now.cpuSeconds = processCpuSeconds();
    now.sleeps = m_waiter.sleeps;
    now.sleepMs = double(m_waiter.sleepNs) / 1e6;
    now.eventsMs = double(m_waiter.eventsNs) / 1e6;
    now.readMs = double(m_counting->readNs) / 1e6;
    now.writeMs = double(m_counting->writeNs) / 1e6;
    return now;
}

void PortableRig::observeJob(bool running)
{
    const JobFigures now = countersNow();
    if (running) {
        m_jobClock.start();
        m_atStart = now;
        return;
    }
    m_lastJob.wallMs = m_jobClock.elapsed();
    m_lastJob.wireBytes = now.wireBytes - m_atStart.wireBytes;
    m_lastJob.cpuSeconds = now.cpuSeconds - m_atStart.cpuSeconds;
    m_lastJob.sleeps = now.sleeps - m_atStart.sleeps;
    m_lastJob.sleepMs = now.sleepMs - m_atStart.sleepMs;
    m_lastJob.eventsMs = now.eventsMs - m_atStart.eventsMs;
    m_lastJob.readMs = now.readMs - m_atStart.readMs;
    m_lastJob.writeMs = now.writeMs - m_atStart.writeMs;
}

bool PortableRig::waitForCalls(int calls, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (summaries.size() < calls && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_portable.waitForReadyRead(5);
        readPortableOutput();
    }
    // Let the host see the NO CARRIER that follows the last call.
    const QDeadlineTimer settle(3000);
    while (!settle.hasExpired() && (state.Connected || m_session->calls().jobRunning()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return summaries.size() >= calls;
}

bool PortableRig::waitForHostCall(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // wakes the blocking event passes to look at the clock
    tick.start(50);
    while (!deadline.hasExpired() && (m_session->calls().jobsRun() == 0 || state.Connected ||
                                      m_session->calls().jobRunning()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return m_session->calls().jobsRun() > 0 && !state.Connected;
}

void PortableRig::killPortable()
{
    if (m_portable.state() != QProcess::NotRunning) {
        m_portable.kill();
        m_portable.waitForFinished(3000);
    }
}

QString PortableRig::hostPath(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("host/") + name);
}

QString PortableRig::portableFile(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("portable/files/") + name);
}

QString PortableRig::receivedFile(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("portable/received/") + name);
}

void PortableRig::writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(content);
}

QByteArray PortableRig::readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace Tarvo::Bench
