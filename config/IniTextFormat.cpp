#include "IniTextFormat.h"

#include <QIODevice>
#include <QStringDecoder>
#include <map>
#include <optional>

namespace Tarvo::IniTextFormat {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBreak(char c)
{
    return c == '\n' || c == '\r';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

int digitValue(char c, int base)
{
    const int value = (c >= '0' && c <= '9')   ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : base;
    return value < base ? value : -1;
}

// One line as QSettings' reader delimits it, except that a quote left open
// ends with the line break here, where QSettings would read on.
struct Line
{
    QByteArrayView text;   // without its line break
    qsizetype equals = -1; // the first "=" outside quotes and before a comment
    qsizetype cut = -1;    // where QSettings sees a ";" comment begin
    bool runsOn = false;   // written back, QSettings would read on into the next line
};

Line nextLine(QByteArrayView data, qsizetype &pos)
{
    while (pos < data.size() && (isBlank(data[pos]) || isBreak(data[pos])))
        ++pos;
    const qsizetype begin = pos;
    Line line;
    bool quoted = false;
    qsizetype escapedCrEnd = -1;
    while (pos < data.size() && !isBreak(data[pos])) {
        const char c = data[pos++];
        if (line.cut >= 0)
            continue; // QSettings skips a comment to the line break as it stands
        if (c == '\\') {
            if (pos == data.size()) {
                line.runsOn = true;
                break;
            }
            // An escaped line break (with its CR/LF partner) continues the line.
            const char next = data[pos++];
            if (isBreak(next) && pos < data.size() && isBreak(data[pos]) && data[pos] != next)
                ++pos;
            else if (next == '\r')
                escapedCrEnd = pos;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '=' && !quoted && line.equals < 0) {
            line.equals = pos - 1 - begin;
        } else if (c == ';' && !quoted) {
            line.cut = pos - 1 - begin;
        }
    }
    // A final escaped CR would take the "\n" written after it as its partner.
    line.runsOn = line.runsOn || quoted || escapedCrEnd == pos;
    line.text = data.sliced(begin, pos - begin);
    return line;
}

// The escape after the backslash at text[at - 1], decoded as QSettings
// does; returns where it ends, or -1 for one QSettings never writes.
qsizetype decodeEscape(QByteArrayView text, qsizetype at, QString &out)
{
    static const QByteArray simple("a\ab\bf\fn\nr\rt\tv\v\"\"''??\\\\");
    if (at == text.size())
        return -1;
    const char c = text[at];
    for (qsizetype k = 0; k < simple.size(); k += 2) {
        if (simple[k] == c) {
            out += QLatin1Char(simple[k + 1]);
            return at + 1;
        }
    }
    if (isBreak(c)) {
        const bool pair = at + 1 < text.size() && isBreak(text[at + 1]) && text[at + 1] != c;
        return at + (pair ? 2 : 1);
    }
    const int base = c == 'x' ? 16 : 8;
    qsizetype i = c == 'x' ? at + 1 : at;
    if (i == text.size() || digitValue(text[i], base) < 0) // an octal escape starts at c
        return -1;
    // As long as digits follow, wrapping at 16 bits, as QSettings reads them.
    char16_t code = 0;
    for (; i < text.size() && digitValue(text[i], base) >= 0; ++i)
        code = char16_t(code * base + digitValue(text[i], base));
    out += QChar(code);
    return i;
}

QString unescape(QByteArrayView text)
{
    // One decoder for the whole value, as QSettings reads it: a U+FEFF is
    // dropped as a byte-order mark only in the first bytes it decodes.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const auto decode = [&utf8](QByteArrayView run) {
        return run.isEmpty() ? QString() : QString(utf8(run));
    };
    QString out;
    qsizetype plain = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\')
            continue;
        out += decode(text.sliced(plain, i - plain));
        const qsizetype end = decodeEscape(text, i + 1, out);
        if (end < 0) {
            // Kept as written: a hand-written path would want "\d" as it is.
            out += QLatin1Char('\\');
            plain = i + 1;
        } else {
            plain = end;
            i = end - 1;
        }
    }
    return out + decode(text.sliced(plain));
}

