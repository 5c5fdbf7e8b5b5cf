#include "FileAccess.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tarvo {

namespace {

FaultHook &faultHook()
{
    static FaultHook hook;
    return hook;
}

PaceHook &paceHook()
{
    static PaceHook hook;
    return hook;
}

qint64 paced(const QString &path, qint64 got)
{
    if (got > 0 && paceHook())
        paceHook()(path, got);
    return got;
}

NameHook &nameHook()
{
    static NameHook hook;
    return hook;
}

#ifdef Q_OS_UNIX
QByteArray encoded(const QString &path)
{
    return QFile::encodeName(systemPath(path));
}
#else
std::wstring wide(const QString &path)
{
    return systemPath(path).toStdWString();
}
#endif

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
#endif

#ifdef Q_OS_WIN
HANDLE osHandle(QFileDevice &file)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
}
#endif

} // namespace

void setFaultHook(FaultHook hook)
{
    faultHook() = std::move(hook);
}

void setPaceHook(PaceHook hook)
{
    paceHook() = std::move(hook);
}

void setNameHook(NameHook hook)
{
    nameHook() = std::move(hook);
}

QString systemPath(const QString &path)
{
    const NameHook &hook = nameHook();
    const QString named = hook ? hook(path) : path;
#ifdef Q_OS_WIN
    return longPathForm(QDir::toNativeSeparators(QFileInfo(named).absoluteFilePath()));
#else
    return named;
#endif
}

QString longPathForm(const QString &path)
{
    QString native = path;
    native.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\")))
        return native;
    const bool unc = native.startsWith(QLatin1String("\\\\"));
    const bool drive = native.size() >= 3 && native[0].isLetter() &&
                       native[1] == QLatin1Char(':') && native[2] == QLatin1Char('\\');
    if (!unc && !drive)
        return native; // relative: the system resolves it against the current folder
    // A share's server and share name, like a drive's root, are never left by "..".
    const int kept = unc ? 2 : 0;
    QStringList names;
    for (const QString &name :
         native.mid(unc ? 2 : 3).split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        if (name != QLatin1String("..") && name != QLatin1String("."))
            names += name;
        else if (name == QLatin1String("..") && names.size() > kept)
            names.removeLast();
    }
    const QString root = unc ? QStringLiteral("UNC\\") : native.left(3);
    return QStringLiteral("\\\\?\\") + root + names.join(QLatin1Char('\\'));
}

bool injectedFault(FileOp op, const QString &path)
{
    const FaultHook &hook = faultHook();
    const int code = hook ? hook(op, path) : 0;
    if (code)
        errno = code;
    return code;
}

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString notRegularReason(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(encoded(path).constData(), &st) != 0)
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
    const int fd = injectedFault(op, path) ? -1 : ::open(encoded(path).constData(), flags, 0666);
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
    if (injectedFault(writes ? FileOp::OpenWrite : FileOp::OpenRead, path)) {
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
        const ssize_t got = injectedFault(FileOp::Read, path)
                                ? -1
                                : ::read(file.handle(), data, std::size_t(count));
        if (got >= 0)
            return paced(path, qint64(got));
        if (errno != EINTR) {
            error = systemErrorText(errno);
            return -1;
        }
    }
#else
    if (injectedFault(FileOp::Read, path)) {
        error = systemErrorText(errno);
        return -1;
    }
    const qint64 got = file.read(data, count);
    if (got < 0)
        error = file.errorString();
    return paced(path, got);
#endif
}

#ifdef Q_OS_UNIX
// Writes all count bytes through write, one call of write(2)'s kind: again
// after a signal, and on from where a short write stopped.
template <typename Write>
QString writeLoop(const QString &path, const char *data, qint64 count, Write write)
{
    while (count > 0) {
        const ssize_t done =
            injectedFault(FileOp::Write, path) ? -1 : write(data, std::size_t(count));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return systemErrorText(done < 0 ? errno : EIO);
        data += done;
        count -= done;
    }
    return {};
}
#endif

QString writeAll(QFileDevice &file, const QString &path, const char *data, qint64 count)
{
#ifdef Q_OS_UNIX
    const int fd = file.handle();
    return writeLoop(path, data, count,
                     [fd](const char *bytes, std::size_t n) { return ::write(fd, bytes, n); });
#else
    if (injectedFault(FileOp::Write, path))
        return systemErrorText(errno);
    if (file.write(data, count) == count && file.flush())
        return {};
    return file.errorString();
#endif
}

QString writeAt(QFileDevice &file, const QString &path, qint64 offset, const char *data,
                qint64 count)
{
#ifdef Q_OS_UNIX
    const int fd = file.handle();
    return writeLoop(path, data, count, [fd, &offset](const char *bytes, std::size_t n) {
        const ssize_t done = ::pwrite(fd, bytes, n, off_t(offset));
        offset += done > 0 ? done : 0;
        return done;
    });
#else
    if (!file.seek(offset))
        return file.errorString();
    return writeAll(file, path, data, count);
#endif
}

bool syncFile(QFileDevice &file, const QString &path, QString &error)
{
#ifdef Q_OS_UNIX
    if (!injectedFault(FileOp::Sync, path) && ::fsync(file.handle()) == 0)
        return true;
    error = systemErrorText(errno);
#else
    if (injectedFault(FileOp::Sync, path))
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
    const int injected = injectedFault(FileOp::Close, path) ? errno : 0;
    file.close();
    if (!injected && file.error() == QFileDevice::NoError)
        return true;
    error = injected ? systemErrorText(injected) : file.errorString();
    return false;
}

void syncFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
#else
    Q_UNUSED(folder); // MoveFileEx writes through
#endif
}

bool replaceFile(const QString &from, const QString &to, QString &error)
{
    // QFile::rename refuses an existing target; these replace it in one step.
#ifdef Q_OS_WIN
    if (injectedFault(FileOp::Rename, to)) {
        error = systemErrorText(errno);
        return false;
    }
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = qt_error_string(int(GetLastError()));
    return false;
#else
    if (!injectedFault(FileOp::Rename, to) &&
        ::rename(encoded(from).constData(), encoded(to).constData()) == 0)
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
    if ((!injectedFault(FileOp::Remove, path) && ::unlink(encoded(path).constData()) == 0) ||
        errno == ENOENT)
        return true;
    error = systemErrorText(errno);
    return false;
#else
    if (injectedFault(FileOp::Remove, path)) {
        error = systemErrorText(errno);
        return false;
    }
    const std::wstring name = wide(path);
    if (DeleteFileW(name.c_str()))
        return true;
    DWORD code = GetLastError();
    // Only Tarvo's own files are removed: a backup that took the original's
    // read-only attribute goes as well.
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(name.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        if (DeleteFileW(name.c_str()))
            return true;
        code = GetLastError();
    }
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
        return true;
    error = qt_error_string(int(code));
    return false;
#endif
}

} // namespace Tarvo
