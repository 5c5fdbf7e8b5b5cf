// One real tarvod process with its own settings file, state, log and
// control path under a folder, started as the service manager starts it:
// under env -i, every location on its command line. The end-to-end tests
// and the control channel's benchmark drive the server through it.
#pragma once

#include "Configuration.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace Tarvo::Bench {

class TarvodProcess
{
public:
    explicit TarvodProcess(const QString &folder);
    ~TarvodProcess();
    TarvodProcess(const TarvodProcess &) = delete;
    TarvodProcess &operator=(const TarvodProcess &) = delete;

    QString settingsPath() const { return m_folder + QStringLiteral("/Tarvo.conf"); }
    QString stateDir() const { return m_folder + QStringLiteral("/state"); }
    QString controlPath() const { return m_folder + QStringLiteral("/control"); }
    QString logPath() const { return m_folder + QStringLiteral("/log/Tarvo.Log"); }
    QString log() const;
    QProcess &process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }

    // The settings as the per-user store writes them, with the device of
    // COM1; false with the store's reason in error.
    bool writeSettings(Configuration config, const QString &device, QString &error);

    // Starts it under env -i with explicit locations; extra goes into its
    // environment.
    bool start(const QString &stateDir = {}, const QStringList &environment = {});
    qint64 sinceStart() const { return m_clock.elapsed(); }

    // SIGTERM; the milliseconds until it had ended, -1 when it had not
    // after 10 s.
    qint64 terminate();

    // A line of /proc/PID/status in KiB ("VmRSS", "VmHWM"); -1 where there
    // is none.
    qint64 memoryKiB(const char *field) const;

private:
    QString m_folder;
    QProcess m_process;
    QElapsedTimer m_clock;
};

} // namespace Tarvo::Bench