// Where the comment after a value begins: a ";" outside quotes at the start
// of the value, after a blank, or right after a closing quote.
qsizetype commentStart(QByteArrayView value)
{
    bool quoted = false, mayComment = true;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\') {
            ++i;
            mayComment = false;
        } else if (c == ';' && !quoted && mayComment) {
            return i;
        } else if (c == '"') {
            quoted = !quoted;
            mayComment = !quoted;
        } else {
            mayComment = isBlank(c);
        }
    }
    return value.size();
}

// Double quotes around the whole value, with none unescaped inside.
bool isQuoted(QByteArrayView text)
{
    if (text.size() < 2 || text.front() != '"')
        return false;
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i == text.size() - 1;
    }
    return false;
}

// The text QSettings makes of the forms it writes for texts and byte arrays.
QString asText(const QString &s)
{
    if (!s.startsWith(QLatin1Char('@')))
        return s;
    if (s.endsWith(QLatin1Char(')'))) {
        if (s.startsWith(QLatin1String("@ByteArray(")))
            return QString::fromUtf8(QStringView(s).sliced(11).chopped(1).toLatin1());
        if (s.startsWith(QLatin1String("@String(")))
            return s.sliced(8).chopped(1);
        if (s == QLatin1String("@Invalid()"))
            return QString();
    }
    return s.startsWith(QLatin1String("@@")) ? s.sliced(1) : s;
}

QString decodeValue(QByteArrayView value)
{
    const QByteArrayView text = trimBlanks(value.first(commentStart(value)));
    return asText(isQuoted(text) ? unescape(text.sliced(1, text.size() - 2)) : unescape(text));
}

// Qt's forms for values that are not texts.
bool isBinaryForm(const QString &s)
{
    if (!s.startsWith(QLatin1Char('@')) || !s.endsWith(QLatin1Char(')')))
        return false;
    if (s.startsWith(QLatin1String("@Variant(")) || s.startsWith(QLatin1String("@DateTime(")))
        return true;
    // A rectangle, size or point only with the right number of blank-separated numbers.
    const auto arguments = [&s](QLatin1String form) {
        if (!s.startsWith(form))
            return qsizetype(0);
        const QStringView inside = QStringView(s).sliced(form.size());
        return inside.count(u' ') + inside.count(u')');
    };
    return arguments(QLatin1String("@Rect(")) == 4 || arguments(QLatin1String("@Size(")) == 2 ||
           arguments(QLatin1String("@Point(")) == 2;
}

// The text plain QSettings reads from a value (up to where it sees a
// comment), following its reader: quotes open and close anywhere, an escape
// it does not know is dropped with its backslash, blanks after the last
// quote or escape are cut unless a quote was seen. None where it reads no
// text at all: a "," outside quotes makes a list, a binary form a value.
std::optional<QString> plainText(QByteArrayView value)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString out;
    bool quoted = false, wasQuoted = false;
    qsizetype i = 0, keep = 0; // blanks from keep on may be cut
    const auto skipBlanks = [&] {
        while (i < value.size() && isBlank(value[i]))
            ++i;
        keep = out.size();
    };
    const auto read = [&out] {
        return isBinaryForm(out) ? std::nullopt : std::optional(asText(out));
    };
    skipBlanks();
    while (i < value.size()) {
        const char c = value[i];
        if (c == '"') {
            ++i;
            wasQuoted = true;
            quoted = !quoted;
            if (!quoted)
                skipBlanks();
        } else if (c == ',' && !quoted) {
            return std::nullopt;
        } else if (c != '\\') {
            qsizetype j = i + 1;
            while (j < value.size() && value[j] != '\\' && value[j] != '"' && value[j] != ',')
                ++j;
            out += utf8(value.sliced(i, j - i));
            i = j;
        } else if (const qsizetype end = decodeEscape(value, i + 1, out); end >= 0) {
            i = end;
            keep = out.size();
        } else if (i + 1 == value.size() || (i + 2 == value.size() && value[i + 1] == 'x')) {
            return read(); // the value ends in the escape: nothing is cut
        } else {
            i += 2;
            keep = out.size();
        }
    }
    while (!wasQuoted && out.size() > keep && (out.back() == u' ' || out.back() == u'\t'))
        out.chop(1);
    return read();
}

