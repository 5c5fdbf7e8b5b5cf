// An exclusive advisory lock on a file, held until the object goes; the
// system releases it when the process ends, however it ends (flock on POSIX,
// LockFileEx on Windows). Trying never waits.
#pragma once

#include <QString>
#include <memory>

namespace Tarvo {

class FileLock
{
public:
    enum class Result { Locked, HeldElsewhere, Failed };

    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Never waits; error says why on Failed.
    Result tryLock(QString &error);
    bool isLocked() const;
    QString path() const { return m_path; }

private:
    struct Handle;
    QString m_path;
    std::unique_ptr<Handle> m_handle;
};

} // namespace Tarvo
