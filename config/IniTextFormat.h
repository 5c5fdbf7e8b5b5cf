// The settings file's syntax: INI text that plain QSettings reads the same
// way, and that a person can edit without surprises.
//
// The reader splits lines, finds keys and groups and decodes names exactly
// as Qt 6's own INI reader does (names are UTF-8 with %XX and %UXXXX
// escapes, group names are trimmed, [General] holds the top-level keys and
// [%General] is the group "General"), and decodes a value's escapes as it
// does, inside quotes and out. So every text value a file written by plain
// QSettings holds reads the same here. It differs only where QSettings
// would misread a hand-written text:
// - a value is one text: a "," does not make it a list;
// - a ";" starts a comment only at the start of the value, after a blank or
//   right after a closing quote; inside a word ("a;b") it is part of it;
// - quotes inside an unquoted value are kept, and a quote left open ends
//   with its line instead of running on into the lines after it;
// - an escape QSettings would never write ("\d") keeps its backslash.
// Qt's binary forms (@Variant, @DateTime, @Rect ...) are not texts and are
// read as they stand; @String, @ByteArray, @Invalid and @@ are decoded.
//
// The writer writes a new or changed text exactly as plain QSettings would
// (a lone surrogate, which QSettings loses, as a "\x" escape), so both
// readers read it back the same. An entry that was read and not replaced
// is written back as the line it stood as, with the key's spelling, any
// comment after the value and bytes that are not UTF-8, under its group's
// heading as that stood. Only an entry or heading that would make QSettings
// read on into the next line (an open quote, a final backslash) is written
// afresh. Each entry read also says whether plain QSettings reads the same
// text from it (a "," or a ";" in a word, quotes inside, "\d" make it read
// otherwise), so that the store can write its own values afresh when not. Groups and keys come
// sorted and lines without an entry are not kept: the whole file is rewritten from the values, as
// QSettings does.
#pragma once

#include <QSettings>

namespace Tarvo::IniTextFormat {

// One entry as read.
struct StoredValue
{
    QString text;       // what it reads as
    QString key;        // the whole key it was read under
    QString prefix;     // what its group makes keys start with: "" or the group's name and "/"
    QByteArray line;    // the entry as it stood: key, "=", value, comment
    QByteArray heading; // its group's heading as it stood; empty if none or if it cannot stand
    bool stands = true; // QSettings ends the entry where this reader does
    bool alike = true;  // and reads the same text from it
};

// Registered on first use; file extension "conf" as the native format has.
QSettings::Format format();

bool read(QIODevice &device, QSettings::SettingsMap &map);
bool write(QIODevice &device, const QSettings::SettingsMap &map);

} // namespace Tarvo::IniTextFormat
