// One running Tarvo per user and settings.
//
// The lock lives with the user's settings, not with the log-in session: a
// second start of the same user from another session (ssh, su, a service
// manager, another XDG_RUNTIME_DIR) shares the settings and the upload
// journal with the first, so it must not run beside it.
//
// Elsewhere than on Windows it is an flock() on tarvo.lock beside the
// settings file, made if need be and never removed. What the file holds does
// not count, so a lock file left by a crash, or written on another machine
// and restored with a home folder, is free as soon as nobody holds it. A
// settings folder that cannot be written (read-only, immutable, provided by
// an administrator) needs no file: the lock is then taken on tarvo.lock as it
// stands or on the folder itself, since flock() needs no write access. Where
// no such lock can be had (no settings folder can be made, a network file
// system that locks only what it may write), Linux has an abstract local
// socket named after the user and the lock's path, which needs no folder at
// all and goes with the process.
//
// On Windows the lock is a named mutex in the log-in session's namespace:
// the program's own is "Local\Tarvo" (sessionObjectName()), a name the
// installer and uninstaller open to see that Tarvo runs in their session; a
// lock at any other path (the tests' own) gets a name derived from the path.
// A server's lock (Scope::Global) is a mutex in the Global\ namespace
// instead, "Global\Tarvo.server-" and the hash of its path: the Windows
// service runs in a session of its own, and a server started by hand in a
// user's session must see it. The system drops the mutex with the last handle, so a crashed
// instance never blocks the next start, however process ids are reused. A second log-in session of
// the same user is kept out by the upload journal's lock in the per-user data folder, which every
// session shares.
//
// Only a lock held by a live instance means "already running". A lock that
// cannot be made by any of these means is a failure with the system's
// reason, and the program decides: the desktop program starts all the same
// (a second instance would still find the port and the upload journal
// taken) and says it in red at the first activation; so does the headless
// server, once it serves.
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
    // Where the Windows mutex is seen: this log-in session, or every one.
    enum class Scope { Session, Global };

    // The program's own lock.
    SingleInstance();
    explicit SingleInstance(const QString &lockPath, Scope scope = Scope::Session);
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
    // The name of the mutex that stands for the lock at lockPath on Windows.
    static QString objectNameFor(const QString &lockPath, Scope scope);

private:
    SingleInstance(const QString &lockPath, const QString &objectName);

    struct Lock;
    std::unique_ptr<Lock> m_lock;
};

} // namespace Tarvo
