#include "PathHelpers.h"

#include "Configuration.h"
#include "HostFiles.h"
#include "Prompter.h"

#include <QFile>

namespace Tarvo {

namespace {
// The part after the last separator: the whole path when there is none.
QString namePart(const QString &path, QChar separator)
{
    const qsizetype last = path.lastIndexOf(separator);
    return last < 0 ? path : path.mid(last + 1);
}
} // namespace

QString GetDirectory(const QString &path, QChar separator)
{
    const qsizetype last = path.lastIndexOf(separator);
    return last < 0 ? QString() : path.left(last);
}

QString GetFileName(const QString &path, bool withExtension, QChar separator)
{
    const QString name = namePart(path, separator);
    if (withExtension)
        return name;
    // Cut at the first dot, not the last: report.old.txt is "report".
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString GetExtension(const QString &path, QChar separator)
{
    // Only the name part counts, so a dot in a folder name is no extension.
    const QString name = namePart(path, separator);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString backupPath(const QString &saveAs)
{
    const QString path = QDir::toNativeSeparators(saveAs);
    const QChar separator = nativeSeparator();
    const QString name = GetFileName(path, false) + QStringLiteral(".BAK");
    // A bare file name keeps its backup beside it, in the same folder.
    const QString backup = path.contains(separator) ? GetDirectory(path) + separator + name : name;
    // A file whose own name is the backup's (ORDERS.BAK, or orders.bak in a
    // folder that ignores case) would be deleted to make room for its own
    // copy; its backup takes a longer name.
    const bool own = backup == path || (backup.compare(path, Qt::CaseInsensitive) == 0 &&
                                        foldsCase(GetDirectory(path), GetFileName(path, true)));
    return own ? path + QStringLiteral(".BAK") : backup;
}

QStringList backupCollisions(const Configuration &config)
{
    // File names compare as their folder does (samePlace).
    QStringList found;
    for (int i = 0; i < config.UploadCount; ++i) {
        const QString &a = config.UploadList[i].SaveAs;
        for (int j = 0; j < config.UploadCount; ++j) {
            const QString &b = config.UploadList[j].SaveAs;
            if (i == j || a.isEmpty() || b.isEmpty() || samePlace(a, b))
                continue;
            if (i < j && samePlace(backupPath(a), backupPath(b)))
                found += QStringLiteral("%1 and %2 both keep their backup in %3: an upload to "
                                        "one destroys the other's backup.")
                             .arg(a, b, backupPath(a));
            else if (samePlace(a, backupPath(b)))
                found += QStringLiteral("%1 is where the upload to %2 keeps its backup: each "
                                        "upload to %2 overwrites it.")
                             .arg(a, b);
        }
    }
    return found;
}

bool CanOpenFile(const QString &path, Prompter &prompter)
{
    if (path.isEmpty()) {
        // QFile would only print a warning for an empty name; the user needs
        // the same kind of description as for any other failed open.
        prompter.warn(QFile::tr("No file name specified"));
        return false;
    }
    QFile file(path);
    QString error;
    if (!openRegularFile(file, QIODevice::ReadOnly, error)) {
        // The system's description as it stands; a pipe or device is named.
        const bool notAFile = !notRegularReason(path).isEmpty();
        prompter.warn(notAFile ? path + QStringLiteral(": ") + error : error);
        return false;
    }
    return true;
}

} // namespace Tarvo
