#include "PathHelpers.h"

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
    file.close();
    return true;
}

} // namespace Tarvo
