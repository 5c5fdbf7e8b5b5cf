#include "FileIdentity.h"

#include "FileAccess.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace Tarvo {

namespace {

// As many as the system itself follows before it gives up (ELOOP).
constexpr int MaxLinks = 40;

#ifdef Q_OS_UNIX
FileIdentity identityFrom(const struct stat &st)
{
    FileIdentity identity;
    identity.id = QString::number(st.st_dev) + QLatin1Char(':') + QString::number(st.st_ino);
    identity.size = qint64(st.st_size);
    identity.modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return identity;
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
#endif

} // namespace

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
    if (!injectedFault(FileOp::Stamp, path) && ::futimens(file.handle(), times) == 0)
        return true;
    error = systemErrorText(errno);
    return false;
#else
    if (injectedFault(FileOp::Stamp, path)) {
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

} // namespace Tarvo
