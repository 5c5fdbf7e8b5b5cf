// One running Tarvo per user and settings.
//
// The lock lives with the user's settings, not with the log-in session: a
// second start of the same user from another session (ssh, su, a service
// manager, another XDG_RUNTIME_DIR; on Windows another log-in session of the
// same user) shares the settings and the upload journal with the first, so
// it must not run beside it. On Windows the lock is a named mutex in the
// global namespace, whose name is derived from the lock path; the system
// drops it with the last handle, so a crashed instance never blocks the next
// start, however process ids are reused. Elsewhere it is a lock file beside
// the settings file: a lock left behind by a crashed instance does not count,
// because QLockFile checks whether its holder's process still exists (stale
// time 0).
//
// Only a lock held by a live instance means "already running"; a lock that
// cannot be made at all (an unwritable or missing folder) is a failure with
// the system's reason, so that the program can say why it will not start.
//
// The lock is held for the life of the object.
#pragma once

#include <QString>
#include <memory>

namespace Tarvo {

class SingleInstance
{
public:
    enum class Acquire { Acquired, AlreadyRunning, Failed };

    explicit SingleInstance(const QString &lockPath = defaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Acquired when this process is now the one instance; never waits.
    Acquire tryAcquire();
    bool isHeld() const;
    // Why, when tryAcquire() failed.
    QString errorString() const;

    static QString defaultLockPath();

private:
    struct Lock;
    std::unique_ptr<Lock> m_lock;
};

} // namespace Tarvo
