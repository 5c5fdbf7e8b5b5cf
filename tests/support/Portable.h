// A scripted portable on the fake line, and the rig the protocol tests share. Its frames come from
// the simulator's code, so host and simulator check each other. Both directions follow `source` in
// 120-byte steps from the last announce or request's offset. A rule answers the first..last (from
// 0) of a frame type with fixed bytes: NAK, EOT, a broken frame or nothing. trace: "0 text", "L
// body", "U body", "Y <size>", "Y" (next-packet request), "Z", "ACK", "NAK", "BAD" (broken).
#pragma once

#include "Configuration.h"
#include "DownloadJob.h"
#include "FakeLine.h"
#include "FrameCodec.h"
#include "UploadJob.h"
#include "UploadJournal.h"

#include <QtTest>

namespace Tarvo::Testing {

// A frame as the portable sends it; fromHost gives the one it expects from
// the host, which adds 193 into the checksum and ends with 193, not ETX.
QByteArray frame(char type, const QByteArray &body, bool fromHost = false);
// File data escaped as it travels inside a frame.
QByteArray escaped(const QByteArray &raw);

struct Rule
{
    char type;
    int first, last;
    QByteArray answer;
};

class Portable
{
public:
    explicit Portable(FakeLine &line) : m_line(line)
    {
        line.peer = [this](const QByteArray &bytes) { onWrite(bytes); };
    }

    QList<Rule> rules;
    std::function<void(char type)> onFrame; // each good host frame, before the answer
    QStringList trace;
    QByteArray source;        // the file: what a download must send, what an upload gets
    QByteArray zData;         // upload: travels in the closing "Z" frame
    bool answerModem = false; // AT commands get "OK", as the modem would

    int count(const QString &entry) const { return int(trace.count(entry)); }

private:
    void onWrite(const QByteArray &bytes)
    {
        if (answerModem && bytes.startsWith("AT"))
            return m_line.deliver("\r\nOK\r\n", 20);
        if (bytes.size() == 1) { // the host's answer to the packet in flight
            trace += bytes[0] == Byte::ACK ? "ACK" : "NAK";
            m_position += bytes[0] == Byte::ACK ? std::exchange(m_inFlight, 0) : 0;
            return;
        }
        const char type = bytes.size() > 2 ? bytes[2] : '\0';
        const QByteArray body = bytes.mid(3, bytes.size() - 6);
        // A data block must be the next part of `source` in the one escaping.
        const QByteArray next = source.mid(m_position, 120);
        const bool data = type == 'Y' && !body.isEmpty();
        if (bytes != frame(type, body, true) || (data && body != escaped(next))) {
            trace += "BAD";
            return;
        }
        trace += QString(QChar(type)) + (data             ? QStringLiteral(" %1").arg(next.size())
                                         : body.isEmpty() ? QString()
                                                          : ' ' + QString::fromLatin1(body));
        if (onFrame)
            onFrame(type);
        const int seen = m_seen[type]++;
        for (const Rule &r : rules)
            if (r.type == type && seen >= r.first && seen <= r.last)
                return m_line.deliver(r.answer);
        if (type == 'Y' && body.isEmpty()) {
            m_inFlight = int(next.size());
            return m_line.deliver(
                frame(next.isEmpty() ? 'Z' : 'D', escaped(next.isEmpty() ? zData : next)));
        }
        if (type == 'L' || type == 'U') // the offset of a restart, if any
            m_position =
                body.endsWith(']') ? body.mid(body.indexOf('[') + 1).chopped(1).toLongLong() : 0;
        m_position += data ? next.size() : 0;
        m_line.deliver(QByteArray(1, Byte::ACK));
    }

    FakeLine &m_line;
    QMap<char, int> m_seen;
    qint64 m_position = 0;
    int m_inFlight = 0;
};

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every byte value once in the first 256 bytes (7 is prime to 256).
inline QByteArray pattern(int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7);
    return out;
}

// A configuration with download slot 2 and upload slot 1 on files in a
// scratch folder; the portable holds the same content for an upload.
struct Rig
{
    explicit Rig(const QByteArray &content = pattern(300))
    {
        line.open(1, nullptr);
        line.setMode(SerialLine::Mode::Job);
        QString error;
        journal.acquire(error);
        write(path("source.bin"), content);
        config.DownloadList[2] = {"a.txt", path("source.bin")};
        config.UploadList[1] = {"a.txt", path("ORDERS.TXT")};
        portable.source = content;
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
    static void write(const QString &path, const QByteArray &content, const QDateTime &time = {})
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                file.flush());
        QVERIFY(!time.isValid() || file.setFileTime(time, QFile::FileModificationTime));
    }
    bool download() { return DownloadJob(link, reporter).RunDownloadJob(config.DownloadList[2]); }
    bool upload() { return UploadJob(link, reporter, &journal).RunUploadJob(config.UploadList[1]); }

    QTemporaryDir dir;
    UploadJournal journal{dir.filePath(QStringLiteral("journal"))};
    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};
    RecordingReporter reporter;
    Configuration config;
    PacketLink link{wait};
    Portable portable{line};
};

} // namespace Tarvo::Testing

Q_DECLARE_METATYPE(Tarvo::Testing::Rule)
