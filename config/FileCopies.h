// Copies that stand in for a file: the backup an upload takes of the copy it
// replaces, and a small file replaced as a whole and checked.
//
// A copy is written beside its destination and renamed over it only once it
// is complete, so the destination is never seen half-written. The copy takes
// the original's modification time, so that a copy put back leaves the file
// as it was.
#pragma once

#include <QByteArray>
#include <QString>

namespace Tarvo {

// Copies the regular file from into to (replaced as a whole, never seen
// half-written); false with the system's reason in error.
bool copyRegularFile(const QString &from, const QString &to, QString &error);

// Replaces the file at path with data, checked at each step: written beside
// it, synced, renamed over it, then read back and compared. On failure the
// earlier content is still there unless the read-back found it changed.
bool writeFileChecked(const QString &path, const QByteArray &data, QString &error);

} // namespace Tarvo
