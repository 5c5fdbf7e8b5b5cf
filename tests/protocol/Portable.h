// A scripted portable for the link and transfer tests, on the fake line.
//
// It checks every host frame on its own (its own checksum and unescaping,
// not the host's code), keeps a readable trace of what the host sent, and
// answers as a well-behaved portable would: it stores downloaded blocks at
// the announced offset, and serves an upload from its own copy of the file,
// resuming at the offset of each request. Rules make it misbehave on chosen
// frames: the n-th to m-th frame of a type is answered by NAK, EOT, silence
// or a frame with a wrong checksum.
#pragma once

#include "FakeLine.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QStringList>
#include <functional>

namespace Tarvo::Testing {

// Frames as the portable builds and reads them, written independently of
// the host's link code so that the two check each other.
QByteArray portableFrame(char type, const QByteArray &escapedData, char start = 2,
                         char header = 27);
QByteArray escapeData(const QByteArray &raw);
// Undoes the host's escaping of a "Y" body; ok is false for a broken pair.
QByteArray unescapeData(const QByteArray &body, bool *ok);
QByteArray fromHex(const char *hex); // spaces allowed

struct HostFrame
{
    char type = 0;
    QByteArray body;
};
// Checks STX, ESC, checksum and end byte; false when any is wrong.
bool decodeHostFrame(const QByteArray &bytes, HostFrame &frame);

enum class Reply { Normal, Nak, Eot, Silent, Corrupt };

struct Rule
{
    char type; // frame type the rule applies to
    int first; // occurrences of that type, counted from 0
    int last;
    Reply reply;
};

class Portable
{
public:
    explicit Portable(FakeLine &line);

    QList<Rule> rules;
    // Called for every good host frame before the portable answers it.
    std::function<void(const HostFrame &)> onFrame;

    // What the host sent: "0 text", "L name", "U name[offset]", "Y <bytes>"
    // for a data block, "Y" for a next-packet request, "Z", "ACK", "NAK".
    QStringList trace;
    int badFrames = 0; // frames or data that broke the rules of the line

    // Download side: the file as the portable has put it together.
    QByteArray stored;
    int ends = 0;

    // Upload side: the portable's file, served in chunks from the offset of
    // the last request; zData travels in the closing "Z" frame.
    bool hasFile = true;
    QByteArray source;
    int chunk = 120;
    QByteArray zData;
    bool uploadFinished = false;

    int count(const QString &entry) const { return int(trace.count(entry)); }

private:
    void onWrite(const QByteArray &bytes);
    void onAnswerByte(char byte);
    Reply replyFor(char type);
    void act(const HostFrame &frame);
    void serveNextPacket(bool corrupt);
    void send(const QByteArray &bytes) { m_line.deliver(bytes); }

    FakeLine &m_line;
    QMap<char, int> m_seen;
    qint64 m_position = 0;
    int m_inFlight = 0; // bytes of the packet awaiting the host's answer; -1 for "Z"
};

} // namespace Tarvo::Testing

Q_DECLARE_METATYPE(Tarvo::Testing::Rule)
