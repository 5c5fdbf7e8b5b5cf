// One running Tarvo per user.
//
// On Windows the lock is a named mutex in the log-in session's namespace:
// the program's own is "Local\Tarvo" (sessionObjectName()), a name the
// installer and uninstaller open to see that Tarvo runs; a lock at any other
// path (the tests' own) gets a name derived from the path. The system drops
// the mutex with the last handle, so a crashed instance never blocks the
// next start, however process ids are reused. Elsewhere it is a lock file in
// the user's runtime folder: a lock left behind by a crashed instance does
// not count, because QLockFile checks whether its holder's process still
// exists (stale time 0).
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
