#include "HostFiles.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tarvo {

namespace {

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
    if (writes)
        flags |= O_CREAT;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    else if (writes && !reads && !(mode & QIODevice::ExistingOnly))
        flags |= O_TRUNC;
    return flags;
}
#endif

} // namespace

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
    const int fd = ::open(QFile::encodeName(path).constData(), openFlags(mode), 0666);
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
    if (file.open(mode))
        return true;
    error = file.errorString();
    return false;
#endif
}

QString writeAll(QFileDevice &file, const char *data, qint64 count)
{
#ifdef Q_OS_UNIX
    const int fd = file.handle();
    while (count > 0) {
        const ssize_t done = ::write(fd, data, std::size_t(count));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return systemErrorText(done < 0 ? errno : EIO);
        data += done;
        count -= done;
    }
    return {};
#else
    if (file.write(data, count) == count && file.flush())
        return {};
    return file.errorString();
#endif
}

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
        const qint64 got = source.read(block.data(), block.size());
        if (got < 0) {
            error = source.errorString();
            return false;
        }
        if (got == 0)
            break;
        error = writeAll(target, block.constData(), got);
        if (!error.isEmpty())
            return false;
    }
    if (target.commit())
        return true;
    error = target.errorString();
    return false;
}

bool replaceFile(const QString &from, const QString &to, QString &error)
{
    // QFile::rename refuses an existing target; these replace it in one step.
#ifdef Q_OS_WIN
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = qt_error_string(int(GetLastError()));
    return false;
#else
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    error = systemErrorText(errno);
    return false;
#endif
}

bool putBack(const QString &target, const QString &backup, QString &error)
{
    if (!backup.isEmpty())
        return replaceFile(backup, target, error);
    QFile partial(target);
    if (!partial.exists() || partial.remove())
        return true;
    error = partial.errorString();
    return false;
}

} // namespace Tarvo
