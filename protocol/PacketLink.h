// The packet link to the portable once a call is up.
//
// Host frames: STX ESC type body high low 0xC1, where the checksum covers
// ESC, type and body (sum mod 256, plus 193, plus n = body length + 2) and is
// sent as two characters 64 + high nibble, 64 + low nibble. Portable frames
// end at their first ETX; their checksum covers header, type and data as
// received, plus the count, with no 193 term. File data is escaped with "\"
// so that control bytes and 160..255 (but 220) never travel raw.
//
// An exchange writes one frame and polls for the answer: ACK wins, NAK and
// a time-out (1000 polls) each repeat the frame, and the third of either
// ends it. The two counts never reset each other, so a frame goes out at
// most five times. Callers may restart after a third NAK and resume the
// same exchange; the NAK count then stays past 3 and only repeats the frame.
#pragma once

#include "LineWait.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace Tarvo {

namespace Byte {
inline constexpr char STX = 2;
inline constexpr char ETX = 3;
inline constexpr char EOT = 4;
inline constexpr char ACK = 6;
inline constexpr char NAK = 21;
inline constexpr char ESC = 27;
inline constexpr char Escape = '\\';
inline constexpr std::uint8_t End = 193;
} // namespace Byte

using DataBuffer = std::array<std::uint8_t, 257>;

// Checksum characters of a host frame being built (STX at index 0) with n
// bytes from offset 1 on.
void ComputeChecksum(const QByteArray &frame, int n, char &high, char &low);
// A complete host frame of the given type and (already escaped) body.
QByteArray BuildFrame(char type, const QByteArray &body);
// Checks and decodes one portable frame; count and last are written only on success.
bool ParsePacket(const QByteArray &text, DataBuffer &buffer, int &count, bool &last);
// Escapes count bytes of source into target; returns the encoded length.
int EscapeBlock(const std::uint8_t *source, std::uint8_t *target, int count);

// Text as it crosses the line: one byte per character (LineCharset).
QByteArray lineBytes(const QString &text);

class Exchange
{
public:
    enum class Outcome {
        Ack,          // acknowledged
        Watched,      // a watched character arrived (EOT, or ETX: see received())
        ThirdNak,     // the third NAK; resume() may continue after a restart
        ThirdTimeout, // the third time-out
        Aborted       // the line failed or the server asked all waits to end
    };

    // Which of a NAK and a watched character wins when one poll finds both:
    // an upload request retries on NAK before it believes EOT, while a
    // portable frame (ETX) answers the next-packet request whatever else came.
    enum class Priority { NakFirst, WatchedFirst };

    // watch: characters besides ACK and NAK that end the polling.
    // ackCounts: false for the next-packet request, which ignores ACK.
    Exchange(LineWait &wait, QByteArray frame, QByteArray watch = {}, bool ackCounts = true,
             Priority priority = Priority::NakFirst);

    // Writes the frame and waits; returns at the first outcome.
    Outcome run();
    // After a restart: writes the same frame again and goes on waiting,
    // keeping both counts.
    Outcome resume();

    const QByteArray &received() const { return m_received; }
    int writes() const { return m_writes; }

private:
    enum class Answer { Ack, Nak, Watched, Silence, Aborted };

    Outcome transmitAndWait();
    Answer awaitAnswer();

    LineWait &m_wait;
    QByteArray m_frame;
    QByteArray m_watch;
    bool m_ackCounts;
    Priority m_priority;
    int m_naks = 0;
    int m_timeouts = 0;
    int m_writes = 0;
    QByteArray m_received;
};

class PacketLink
{
public:
    explicit PacketLink(LineWait &wait) : m_wait(wait) {}

    // A "0" message packet; true when acknowledged.
    bool SendPacket(const QString &text);

    // Why an exchange ended as Aborted, in words for the status pane.
    QString abortReason() const;

    LineWait &wait() { return m_wait; }
    SerialLine &line() { return m_wait.line(); }

private:
    LineWait &m_wait;
};

} // namespace Tarvo
