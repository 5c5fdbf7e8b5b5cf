#include "FileCopies.h"

#include "FileAccess.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace Tarvo {

namespace {
// The copy takes the original's modification time, to the system's own
// precision, so that a copy put back leaves the file as it was.
bool keepModified(QFileDevice &original, QFileDevice &copy, const QString &path, QString &error)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (!injectedFault(FileOp::Stamp, path) && ::fstat(original.handle(), &st) == 0) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        if (::futimens(copy.handle(), times) == 0)
            return true;
    }
    error = systemErrorText(errno);
    return false;
#else
    if (injectedFault(FileOp::Stamp, path)) {
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

} // namespace Tarvo
