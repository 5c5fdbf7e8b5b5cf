#include "HostFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tarvo {

namespace {

// As many as the system itself follows before it gives up (ELOOP).
constexpr int MaxLinks = 40;

FaultHook &faultHook()
{
    static FaultHook hook;
    return hook;
}

// The fault hook's verdict on one operation: true with errno set to the
// error it injects, so that the failure takes the system call's own path.
bool failing(FileOp op, const QString &path)
{
    const FaultHook &hook = faultHook();
    const int code = hook ? hook(op, path) : 0;
    if (code)
        errno = code;
    return code;
}

#ifdef Q_OS_UNIX
QString kindOf(mode_t mode)
{
    const auto what = [](const char *kind) {
        return QStringLiteral("not a regular file (%1)").arg(QLatin1String(kind));
    };
    if (S_ISDIR(mode))
        return what("a folder");
    if (S_ISFIFO(mode))
        return what("a named pipe");
    if (S_ISSOCK(mode))
        return what("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return what("a device");
    return what("a special file");
}

int openFlags(QIODevice::OpenMode mode)
{
    int flags = O_CLOEXEC | O_NONBLOCK;
    const bool reads = mode & QIODevice::ReadOnly;
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    if (writes && !(mode & QIODevice::ExistingOnly))
        flags |= O_CREAT;
    if (writes && (mode & QIODevice::NewOnly))
        flags |= O_EXCL;
    const bool keeps = mode & (QIODevice::NewOnly | QIODevice::ExistingOnly);
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    else if ((mode & QIODevice::Truncate) || (writes && !reads && !keeps))
        flags |= O_TRUNC;
    return flags;
}

FileIdentity identityFrom(const struct stat &st)
{
    FileIdentity identity;
    identity.id = QString::number(st.st_dev) + QLatin1Char(':') + QString::number(st.st_ino);
    identity.size = qint64(st.st_size);
    identity.modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return identity;
}

// Makes a rename in folder durable; file systems that cannot sync a folder
// order their metadata themselves.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
#endif

#ifdef Q_OS_WIN
HANDLE osHandle(QFileDevice &file)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
}

FileIdentity identityFrom(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    FileIdentity identity;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return identity;
    const auto join = [](DWORD high, DWORD low) { return (quint64(high) << 32) | low; };
    identity.id = QString::number(info.dwVolumeSerialNumber) + QLatin1Char(':') +
                  QString::number(join(info.nFileIndexHigh, info.nFileIndexLow));
    identity.size = qint64(join(info.nFileSizeHigh, info.nFileSizeLow));
    // FILETIME counts 100 ns steps from 1601.
    const quint64 ticks =
        join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    identity.modified = qint64(ticks / 10000) - Q_INT64_C(11644473600000);
    return identity;
}

void syncFolder(const QString &) {} // MoveFileEx writes through
#endif

} // namespace

void setFaultHook(FaultHook hook)
{
    faultHook() = std::move(hook);
}

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString notRegularReason(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {}; // absent: the open says why, or creates it
    return S_ISREG(st.st_mode) ? QString() : kindOf(st.st_mode);
#else
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    return info.isDir() ? QStringLiteral("not a regular file (a folder)")
                        : QStringLiteral("not a regular file");
#endif
}

