// One running Tarvo per user: a lock file in the user's runtime folder.
//
// The lock is held for the life of the object. A lock left behind by a
// crashed instance does not count: QLockFile checks whether its holder's
// process still exists (stale time 0), so the next start takes it over.
// Only a lock held by a live instance means "already running"; a lock that
// cannot be made at all (an unwritable or missing folder) is a failure with
// the system's reason, so that the program can say why it will not start.
#pragma once

#include <QLockFile>
#include <QString>

namespace Tarvo {

class SingleInstance
{
public:
    enum class Acquire { Acquired, AlreadyRunning, Failed };

    explicit SingleInstance(const QString &lockPath = defaultLockPath());

    Acquire tryAcquire();        // never waits
    QString errorString() const; // why, when Failed
    bool isHeld() const { return m_lock.isLocked(); }

    static QString defaultLockPath();

private:
    QString m_path;
    QLockFile m_lock;
    QString m_error;
};

} // namespace Tarvo
