// Which file a path names, and whether it is still the file that was opened.
//
// A path may stop naming the file that was opened: a folder renamed, a file
// put in its place. FileIdentity tells files apart by the system's own
// number for a file (device and inode on POSIX, volume serial and file index
// on Windows), with its size and modification time for the changes an
// in-place write makes. Links in a path are resolved once, so that a file is
// written, backed up and renamed where it really lives.
#pragma once

#include <QFileDevice>
#include <QString>

namespace Tarvo {

// path with its links resolved: the chain of symbolic links its last part
// names is followed and its folder made canonical, so that a file can be
// written, backed up and renamed where it really lives. A link that leads
// nowhere gives the path it leads to. Empty, with error, for a loop.
QString resolveLinks(const QString &path, QString &error);

// Which file a path or an open file is, and in what state.
struct FileIdentity
{
    QString id;          // empty where the system gives files no number
    qint64 size = -1;    // -1: no file there
    qint64 modified = 0; // milliseconds since the epoch

    bool exists() const { return size >= 0; }
    bool sameFile(const FileIdentity &other) const
    {
        return exists() && other.exists() && id == other.id;
    }
};

// The file at path, links followed; not existing when there is none.
FileIdentity identityOf(const QString &path);
// The open file.
FileIdentity identityOf(QFileDevice &file);

// Sets the modification time of an open file (milliseconds since the epoch).
bool setModified(QFileDevice &file, const QString &path, qint64 modified, QString &error);

} // namespace Tarvo
