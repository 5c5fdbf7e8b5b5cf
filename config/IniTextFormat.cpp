#include "IniTextFormat.h"

#include <QIODevice>
#include <algorithm>
#include <map>

namespace Tarvo::IniTextFormat {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr char GeneralSection[] = "General";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool isHexDigit(char32_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
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

// Reads a run of digits of the given base starting at i; i ends on the last one.
char32_t readNumber(QByteArrayView text, qsizetype &i, int base)
{
    char32_t code = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : base;
        if (digit >= base)
            break;
        code = std::min<char32_t>(code * base + digit, 0xFFFF);
    }
    --i;
    return code;
}

// One escape after a backslash at text[i - 1]; i ends on its last character.
// An unknown escape keeps its backslash, as a hand-written path would want.
QString unescapeOne(QByteArrayView text, qsizetype &i)
{
    static const QByteArray simple("a\ab\bf\fn\nr\rt\tv\v\"\"''??\\\\");
    const char c = text[i];
    for (qsizetype k = 0; k < simple.size(); k += 2)
        if (simple[k] == c)
            return QString(QLatin1Char(simple[k + 1]));
    if (c == 'x') {
        ++i;
        return QString(QChar(char16_t(readNumber(text, i, 16))));
    }
    if (c >= '0' && c <= '7')
        return QString(QChar(char16_t(readNumber(text, i, 8))));
    return QStringLiteral("\\") + QChar(QLatin1Char(c));
}

QString unescape(QByteArrayView text)
{
    QString result;
    qsizetype plainStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size())
            continue;
        result += QString::fromUtf8(text.sliced(plainStart, i - plainStart));
        ++i;
        result += unescapeOne(text, i);
        plainStart = i + 1;
    }
    return result + QString::fromUtf8(text.sliced(plainStart));
}

QByteArray escapeKey(const QString &key)
{
    QByteArray out;
    for (const QChar qc : key) {
        const char16_t c = qc.unicode();
        if (c == '/') {
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

QString unescapeKey(QByteArrayView key)
{
    QString out;
    for (qsizetype i = 0; i < key.size(); ++i) {
        const char c = key[i];
        if (c == '\\') {
            out += QLatin1Char('/');
        } else if (c == '%' && i + 2 < key.size() && key[i + 1] == 'U' && i + 5 < key.size()) {
            qsizetype at = i + 2;
            out += QChar(char16_t(readNumber(key.sliced(0, i + 6), at, 16)));
            i += 5;
        } else if (c == '%' && i + 2 < key.size() && isHexDigit(key[i + 1]) &&
                   isHexDigit(key[i + 2])) {
            qsizetype at = i + 1;
            out += QChar(char16_t(readNumber(key.sliced(0, i + 3), at, 16)));
            i += 2;
        } else {
            out += QChar(QLatin1Char(c));
        }
    }
    return out;
}

// QSettings' own escaping of a text value.
void escapeChar(char32_t c, QByteArray &out, bool &escapeNextIfDigit)
{
    static const QByteArray named("\aa\bb\ff\nn\rr\tt\vv");
    if (escapeNextIfDigit && isHexDigit(c)) {
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
    } else if (c <= 0x1F) {
        out += "\\x" + QByteArray::number(uint(c), 16);
        escapeNextIfDigit = true;
    } else {
        out += QString(QChar(char16_t(c))).toUtf8();
    }
}

// QSettings' reader carries an open quote or a final backslash on into the
// next line, which would swallow the lines after it.
bool endsItsLine(QByteArrayView raw)
{
    bool open = false;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && ++i == raw.size())
            return false;
        if (i < raw.size() && raw[i] == '"')
            open = !open;
    }
    return !open;
}

// A value read and not replaced goes back as it stood, unless that would
// spill into the next line; any other is encoded.
QByteArray valueText(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<StoredValue>()) {
        const auto stored = value.value<StoredValue>();
        if (endsItsLine(stored.raw))
            return stored.raw;
    }
    return encodeValue(value.toString());
}
} // namespace

QString decodeValue(QByteArrayView raw)
{
    const QByteArrayView text = trimBlanks(raw);
    QString value =
        isQuoted(text) ? unescape(text.sliced(1, text.size() - 2)) : QString::fromUtf8(text);
    if (value.startsWith(QLatin1String("@@")))
        value.remove(0, 1);
    return value;
}

QByteArray encodeValue(const QString &value)
{
    const QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    QByteArray out;
    bool escapeNextIfDigit = false;
    // Surrogate pairs go through whole, as UTF-8 of the pair.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            escapeNextIfDigit = false;
            out += text.sliced(i, 2).toUtf8();
            ++i;
            continue;
        }
        escapeChar(text[i].unicode(), out, escapeNextIfDigit);
    }
    const bool quote = out.contains(';') || out.contains(',') || out.contains('=') ||
                       out.contains('\\') || out.startsWith(' ') || out.endsWith(' ');
    return quote ? '"' + out + '"' : out;
}

bool read(QIODevice &device, QSettings::SettingsMap &map)
{
    QByteArray data = device.readAll();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QString section;
    // A lone CR ends a line too, as it does for QSettings.
    data.replace('\r', '\n');
    for (const QByteArray &whole : data.split('\n')) {
        const QByteArrayView line(whole);
        const QByteArrayView t = trimBlanks(line);
        if (t.isEmpty() || t.front() == ';' || t.front() == '#')
            continue;
        if (t.front() == '[') {
            const qsizetype close = t.indexOf(']');
            const QByteArrayView name = t.sliced(1, (close < 0 ? t.size() : close) - 1);
            section = name == GeneralSection ? QString() : unescapeKey(name);
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString key = unescapeKey(trimBlanks(line.first(equals)));
        if (key.isEmpty())
            continue;
        const QByteArrayView raw = trimBlanks(line.sliced(equals + 1));
        map.insert(section.isEmpty() ? key : section + QLatin1Char('/') + key,
                   QVariant::fromValue(StoredValue{decodeValue(raw), raw.toByteArray()}));
    }
    return true;
}

bool write(QIODevice &device, const QSettings::SettingsMap &map)
{
    // Top-level keys go under [General], which comes first, as QSettings does it.
    std::map<QString, QByteArray> sections;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        sections[section] +=
            escapeKey(it.key().mid(slash + 1)) + '=' + valueText(it.value()) + '\n';
    }
    QByteArray out;
    for (const auto &[section, lines] : sections) {
        if (!out.isEmpty())
            out += '\n';
        const QByteArray name = section.isEmpty() ? QByteArray(GeneralSection)
                                : section == QLatin1String(GeneralSection)
                                    ? "%" + QByteArray(GeneralSection)
                                    : escapeKey(section);
        out += '[' + name + "]\n" + lines;
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
