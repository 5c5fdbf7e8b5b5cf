// Opening and replacing host files without ever hanging on one.
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
// call.
#pragma once

#include <QFile>
#include <QString>

namespace Tarvo {

// Opens file (by its fileName()) with mode when it is a regular file or does
// not exist yet (write modes create it). On failure returns false and fills
// error with the reason in words, the path not included. On POSIX the file
// is opened by descriptor, which leaves file.fileName() empty: use the path.
bool openRegularFile(QFile &file, QIODevice::OpenMode mode, QString &error);

// Why path cannot be opened as a file ("not a regular file (a named pipe)"),
// or an empty string when it is a regular file or absent.
QString notRegularReason(const QString &path);

// Moves from over to in one step, replacing to when it exists: to is the
// old file or the new one at every moment, never missing. False with the
// system's reason in error.
bool replaceFile(const QString &from, const QString &to, QString &error);

// Undoes an upload into target: its backup renamed back over it, or, when
// there was no earlier copy (backup empty), the partial file removed. False
// with the system's reason in error.
bool putBack(const QString &target, const QString &backup, QString &error);

// Writes all of data to an open file; empty on success, else the system's
// words for the write that failed (QFile calls a short write on a full disk
// "Unknown error").
QString writeAll(QFileDevice &file, const char *data, qint64 count);

// Copies the regular file from into to (replaced as a whole, never seen
// half-written); false with the system's reason in error.
bool copyRegularFile(const QString &from, const QString &to, QString &error);

// The system's text for an error number.
QString systemErrorText(int error);

} // namespace Tarvo
