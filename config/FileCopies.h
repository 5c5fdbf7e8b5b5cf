// Copies that stand in for a file: the backup an upload takes of the copy it
// replaces and puts back after a failure, and a small file replaced as a
// whole and checked.
//
// A copy is the original as it was: its bytes, its modification time, its
// mode, and its owner and group where the system lets Tarvo's user give
// them (on Windows its read-only, hidden, system and archive attributes). It
// is written under a name of its own beside its destination (see
// copyInProgress(), private to its owner until it is complete), synced, and
// renamed over the destination only then, so the destination is never seen
// half-written and a copy cut short by a kill can be recognised and removed.
//
// Putting a backup back is one rename over the file it replaces, which is
// the original written over in place: beforehand the backup is given that
// file's owner, group and mode once more, and what the system refuses (an
// ordinary user cannot give a file away) is said, while content and mode
// come back all the same.
#pragma once

#include <QByteArray>
#include <QString>

namespace Tarvo {

// Copies the regular file from into to (replaced as a whole, never seen
// half-written); false with the system's reason in error, and no copy left.
bool copyRegularFile(const QString &from, const QString &to, QString &error);

// Where copyRegularFile writes the copy for to until it is complete.
QString copyInProgress(const QString &to);

// Moves backup over target (see replaceFile) with the owner, group and mode
// of the file it replaces. notKept: what of those could not be given back,
// and why, as the end of a sentence; empty when all could.
bool putBack(const QString &backup, const QString &target, QString &notKept, QString &error);

// Replaces the file at path with data, checked at each step: written beside
// it, synced, renamed over it, then read back and compared. On failure the
// earlier content is still there unless the read-back found it changed.
bool writeFileChecked(const QString &path, const QByteArray &data, QString &error);

} // namespace Tarvo
