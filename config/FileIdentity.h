// Which file a path names, whether it still holds what was written, and
// whether two spellings name one file.
//
// A path may stop naming the file that was opened: a folder renamed, a file
// put in its place. FileIdentity tells files apart by the system's own
// number for a file (device and inode on POSIX, volume serial and file index
// on Windows). What a file holds is told by its length and the BLAKE2b
// digest of its bytes, read back through the path, so that a write by
// another program into the same file is seen as well.
//
// Links in a path are resolved once, so that a file is written, backed up
// and renamed where it really lives. A folder may ignore the case of names
// (every folder on Windows; FAT, exFAT, SMB shares and case-folding ext4 on
// Linux): there "ORDERS.BAK" and "orders.bak" are one file. Linux has no
// call that says so, so the folder is asked: does another spelling of a name
// in it lead to the same file?
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
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
// The name itself: a link is not followed.
FileIdentity entryIdentity(const QString &path);

// What a file holds: its length and the BLAKE2b digest of its bytes, and
// which file was read.
struct FileContent
{
    qint64 length = -1;
    QByteArray digest;
    FileIdentity identity;

    bool sameBytes(const FileContent &other) const
    {
        return length == other.length && digest == other.digest;
    }
};

// Reads the regular file at path to its end; false with error when it
// cannot be read.
bool readContent(const QString &path, FileContent &content, QString &error);
// How readContent digests, for a digest built up as the bytes are written.
inline constexpr QCryptographicHash::Algorithm DigestAlgorithm = QCryptographicHash::Blake2b_256;

// Whether names in folder may name one file in spellings that differ in
// case: always on Windows; elsewhere, whether the other-case spelling of a
// name in it (sample first) leads to that name's file. A folder with no such
// name to ask (empty, missing) may.
bool foldsCase(const QString &folder, const QString &sample = {});

// a and b name one place: the same path, or one that differs only in case
// in a folder that folds case.
bool samePlace(const QString &a, const QString &b);

} // namespace Tarvo
