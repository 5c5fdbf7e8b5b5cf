#include "ControlProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace Tarvo::Control {

namespace {

// The deepest nesting of brackets outside strings, found without parsing,
// so that a line of ten thousand "[" never reaches the recursive parser.
int bracketDepth(const QByteArray &line)
{
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (const char c : line) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

struct Walk
{
    const Limits &limits;
    int fields = 0;
    QString error;

    bool value(const QJsonValue &v, int depth)
    {
        if (v.isString())
            return string(v.toString());
        if (v.isObject())
            return object(v.toObject(), depth + 1);
        if (v.isArray()) {
            if (depth + 1 > limits.maxDepth)
                return fail(QStringLiteral("nested too deep"));
            const QJsonArray array = v.toArray();
            fields += int(array.size());
            if (fields > limits.maxFields)
                return fail(QStringLiteral("too many fields"));
            for (const QJsonValue &item : array)
                if (!value(item, depth + 1))
                    return false;
        }
        return true;
    }
    bool object(const QJsonObject &o, int depth)
    {
        if (depth > limits.maxDepth)
            return fail(QStringLiteral("nested too deep"));
        fields += int(o.size());
        if (fields > limits.maxFields)
            return fail(QStringLiteral("too many fields"));
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!string(it.key()) || !value(it.value(), depth))
                return false;
        return true;
    }
    bool string(const QString &s)
    {
        return s.size() <= limits.maxField || fail(QStringLiteral("a field is too long"));
    }
    bool fail(const QString &why)
    {
        error = why;
        return false;
    }
};

} // namespace

QString versionText()
{
    return QStringLiteral("%1.%2").arg(MajorVersion).arg(MinorVersion);
}

Parsed parseLine(const QByteArray &line, const Limits &limits)
{
    Parsed parsed;
    QByteArray text = line;
    if (text.endsWith('\r'))
        text.chop(1);
    if (text.size() > limits.maxLine) {
        parsed.error = QStringLiteral("line too long");
        return parsed;
    }
    if (bracketDepth(text) > limits.maxDepth) {
        parsed.error = QStringLiteral("nested too deep");
        return parsed;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        parsed.error = QStringLiteral("not JSON: %1").arg(error.errorString());
        return parsed;
    }
    if (!document.isObject()) {
        parsed.error = QStringLiteral("not a JSON object");
        return parsed;
    }
    Walk walk{limits};
    if (!walk.object(document.object(), 1)) {
        parsed.error = walk.error;
        return parsed;
    }
    parsed.ok = true;
    parsed.object = document.object();
    return parsed;
}

QByteArray encode(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

Take takeLine(QByteArray &buffer, QByteArray &line, qsizetype maxLine)
{
    const qsizetype end = buffer.indexOf('\n');
    // One byte more for a "\r" before the "\n".
    if (end < 0)
        return buffer.size() > maxLine + 1 ? Take::Overlong : Take::NeedMore;
    if (end > maxLine + 1)
        return Take::Overlong;
    line = buffer.left(end);
    buffer.remove(0, end + 1);
    return Take::Line;
}

bool parseVersion(const QString &text, int &major, int &minor)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    bool okMajor = false, okMinor = false;
    major = parts[0].toInt(&okMajor);
    minor = parts[1].toInt(&okMinor);
    return okMajor && okMinor && major >= 0 && minor >= 0;
}

} // namespace Tarvo::Control
