#include "SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace Tarvo {

namespace {

// QLockFile only says "permission" or "unknown"; a file made the same way
// beside the lock gets the system's own words for what is wrong.
QString whyNotWritable(const QString &lockPath)
{
    QTemporaryFile probe(lockPath + QStringLiteral(".XXXXXX"));
    if (probe.open())
        return QStringLiteral("the lock file cannot be created");
    return probe.errorString();
}

} // namespace

SingleInstance::SingleInstance(const QString &lockPath) : m_path(lockPath), m_lock(lockPath)
{
    m_lock.setStaleLockTime(0);
}

SingleInstance::Acquire SingleInstance::tryAcquire()
{
    if (m_lock.isLocked() || m_lock.tryLock(0))
        return Acquire::Acquired;
    if (m_lock.error() == QLockFile::LockFailedError)
        return Acquire::AlreadyRunning;
    m_error = QStringLiteral("Cannot create the lock file %1: %2")
                  .arg(QDir::toNativeSeparators(m_path), whyNotWritable(m_path));
    return Acquire::Failed;
}

QString SingleInstance::errorString() const
{
    return m_error;
}

QString SingleInstance::defaultLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) // still per user, if not cleared at log-off
        folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(folder);
    return QDir(folder).filePath(QStringLiteral("tarvo.lock"));
}

} // namespace Tarvo