QByteArray escapeKey(const QString &key)
{
    QByteArray out;
    for (qsizetype i = 0; i < key.size(); ++i) {
        const char16_t c = key[i].unicode();
        // A final "\" would escape the "=" or "]" after it.
        if (c == '/' && i + 1 < key.size()) {
            out += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '_' || c == '-' || c == '.') {
            out += char(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += HexDigits[c / 16];
            out += HexDigits[c % 16];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += HexDigits[(c >> shift) & 0xF];
        }
    }
    return out;
}

// Names are UTF-8; then "\" stands for "/" and %XX, %UXXXX for one character.
QString unescapeKey(QByteArrayView key)
{
    const QString decoded = QString::fromUtf8(key);
    QString out;
    for (qsizetype i = 0; i < decoded.size();) {
        const QChar c = decoded[i];
        if (c == QLatin1Char('\\') || c != QLatin1Char('%') || i == decoded.size() - 1) {
            out += c == QLatin1Char('\\') ? QLatin1Char('/') : c;
            ++i;
            continue;
        }
        const bool wide = decoded[i + 1] == QLatin1Char('U');
        const qsizetype first = i + (wide ? 2 : 1), digits = wide ? 4 : 2;
        bool ok = false;
        const ushort code = first + digits <= decoded.size()
                                ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16)
                                : 0;
        if (ok) {
            out += QChar(code);
            i = first + digits;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// What a heading's name makes the keys under it start with, as for
// QSettings: nothing under [General], and "General/" under [%General].
QString keyPrefix(QByteArrayView name)
{
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return QString();
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.sliced(1)) + QLatin1Char('/');
    return unescapeKey(name) + QLatin1Char('/');
}

QByteArray headingFor(const QString &prefix)
{
    if (prefix.isEmpty())
        return "[General]";
    const QByteArray name = escapeKey(prefix.chopped(1));
    // A group named "general" in any case would read as the top-level keys.
    return name.compare("general", Qt::CaseInsensitive) == 0 ? "[%" + name + ']' : '[' + name + ']';
}

// QSettings' own escaping of one character of a text value.
void escapeChar(char16_t c, QByteArray &out, bool &escapeNextIfDigit)
{
    static const QByteArray named("\aa\bb\ff\nn\rr\tt\vv");
    if (escapeNextIfDigit && digitValue(c < 0x80 ? char(c) : 'x', 16) >= 0) {
        out += "\\x" + QByteArray::number(uint(c), 16);
        return;
    }
    escapeNextIfDigit = false;
    const qsizetype k = c < 0x20 ? named.indexOf(char(c)) : -1;
    if (c == 0) {
        out += "\\0";
        escapeNextIfDigit = true;
    } else if (k >= 0 && k % 2 == 0) {
        out += '\\';
        out += named[k + 1];
    } else if (c == '"' || c == '\\') {
        out += '\\';
        out += char(c);
    } else if (c <= 0x1F || QChar::isSurrogate(c) || c == 0xFEFF) {
        // A lone surrogate has no UTF-8, and a U+FEFF first in what the
        // reader decodes reads as a byte-order mark: QSettings would lose both.
        out += "\\x" + QByteArray::number(uint(c), 16);
        escapeNextIfDigit = true;
    } else {
        out += QString(QChar(c)).toUtf8();
    }
}

// A text as QSettings writes it, so both readers read it back the same.
QByteArray encodeValue(const QString &value)
{
    const QString text = value.contains(QChar(0)) ? QLatin1String("@String(") + value + u')'
                         : value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value
                                                              : value;
    QByteArray out;
    bool escapeNextIfDigit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            escapeNextIfDigit = false;
            out += text.sliced(i, 2).toUtf8();
            ++i;
            continue;
        }
        escapeChar(text[i].unicode(), out, escapeNextIfDigit);
    }
    const bool quote = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char(',')) ||
                       text.contains(QLatin1Char('=')) || out.startsWith(' ') || out.endsWith(' ');
    return quote ? '"' + out + '"' : out;
}