bool openRegularFile(QFile &file, QIODevice::OpenMode mode, QString &error)
{
    const QString path = file.fileName();
    if (path.isEmpty()) {
        error = QStringLiteral("No file name specified");
        return false;
    }
    error = notRegularReason(path);
    if (!error.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    const int flags = openFlags(mode);
    const FileOp op = (flags & O_ACCMODE) == O_RDONLY ? FileOp::OpenRead : FileOp::OpenWrite;
    const int fd =
        failing(op, path) ? -1 : ::open(QFile::encodeName(path).constData(), flags, 0666);
    if (fd < 0) {
        error = systemErrorText(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISREG(st.st_mode) ? systemErrorText(errno) : kindOf(st.st_mode);
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
#else
    const bool writes = mode & (QIODevice::WriteOnly | QIODevice::Append);
    if (failing(writes ? FileOp::OpenWrite : FileOp::OpenRead, path)) {
        error = systemErrorText(errno);
        return false;
    }
    if (file.open(mode))
        return true;
    error = file.errorString();
    return false;
#endif
}

qint64 readSome(QFileDevice &file, const QString &path, char *data, qint64 count, QString &error)
{
#ifdef Q_OS_UNIX
    for (;;) {
        const ssize_t got =
            failing(FileOp::Read, path) ? -1 : ::read(file.handle(), data, std::size_t(count));
        if (got >= 0)
            return qint64(got);
        if (errno != EINTR) {
            error = systemErrorText(errno);
            return -1;
        }
    }
#else
    if (failing(FileOp::Read, path)) {
        error = systemErrorText(errno);
        return -1;
    }
    const qint64 got = file.read(data, count);
    if (got < 0)
        error = file.errorString();
    return got;
#endif
}

QString writeAll(QFileDevice &file, const QString &path, const char *data, qint64 count)
{
#ifdef Q_OS_UNIX
    const int fd = file.handle();
    while (count > 0) {
        const ssize_t done =
            failing(FileOp::Write, path) ? -1 : ::write(fd, data, std::size_t(count));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return systemErrorText(done < 0 ? errno : EIO);
        data += done;
        count -= done;
    }
    return {};
#else
    if (failing(FileOp::Write, path))
        return systemErrorText(errno);
    if (file.write(data, count) == count && file.flush())
        return {};
    return file.errorString();
#endif
}

bool syncFile(QFileDevice &file, const QString &path, QString &error)
{
#ifdef Q_OS_UNIX
    if (!failing(FileOp::Sync, path) && ::fsync(file.handle()) == 0)
        return true;
    error = systemErrorText(errno);
#else
    if (failing(FileOp::Sync, path))
        error = systemErrorText(errno);
    else if (file.flush() && FlushFileBuffers(osHandle(file)))
        return true;
    else
        error = qt_error_string(int(GetLastError()));
#endif
    return false;
}

bool closeFile(QFileDevice &file, const QString &path, QString &error)
{
    const int injected = failing(FileOp::Close, path) ? errno : 0;
    file.close();
    if (!injected && file.error() == QFileDevice::NoError)
        return true;
    error = injected ? systemErrorText(injected) : file.errorString();
    return false;
}

namespace {
// The copy takes the original's modification time, to the system's own
// precision, so that a copy put back leaves the file as it was.
bool keepModified(QFileDevice &original, QFileDevice &copy, const QString &path, QString &error)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (!failing(FileOp::Stamp, path) && ::fstat(original.handle(), &st) == 0) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        if (::futimens(copy.handle(), times) == 0)
            return true;
    }
    error = systemErrorText(errno);
    return false;
#else
    if (failing(FileOp::Stamp, path)) {
        error = systemErrorText(errno);
        return false;
    }
    if (copy.setFileTime(original.fileTime(QFileDevice::FileModificationTime),
                         QFileDevice::FileModificationTime))
        return true;
    error = copy.errorString();
    return false;
#endif
}
} // namespace

bool copyRegularFile(const QString &from, const QString &to, QString &error)
{
    QFile source(from);
    if (!openRegularFile(source, QIODevice::ReadOnly, error))
        return false;
    QSaveFile target(to); // discarded unless committed
    if (!target.open(QIODevice::WriteOnly)) {
        error = target.errorString();
        return false;
    }
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = readSome(source, from, block.data(), block.size(), error);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        error = writeAll(target, to, block.constData(), got);
        if (!error.isEmpty())
            return false;
    }
    if (!keepModified(source, target, to, error))
        return false;
    if (target.commit())
        return true;
    error = target.errorString();
    return false;
}

