// One running Tarvo per user and settings.
//
// The lock lives with the user's settings, not with the log-in session: a
// second start of the same user from another session (ssh, su, a service
// manager, another XDG_RUNTIME_DIR) shares the settings and the upload
// journal with the first, so it must not run beside it. Elsewhere than on
// Windows it is a lock file beside the settings file: a lock left behind by
// a crashed instance does not count, because QLockFile checks whether its
// holder's process still exists (stale time 0).
//
// On Windows the lock is a named mutex in the log-in session's namespace:
// the program's own is "Local\Tarvo" (sessionObjectName()), a name the
// installer and uninstaller open to see that Tarvo runs in their session; a
// lock at any other path (the tests' own) gets a name derived from the path.
// The system drops the mutex with the last handle, so a crashed instance
// never blocks the next start, however process ids are reused. A second
// log-in session of the same user is kept out by the upload journal's lock
// in the per-user data folder, which every session shares.
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

    // The program's own lock.
    SingleInstance();
    explicit SingleInstance(const QString &lockPath);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Acquired when this process is now the one instance; never waits.
    Acquire tryAcquire();
    bool isHeld() const;
    // Why, when tryAcquire() failed.
    QString errorString() const;

    static QString defaultLockPath();
    // The name of the program's own mutex on Windows.
    static QString sessionObjectName();

private:
    SingleInstance(const QString &lockPath, const QString &objectName);

    struct Lock;
    std::unique_ptr<Lock> m_lock;
};

} // namespace Tarvo
