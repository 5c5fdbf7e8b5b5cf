#include "FileIdentity.h"

#include "FileAccess.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
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

FileIdentity identityAt(const QString &path, bool followLinks)
{
    struct stat st = {};
    const QByteArray name = QFile::encodeName(systemPath(path));
    if ((followLinks ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        return {};
    return identityFrom(st);
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

FileIdentity identityAt(const QString &path, bool followLinks)
{
    const std::wstring name = systemPath(path).toStdWString();
    // No access asked for: this only reads the file's record.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : DWORD(FILE_FLAG_OPEN_REPARSE_POINT));
    const HANDLE handle =
        CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    const FileIdentity identity = identityFrom(handle);
    CloseHandle(handle);
    return identity;
}
#endif

// The same name with every letter in the other case; the name itself when
// it has no letter with two cases.
QString otherCase(const QString &name)
{
    QString other = name;
    for (QChar &c : other)
        c = c.isUpper() ? c.toLower() : c.toUpper();
    return other;
}

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
    return identityAt(path, true);
}

FileIdentity entryIdentity(const QString &path)
{
    return identityAt(path, false);
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

bool readContent(const QString &path, FileContent &content, QString &error)
{
    QFile file(path);
    if (!openRegularFile(file, QIODevice::ReadOnly, error))
        return false;
    content.identity = identityOf(file);
    QCryptographicHash digest(DigestAlgorithm);
    QByteArray block(64 * 1024, Qt::Uninitialized);
    qint64 length = 0;
    for (qint64 got; (got = readSome(file, path, block.data(), block.size(), error)) != 0;) {
        if (got < 0)
            return false;
        digest.addData(QByteArrayView(block.constData(), got));
        length += got;
    }
    content.length = length;
    content.digest = digest.result();
    return true;
}

bool foldsCase(const QString &folder, const QString &sample)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    Q_UNUSED(sample);
    return true;
#else
    const QDir dir(folder);
    bool folds = true;
    // Asked of one name with a letter in it that is there; false when this one cannot tell.
    const auto asked = [&dir, &folds](const QString &name) {
        const QString other = otherCase(name);
        const FileIdentity one = entryIdentity(dir.filePath(name));
        if (other == name || !one.exists())
            return false;
        folds = entryIdentity(dir.filePath(other)).sameFile(one);
        return true;
    };
    if (!sample.isEmpty() && asked(sample))
        return folds;
    QDirIterator names(folder,
                       QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (names.hasNext())
        if (asked(QFileInfo(names.next()).fileName()))
            break;
    return folds;
#endif
}

bool samePlace(const QString &a, const QString &b)
{
    const QString one = QDir::cleanPath(QDir::fromNativeSeparators(a));
    const QString two = QDir::cleanPath(QDir::fromNativeSeparators(b));
    if (one == two)
        return true;
    if (one.compare(two, Qt::CaseInsensitive) != 0)
        return false;
    const QFileInfo place(one);
    return foldsCase(place.absolutePath(), place.fileName());
}

} // namespace Tarvo
