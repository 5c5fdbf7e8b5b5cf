// Opening, reading, writing, renaming and removing host files without ever
// hanging on one, and with the system's own words when a step fails.
//
// A path the user configured may name something that is not a file at all:
// a named pipe, a socket, a device. Opening those for reading or writing can
// block for as long as nobody is at the other end, which would freeze the
// whole server. So only regular files are opened, and on POSIX the open
// itself does not block (O_NONBLOCK, cleared afterwards): a pipe swapped in
// between the check and the open is caught by fstat() on what was opened.
//
// Error texts are the system's own words for the operation that failed,
// taken at the moment it failed (errno), never a text left from an earlier
// call. Every open, read, write, sync, close, change of a file's times,
// mode, owner or attributes, removal and rename goes past one fault hook, so
// that tests can make any of them fail as a full disk or a read-only medium
// would; a second hook stands in for a folder that ignores the case of names.
//
// On Windows the calls made here directly (not through Qt, which does the
// same for its own) take paths in the long form ("\\?\C:\..."), so that a
// path longer than 260 characters works wherever the file system takes it.
#pragma once

#include <QFile>
#include <QString>
#include <functional>

namespace Tarvo {

// Opens file (by its fileName()) with mode when it is a regular file or does
// not exist yet (write modes create it unless ExistingOnly; NewOnly insists
// on creating it). A write mode truncates only with Truncate or as plain
// WriteOnly. On failure returns false and fills error with the reason in
// words, the path not included. On POSIX the file is opened by descriptor,
// which leaves file.fileName() empty: use the path.
bool openRegularFile(QFile &file, QIODevice::OpenMode mode, QString &error);

// Why path cannot be opened as a file ("not a regular file (a named pipe)"),
// or an empty string when it is a regular file or absent.
QString notRegularReason(const QString &path);

// Moves from over to in one step, replacing to when it exists: to is the
// old file or the new one at every moment, never missing. False with the
// system's reason in error.
bool replaceFile(const QString &from, const QString &to, QString &error);

// Moves from to the first free name of from + ".1", ".2", ... in the same
// folder and returns that name; empty with the reason in error.
QString moveToFreeName(const QString &from, QString &error);

// Removes the file at path; an absent file counts as removed.
bool removeFile(const QString &path, QString &error);

// Reads up to count bytes of an open file (path for the error text): the
// number read, 0 at the end, -1 with error filled.
qint64 readSome(QFileDevice &file, const QString &path, char *data, qint64 count, QString &error);

// Writes all of data to an open file; empty on success, else the system's
// words for the write that failed (QFile calls a short write on a full disk
// "Unknown error").
QString writeAll(QFileDevice &file, const QString &path, const char *data, qint64 count);

// Writes all of data at offset of an open file, in one call where the
// system allows, without moving the file's own position.
QString writeAt(QFileDevice &file, const QString &path, qint64 offset, const char *data,
                qint64 count);

// Makes what was written to an open file durable on its disk.
bool syncFile(QFileDevice &file, const QString &path, QString &error);

// Closes a file that was written; a close that fails (a network share may
// report a lost write only then) is a failed write.
bool closeFile(QFileDevice &file, const QString &path, QString &error);

// Makes a rename in folder durable; file systems that cannot sync a folder
// order their metadata themselves.
void syncFolder(const QString &folder);

// The system's text for an error number.
QString systemErrorText(int error);

// The fault hook: asked before each of these operations with the path
// concerned; a non-zero error number makes the operation fail with it.
// Attributes: setting a file's times, mode, owner or group (on Windows its
// attributes).
enum class FileOp { OpenRead, OpenWrite, Read, Write, Sync, Close, Attributes, Remove, Rename };
using FaultHook = std::function<int(FileOp op, const QString &path)>;
void setFaultHook(FaultHook hook);

// The fault hook's verdict on one operation: true with errno set to the
// error it injects, so that the failure takes the system call's own path.
bool injectedFault(FileOp op, const QString &path);

// The pace hook: told after each read of readSome() how many bytes it gave,
// with the path; the benchmark slows a folder down with it, as a share
// that reads at a few kilobytes a second would be.
using PaceHook = std::function<void(const QString &path, qint64 bytes)>;
void setPaceHook(PaceHook hook);

// The name hook: gives the name under which the disk finds path, as a folder
// that ignores case does ("A.BAK" for "a.bak" when that exists). Every
// system call made here asks it; Qt's own calls on Windows do not.
using NameHook = std::function<QString(const QString &path)>;
void setNameHook(NameHook hook);

// path as the system calls made here take it: the name hook asked, and on
// Windows made absolute and put into the long form.
QString systemPath(const QString &path);

// The long form of a Windows path: "\\?\" before a drive path, "\\?\UNC\"
// instead of the "\\" of a share; "/" becomes "\" and "." and ".." are
// resolved first, since the long form takes every name literally. A relative
// path, one already in that form and a device ("\\.\COM1") keep their form.
// Pure text on every platform.
QString longPathForm(const QString &path);

} // namespace Tarvo
