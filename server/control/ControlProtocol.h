// The control channel's wire format: JSON lines, one object per line, each
// ended by "\n", UTF-8.
//
// A client opens with {"op":"hello","version":"1.0"}; the server answers
// with its own version, or refuses a client of another major version and
// closes. Every later request is {"id":N,"op":NAME,...}; its answer carries
// the same id with "ok" true or false ("error" says why, in one line).
// Events of the log feed come unasked as {"event":"entry",...} after a
// watch was asked for. A minor version only ever adds fields and ops, so a
// reader ignores what it does not know.
//
// Every line read from the peer goes through parseLine(), whose limits hold
// before any JSON is parsed (length, nesting) and after (field count and
// sizes). A line that breaks them is an error that ends only that
// connection.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace Tarvo::Control {

inline constexpr int MajorVersion = 1;
inline constexpr int MinorVersion = 0;
QString versionText(); // "1.0"

struct Limits
{
    qsizetype maxLine;  // bytes of one line, its "\n" excluded
    int maxDepth;       // objects and arrays inside each other
    int maxFields;      // members of all objects of the line together
    qsizetype maxField; // characters of one string or key
};
// What a server accepts from a client: a settings save is the largest.
inline constexpr Limits RequestLimits{64 * 1024, 3, 400, 8 * 1024};
// What a client accepts from a server: log texts can be long.
inline constexpr Limits ReplyLimits{1024 * 1024, 3, 400, 512 * 1024};

struct Parsed
{
    bool ok = false;
    QJsonObject object;
    QString error; // one line, when !ok
};

// One line without its "\n" (a trailing "\r" is allowed).
Parsed parseLine(const QByteArray &line, const Limits &limits);

// The object as one line, "\n" included.
QByteArray encode(const QJsonObject &object);

// Takes the first whole line off the front of buffer into line. Overlong
// when the line (or what is buffered of it) is longer than maxLine: the
// peer is not speaking the protocol.
enum class Take { Line, NeedMore, Overlong };
Take takeLine(QByteArray &buffer, QByteArray &line, qsizetype maxLine);

// "1.0" -> (1, 0); false for anything else.
bool parseVersion(const QString &text, int &major, int &minor);

} // namespace Tarvo::Control