bool writeFileChecked(const QString &path, const QByteArray &data, QString &error)
{
    // QSaveFile will not do: a write that fails in its final flush (a full
    // disk) still renames the empty temporary file over the old content.
    const QString fresh = path + QStringLiteral(".new");
    {
        QFile file(fresh);
        if (!openRegularFile(file, QIODevice::WriteOnly | QIODevice::Truncate, error))
            return false;
        error = writeAll(file, fresh, data.constData(), data.size());
        if (error.isEmpty())
            syncFile(file, fresh, error);
        if (QString closing; !closeFile(file, fresh, closing) && error.isEmpty())
            error = closing;
        if (!error.isEmpty() || !replaceFile(fresh, path, error)) {
            QString ignored;
            removeFile(fresh, ignored);
            return false;
        }
    }
    syncFolder(QFileInfo(path).absolutePath());

    QFile check(path);
    if (!openRegularFile(check, QIODevice::ReadOnly, error))
        return false;
    QByteArray back(data.size() + 1, Qt::Uninitialized);
    qint64 total = 0;
    for (qint64 got = 1; got > 0 && total < back.size(); total += got) {
        got = readSome(check, path, back.data() + total, back.size() - total, error);
        if (got < 0)
            return false;
    }
    if (QByteArrayView(back.constData(), total) == data)
        return true;
    error = QStringLiteral("what was read back differs from what was written");
    return false;
}

bool replaceFile(const QString &from, const QString &to, QString &error)
{
    // QFile::rename refuses an existing target; these replace it in one step.
#ifdef Q_OS_WIN
    if (failing(FileOp::Rename, to)) {
        error = systemErrorText(errno);
        return false;
    }
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = qt_error_string(int(GetLastError()));
    return false;
#else
    if (!failing(FileOp::Rename, to) &&
        ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    error = systemErrorText(errno);
    return false;
#endif
}

QString moveToFreeName(const QString &from, QString &error)
{
    for (int n = 1; n < 1000; ++n) {
        const QString name = from + QLatin1Char('.') + QString::number(n);
        const QFileInfo taken(name);
        if (taken.exists() || taken.isSymLink())
            continue;
        return replaceFile(from, name, error) ? name : QString();
    }
    error = QStringLiteral("no free name beside it");
    return {};
}

bool removeFile(const QString &path, QString &error)
{
#ifdef Q_OS_UNIX
    if ((!failing(FileOp::Remove, path) && ::unlink(QFile::encodeName(path).constData()) == 0) ||
        errno == ENOENT)
        return true;
    error = systemErrorText(errno);
    return false;
#else
    if (failing(FileOp::Remove, path)) {
        error = systemErrorText(errno);
        return false;
    }
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    error = file.errorString();
    return false;
#endif
}

QString resolveLinks(const QString &path, QString &error)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; QFileInfo(current).isSymbolicLink(); ++hops) {
        if (hops == MaxLinks) {
            error = QStringLiteral("Too many levels of symbolic links");
            return {};
        }
        current = QFileInfo(current).symLinkTarget();
    }
    const QFileInfo last(current);
    const QString folder = QFileInfo(last.absolutePath()).canonicalFilePath();
    if (!folder.isEmpty())
        current = QDir(folder).filePath(last.fileName());
    return QDir::toNativeSeparators(current);
}

FileIdentity identityOf(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return identityFrom(st);
#else
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    // No access asked for: this only reads the file's record.
    const HANDLE handle =
        CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const FileIdentity identity = identityFrom(handle);
    CloseHandle(handle);
    return identity;
#endif
}

FileIdentity identityOf(QFileDevice &file)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::fstat(file.handle(), &st) != 0)
        return {};
    return identityFrom(st);
#else
    return identityFrom(osHandle(file));
#endif
}

bool setModified(QFileDevice &file, const QString &path, qint64 modified, QString &error)
{
#ifdef Q_OS_UNIX
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {time_t(modified / 1000), long(modified % 1000) * 1000000}};
    if (!failing(FileOp::Stamp, path) && ::futimens(file.handle(), times) == 0)
        return true;
    error = systemErrorText(errno);
    return false;
#else
    if (failing(FileOp::Stamp, path)) {
        error = systemErrorText(errno);
        return false;
    }
    if (file.setFileTime(QDateTime::fromMSecsSinceEpoch(modified, Qt::UTC),
                         QFileDevice::FileModificationTime))
        return true;
    error = file.errorString();
    return false;
#endif
}

// ---- FileLock

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
    const std::wstring name = QDir::toNativeSeparators(m_path).toStdWString();
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
    handle->fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
