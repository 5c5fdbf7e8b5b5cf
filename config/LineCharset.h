// The character set of the line to the portable: one byte per character, in
// the host's single-byte set (Latin-1; on Windows the system's ANSI code
// page when that is a single-byte one, Latin-1 otherwise).
//
// Names typed by the user travel in that set both inside the packets' text
// messages and in the frames that announce a file, so both are built here
// and agree byte for byte. A name with a character outside the set cannot
// be carried at all: the entry dialogs refuse it, and so does a transfer
// for a name that was written into the settings by hand. Upper-casing goes one
// character at a time and keeps a character whose upper case is not a
// single character of the set ("ß" stays "ß"), so a name keeps its length.
#pragma once

#include <QByteArray>
#include <QString>

namespace Tarvo::LineCharset {

// One byte per character; a character outside the set becomes "?".
QByteArray encode(const QString &text);
// Every character of text has its own byte in the set.
bool canCarry(const QString &text);
// The characters of text the set has no byte for, each once, in order.
QString uncarried(const QString &text);
// Upper case, character by character, without leaving the set.
QString toUpper(const QString &text);
// The set's name, for messages.
QString name();

} // namespace Tarvo::LineCharset
