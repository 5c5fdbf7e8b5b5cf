#include "Exchange.h"

#include "FrameCodec.h"

namespace Tarvo {

Exchange::Exchange(LineWait &wait, QByteArray frame, QByteArray watch, bool ackCounts,
                   Priority priority)
    : m_wait(wait), m_frame(std::move(frame)), m_watch(std::move(watch)), m_ackCounts(ackCounts),
      m_priority(priority)
{
}

Exchange::Outcome Exchange::run()
{
    m_naks = 0;
    m_timeouts = 0;
    return transmitAndWait();
}

Exchange::Outcome Exchange::resume()
{
    return transmitAndWait();
}

Exchange::Outcome Exchange::transmitAndWait()
{
    for (;;) {
        // Nothing more goes out once a Stop was asked for or the port is gone.
        if (m_wait.aborted() || !m_wait.line().write(m_frame))
            return Outcome::Aborted;
        ++m_writes;
        m_received.clear();
        switch (awaitAnswer()) {
        case Answer::Ack:
            return Outcome::Ack;
        case Answer::Watched:
            return Outcome::Watched;
        case Answer::Aborted:
            return Outcome::Aborted;
        case Answer::Nak:
            // Past 3 the count only has to stay unequal to 3: a restarted
            // exchange repeats its frame on every further NAK and never ends
            // by NAKs again, however long the peer goes on.
            if (m_naks <= 3)
                ++m_naks;
            if (m_naks == 3)
                return Outcome::ThirdNak;
            break;
        case Answer::Silence:
            // Every job gives up at the third: no exchange goes on past it.
            if (++m_timeouts == 3)
                return Outcome::ThirdTimeout;
            break;
        }
    }
}

Exchange::Answer Exchange::awaitAnswer()
{
    // Input pending from before the write is not discarded: the first poll
    // reads it and it counts. Earlier polls found nothing, so only what each
    // poll adds needs looking at.
    qsizetype seen = 0;
    for (int polls = 0; polls < LineWait::MaxPolls; ++polls) {
        if (!m_wait.poll(m_received))
            return Answer::Aborted;
        const QByteArrayView fresh = QByteArrayView(m_received).sliced(seen);
        seen = m_received.size();
        if (m_ackCounts && fresh.contains(Byte::ACK))
            return Answer::Ack;
        const bool nak = fresh.contains(Byte::NAK);
        bool watched = false;
        for (char c : m_watch)
            watched = watched || fresh.contains(c);
        if (watched && (m_priority == Priority::WatchedFirst || !nak))
            return Answer::Watched;
        if (nak)
            return Answer::Nak;
    }
    return Answer::Silence;
}

} // namespace Tarvo
