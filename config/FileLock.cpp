#include "FileLock.h"

#include "FileAccess.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace Tarvo {

#ifdef Q_OS_WIN
struct FileLock::Handle
{
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handle()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};
#else
struct FileLock::Handle
{
    int fd = -1;
    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
#endif

FileLock::FileLock(QString path) : m_path(std::move(path)) {}

FileLock::~FileLock() = default;

bool FileLock::isLocked() const
{
    return m_handle != nullptr;
}

FileLock::Result FileLock::tryLock(QString &error)
{
    if (m_handle)
        return Result::Locked;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    auto handle = std::make_unique<Handle>();
#ifdef Q_OS_WIN
    if (injectedFault(FileOp::OpenWrite, m_path)) {
        error = systemErrorText(errno);
        return Result::Failed;
    }
    const std::wstring name = systemPath(m_path).toStdWString();
    handle->file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) {
        error = qt_error_string(int(GetLastError()));
        return Result::Failed;
    }
    OVERLAPPED whole = {};
    if (!LockFileEx(handle->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &whole)) {
        const DWORD code = GetLastError();
        if (code == ERROR_LOCK_VIOLATION)
            return Result::HeldElsewhere;
        error = qt_error_string(int(code));
        return Result::Failed;
    }
#else
    handle->fd = injectedFault(FileOp::OpenWrite, m_path)
                     ? -1
                     : ::open(QFile::encodeName(systemPath(m_path)).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (handle->fd < 0) {
        error = systemErrorText(errno);
        return Result::Failed;
    }
    if (::flock(handle->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return Result::HeldElsewhere;
        error = systemErrorText(errno);
        return Result::Failed;
    }
#endif
    m_handle = std::move(handle);
    return Result::Locked;
}

} // namespace Tarvo
