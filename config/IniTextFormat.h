// The settings file's syntax: INI text that plain QSettings reads and writes
// the same way, but whose unquoted values are taken exactly as they stand.
//
// QSettings' own INI reader treats an unquoted value as a list (a "," makes
// it a list, which reads as an empty text) and cuts it at a ";". People edit
// this file by hand, and names and paths may hold those characters. So this
// format reads an unquoted value verbatim (only the blanks around it go),
// and decodes the escapes only inside double quotes. Its writer escapes and
// quotes as QSettings does and, beyond that, quotes every value that needed
// an escape, so a value this program wrote never has an escape outside
// quotes: plain QSettings reads it back the same, and so does this reader.
// Keys and groups are escaped as QSettings escapes them ("%20" for a blank).
//
// A value that was read and not replaced is written back as the bytes it
// stood as, so values of other programs (lists and the like, which this
// reader takes as plain text) reach them unchanged; only one whose open
// quote or final backslash would make QSettings read on into the next line
// is written encoded instead. A lone CR ends a line, as for QSettings.
// Comments are not kept: like QSettings, the writer rewrites the whole file
// from the values.
#pragma once

#include <QSettings>

namespace Tarvo::IniTextFormat {

// A value as read: its text (what QVariant::toString gives) and the bytes
// it stood as after the "=".
struct StoredValue
{
    QString text;
    QByteArray raw;
};

// Registered on first use; file extension "conf" as the native format has.
QSettings::Format format();

bool read(QIODevice &device, QSettings::SettingsMap &map);
bool write(QIODevice &device, const QSettings::SettingsMap &map);

// One value as it stands after the "=", and back.
QString decodeValue(QByteArrayView raw);
QByteArray encodeValue(const QString &value);

} // namespace Tarvo::IniTextFormat
