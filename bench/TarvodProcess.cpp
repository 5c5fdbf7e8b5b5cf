#include "TarvodProcess.h"

#include "SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace Tarvo::Bench {

TarvodProcess::TarvodProcess(const QString &folder) : m_folder(folder)
{
    QDir().mkpath(folder);
}

TarvodProcess::~TarvodProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString TarvodProcess::log() const
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

bool TarvodProcess::writeSettings(Configuration config, const QString &device, QString &error)
{
    config.ModemPort = 1;
    config.deriveCounts();
    QFile::remove(settingsPath());
    SettingsStore store(settingsPath());
    if (!store.SaveSettings(config, error))
        return false;
    QFile file(settingsPath());
    if (!file.open(QIODevice::Append)) {
        error = file.errorString();
        return false;
    }
    file.write("\n[Ports]\nCOM1=" + device.toUtf8() + "\n");
    return true;
}

bool TarvodProcess::start(const QString &stateDir, const QStringList &environment)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral("env"),
                    QStringList{QStringLiteral("-i")} + environment +
                        QStringList{QStringLiteral(TARVOD_PATH), QStringLiteral("--settings"),
                                    settingsPath(), QStringLiteral("--state-dir"),
                                    stateDir.isEmpty() ? this->stateDir() : stateDir,
                                    QStringLiteral("--log-dir"), m_folder + QStringLiteral("/log"),
                                    QStringLiteral("--control"), controlPath()});
    m_clock.start();
    return m_process.waitForStarted(5000);
}

qint64 TarvodProcess::terminate()
{
    QElapsedTimer clock;
    clock.start();
#ifdef Q_OS_UNIX
    ::kill(pid_t(m_process.processId()), SIGTERM);
#else
    m_process.terminate();
#endif
    return m_process.waitForFinished(10000) ? clock.elapsed() : -1;
}

qint64 TarvodProcess::memoryKiB(const char *field) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace Tarvo::Bench
