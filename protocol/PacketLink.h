// The packet link to the portable once a call is up: the message packet and
// the words for why an exchange was cut short. The frames are built by
// FrameCodec.h and sent by Exchange.h.
#pragma once

#include "LineWait.h"

#include <QString>

namespace Tarvo {

class PacketLink
{
public:
    explicit PacketLink(LineWait &wait) : m_wait(wait) {}

    // A "0" message packet. Its answer decides nothing: a line that fails
    // under it is seen by the next step.
    void SendPacket(const QString &text);

    // Why an exchange ended as Aborted, in words for the status pane.
    QString abortReason() const;

    LineWait &wait() { return m_wait; }
    SerialLine &line() { return m_wait.line(); }

private:
    LineWait &m_wait;
};

} // namespace Tarvo
