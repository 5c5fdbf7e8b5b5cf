#include "FileCopies.h"

#include "FileAccess.h"

#include <QFileInfo>
#include <QStringList>
#include <cerrno>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tarvo {

namespace {

bool failed(QString &error)
{
    error = systemErrorText(errno);
    return false;
}

bool fill(QFile &source, const QString &from, QFile &copy, const QString &to, QString &error)
{
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 got = readSome(source, from, block.data(), block.size(), error);
        if (got <= 0)
            return got == 0;
        error = writeAll(copy, to, block.constData(), got);
        if (!error.isEmpty())
            return false;
    }
}

#ifdef Q_OS_UNIX
// Where the system lets this user give them: each on its own, since an
// ordinary user may still give a group it belongs to.
int giveOwner(const QByteArray &path, uid_t uid, gid_t gid)
{
    return ::chown(path.constData(), uid, gid) == 0 ? 0 : errno;
}
#endif

// The copy takes the original's modification time, to the system's own
// precision, then its owner and group where allowed, then its mode (a
// change of owner clears the set-id bits).
bool keepMetadata(QFile &original, QFile &copy, const QString &path, QString &error)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (injectedFault(FileOp::Attributes, path) || ::fstat(original.handle(), &st) != 0)
        return failed(error);
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (::futimens(copy.handle(), times) != 0)
        return failed(error);
    const QByteArray name = QFile::encodeName(systemPath(path));
    giveOwner(name, st.st_uid, gid_t(-1));
    giveOwner(name, uid_t(-1), st.st_gid);
    return ::fchmod(copy.handle(), st.st_mode & 07777) == 0 || failed(error);
#else
    if (injectedFault(FileOp::Attributes, path))
        return failed(error);
    if (copy.setFileTime(original.fileTime(QFileDevice::FileModificationTime),
                         QFileDevice::FileModificationTime))
        return true;
    error = copy.errorString();
    return false;
#endif
}

// Windows keeps what Explorer shows as a file's attributes apart from its
// content; a closed copy takes those of the original.
bool keepAttributes(const QString &original, const QString &copy, QString &error)
{
#ifdef Q_OS_WIN
    constexpr DWORD Kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE;
    const DWORD attributes = GetFileAttributesW(systemPath(original).toStdWString().c_str());
    if (injectedFault(FileOp::Attributes, copy))
        return failed(error);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        SetFileAttributesW(systemPath(copy).toStdWString().c_str(),
                           (attributes & Kept) ? attributes & Kept : FILE_ATTRIBUTE_NORMAL))
        return true;
    error = qt_error_string(int(GetLastError()));
    return false;
#else
    Q_UNUSED(original);
    Q_UNUSED(copy);
    Q_UNUSED(error);
    return true;
#endif
}

} // namespace

QString copyInProgress(const QString &to)
{
    return to + QStringLiteral(".tarvo-copy");
}

bool copyRegularFile(const QString &from, const QString &to, QString &error)
{
    QFile source(from);
    if (!openRegularFile(source, QIODevice::ReadOnly, error))
        return false;
    const QString partial = copyInProgress(to);
    QFile copy(partial);
    if (!openRegularFile(copy, QIODevice::WriteOnly | QIODevice::Truncate, error))
        return false;
#ifdef Q_OS_UNIX
    ::fchmod(copy.handle(), 0600); // the original may be private: its copy is so until complete
#endif
    // On the disk before the original is cut: the backup is all that is left then.
    bool done = fill(source, from, copy, partial, error) &&
                keepMetadata(source, copy, partial, error) && syncFile(copy, partial, error);
    if (QString closing; !closeFile(copy, partial, closing) && done) {
        error = closing;
        done = false;
    }
    if (done && keepAttributes(from, partial, error) && replaceFile(partial, to, error))
        return true;
    QString ignored;
    removeFile(partial, ignored);
    return false;
}

bool putBack(const QString &backup, const QString &target, QString &notKept, QString &error)
{
#ifdef Q_OS_UNIX
    struct stat was = {}, copy = {};
    const QByteArray name = QFile::encodeName(systemPath(backup));
    if (::stat(QFile::encodeName(systemPath(target)).constData(), &was) == 0 &&
        ::stat(name.constData(), &copy) == 0) {
        QStringList refused;
        int why = 0;
        const auto refuse = [&refused, &why](int code, const QString &what) {
            if (code)
                refused += what;
            why = code ? code : why;
        };
        const int injected = injectedFault(FileOp::Attributes, backup) ? errno : 0;
        const auto tried = [injected](const auto &step) { return injected ? injected : step(); };
        if (copy.st_uid != was.st_uid)
            refuse(tried([&] { return giveOwner(name, was.st_uid, gid_t(-1)); }),
                   QStringLiteral("owner %1").arg(was.st_uid));
        if (copy.st_gid != was.st_gid)
            refuse(tried([&] { return giveOwner(name, uid_t(-1), was.st_gid); }),
                   QStringLiteral("group %1").arg(was.st_gid));
        const mode_t mode = was.st_mode & 07777;
        if ((copy.st_mode & 07777) != mode)
            refuse(tried([&] { return ::chmod(name.constData(), mode) == 0 ? 0 : errno; }),
                   QStringLiteral("mode %1").arg(mode, 4, 8, QLatin1Char('0')));
        if (!refused.isEmpty())
            notKept = QStringLiteral("its %1 could not be given back (%2)")
                          .arg(refused.join(QStringLiteral(" and ")), systemErrorText(why));
    }
#else
    Q_UNUSED(notKept);
#endif
    return replaceFile(backup, target, error);
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

} // namespace Tarvo
