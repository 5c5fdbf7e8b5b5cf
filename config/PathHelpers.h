// Taking host paths apart, and testing that a host file can be read.
//
// The separator is the platform's ("/" here, "\" on Windows); tests may pass
// another. Every search is for one character, case-sensitive:
//   GetDirectory  - the text before the last separator ("" when none)
//   GetFileName   - the text after it (the whole path when none), cut before
//                   its first "." when withExtension is false
//   GetExtension  - what follows the first "." of the file name part
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

namespace Tarvo {

class Prompter;
struct Configuration;

inline QChar nativeSeparator()
{
    return QDir::separator();
}

QString GetDirectory(const QString &path, QChar separator = nativeSeparator());
QString GetFileName(const QString &path, bool withExtension, QChar separator = nativeSeparator());
QString GetExtension(const QString &path, QChar separator = nativeSeparator());

// Where an upload keeps the copy it replaces: folder + name before its
// first "." + ".BAK" (a file already named so, in any case where its folder
// ignores case, gets ".BAK" added).
QString backupPath(const QString &saveAs);

// One sentence for each pair of upload entries in use whose files would
// destroy each other's backup: two targets with one backup (A.TXT and
// A.DAT), or a target that is another entry's backup; names compare as
// their folders compare them (a.txt and A.DAT where case is ignored).
QStringList backupCollisions(const Configuration &config);

// Opens the file for reading and closes it again. On failure shows the
// platform's description in an exclamation box and returns false. Only a
// regular file passes: a pipe or device is refused without opening it.
bool CanOpenFile(const QString &path, Prompter &prompter);

} // namespace Tarvo