const StoredValue *storedAs(const QString &key, const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<StoredValue>())
        return nullptr;
    const auto *stored = static_cast<const StoredValue *>(value.constData());
    return stored->key == key ? stored : nullptr;
}
} // namespace

bool read(QIODevice &device, QSettings::SettingsMap &map)
{
    const QByteArray data = device.readAll();
    const QByteArrayView all(data);
    qsizetype pos = all.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    QString prefix;
    QByteArray heading;
    while (pos < all.size()) {
        const Line line = nextLine(all, pos);
        if (line.text.isEmpty())
            continue;
        if (line.text.front() == '[') {
            QByteArrayView name = line.cut < 0 ? line.text : line.text.first(line.cut);
            const qsizetype close = name.indexOf(']');
            prefix = keyPrefix(name.sliced(1, (close < 0 ? name.size() : close) - 1).trimmed());
            heading = line.runsOn ? QByteArray() : line.text.toByteArray();
            continue;
        }
        if (line.equals < 0 || line.text.front() == '#')
            continue;
        const QString name = unescapeKey(line.text.first(line.equals).trimmed());
        if (name.isEmpty())
            continue;
        StoredValue value{decodeValue(line.text.sliced(line.equals + 1)),
                          prefix + name,
                          prefix,
                          line.text.toByteArray(),
                          heading,
                          !line.runsOn};
        const qsizetype end = line.cut < 0 ? line.text.size() : line.cut;
        value.alike =
            plainText(line.text.sliced(line.equals + 1, end - line.equals - 1)) == value.text;
        map.insert(value.key, QVariant::fromValue(std::move(value)));
    }
    return true;
}

bool write(QIODevice &device, const QSettings::SettingsMap &map)
{
    struct Group
    {
        QByteArray heading, lines;
    };
    // Keyed by what the group's keys start with: "" for the top-level keys.
    std::map<QString, Group> groups;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const StoredValue *stored = storedAs(it.key(), it.value());
        if (stored && stored->stands) {
            Group &group = groups[stored->prefix];
            if (group.heading.isEmpty())
                group.heading = stored->heading;
            group.lines += stored->line + '\n';
            continue;
        }
        const QString prefix = stored ? stored->prefix : it.key().left(it.key().indexOf('/') + 1);
        groups[prefix].lines += escapeKey(it.key().sliced(prefix.size())) + '=' +
                                encodeValue(it.value().toString()) + '\n';
    }
    QByteArray out;
    for (const auto &[prefix, group] : groups) {
        if (!out.isEmpty())
            out += '\n';
        out += (group.heading.isEmpty() ? headingFor(prefix) : group.heading) + '\n' + group.lines;
    }
    return device.write(out) == out.size();
}

QSettings::Format format()
{
    static const QSettings::Format registered = [] {
        QMetaType::registerConverter<StoredValue, QString>(
            [](const StoredValue &value) { return value.text; });
        return QSettings::registerFormat(QStringLiteral("conf"), &IniTextFormat::read,
                                         &IniTextFormat::write);
    }();
    return registered;
}

} // namespace Tarvo::IniTextFormat
