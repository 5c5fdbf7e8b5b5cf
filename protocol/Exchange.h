// One frame sent and its answer awaited, with the repeats the portable expects.
//
// An exchange writes one frame and polls for the answer: ACK wins, NAK and
// a time-out (1000 polls) each repeat the frame, and the third of either
// ends it. The two counts never reset each other, so a frame goes out at
// most five times. Callers may restart after a third NAK and resume the
// same exchange; the NAK count then stays past 3 and only repeats the frame.
#pragma once

#include "LineWait.h"

#include <QByteArray>

namespace Tarvo {

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

} // namespace Tarvo
