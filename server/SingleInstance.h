// One running Tarvo per user: a lock file in the user's runtime folder.
//
// The lock is held for the life of the object. A lock left behind by a
// crashed instance does not count: QLockFile checks whether its holder's
// process still exists (stale time 0), so the next start takes it over.
#pragma once

#include <QLockFile>
#include <QString>

namespace Tarvo {

class SingleInstance
{
public:
    explicit SingleInstance(const QString &lockPath = defaultLockPath());

    // True when this process is now the one instance; never waits.
    bool tryAcquire();
    bool isHeld() const { return m_lock.isLocked(); }

    static QString defaultLockPath();

private:
    QLockFile m_lock;
};

} // namespace Tarvo
