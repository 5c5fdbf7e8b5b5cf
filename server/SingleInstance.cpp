#include "SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

namespace Tarvo {

SingleInstance::SingleInstance(const QString &lockPath) : m_lock(lockPath)
{
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::tryAcquire()
{
    return m_lock.isLocked() || m_lock.tryLock(0);
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
