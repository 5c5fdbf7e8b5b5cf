// The character set of the line to the portable: one byte per character, in
// the host's single-byte set (Latin-1; on Windows the system's ANSI code
// page when that is a single-byte one, Latin-1 otherwise).
//
// Names typed by the user travel in that set both inside the packets' text
// messages and in the frames that announce a file, so both are built here
// and agree byte for byte. Those texts travel unescaped, so a name must not
// hold a byte the frame gives a meaning of its own: 193 (0xC1, "Á" in
// Latin-1 and code page 1252), the end byte of every host frame, and the
// control characters 0 to 31 (among them STX, ESC, ETX and the line ends).
// A name with a character outside the set or with such a byte cannot be
// carried at all: the entry dialogs refuse it, and so does a transfer for a
// name that was written into the settings by hand. Upper-casing goes one
// character at a time and keeps a character whose upper case is not a
// single character the line carries ("ß" stays "ß", and "á" stays "á", as
// "Á" would end the frame), so a name keeps its length.
#pragma once

#include <QByteArray>
#include <QString>

namespace Tarvo::LineCharset {

// One byte per character; a character outside the set becomes "?".
QByteArray encode(const QString &text);
// Every character of text has its own byte in the set, and a frame's text
// can hold it.
bool canCarry(const QString &text);
// Why text cannot travel, as the end of a sentence naming the characters,
// each once ("Latin-1 has no Ω", "the line's frames cannot carry Á (byte
// 193)"); empty when it can.
QString refusal(const QString &text);
// Upper case, character by character, without leaving the set.
QString toUpper(const QString &text);
// The set's name, for messages.
QString name();

} // namespace Tarvo::LineCharset
