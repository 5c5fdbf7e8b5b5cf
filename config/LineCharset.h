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
//
// A name must also fit the portable's frame and be read back as itself.
// The portable takes a host frame of at most 256 characters, six of them
// the frame's own (STX, ESC, the type, two checksum characters, the end
// byte). The longest texts a name travels in are the upload's request,
// name "[" offset "]" with a 32-bit offset of up to ten digits, and the
// message "RECEIVING " name CR LF: twelve characters beside the name in
// each. And the portable reads digits in brackets at the end of an
// announce as the offset to restart at, even in the announce made at 0, so
// a name must not end that way ("ORDERS[12]"). nameRefusal() says both, and
// every place that takes a name asks it: the entry dialogs, the settings
// as they are read and accepted, and the transfer itself.
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
// The frame's size, the frame's own characters, and the most any text adds
// to a name it carries: the one place the longest name is worked out.
inline constexpr int FrameSize = 256;
inline constexpr int FrameOverhead = 6;
inline constexpr int LongestAroundName = 12;
inline constexpr int MaxNameLength = FrameSize - FrameOverhead - LongestAroundName;

// Why name cannot be a name on the portable, as the end of a sentence: the
// characters refusal() names, a length beyond MaxNameLength, an end the
// announce would read as an offset; empty when it can.
QString nameRefusal(const QString &name);

// Upper case, character by character, without leaving the set.
QString toUpper(const QString &text);
// The set's name, for messages.
QString name();

} // namespace Tarvo::LineCharset
