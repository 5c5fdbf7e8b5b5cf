#include "PacketLink.h"

#include "Exchange.h"
#include "FrameCodec.h"
#include "LineCharset.h"

namespace Tarvo {

void PacketLink::SendPacket(const QString &text)
{
    Exchange(m_wait, buildFrame('0', LineCharset::encode(text))).run();
}

QString PacketLink::abortReason() const
{
    SerialLine &line = m_wait.line();
    if (line.failed()) {
        const QString why = line.failure();
        return why.isEmpty() ? QStringLiteral("Serial port failed")
                             : QStringLiteral("Serial port failed: ") + why;
    }
    if (m_wait.carrierLost())
        return QStringLiteral("Carrier lost");
    if (m_wait.aborted())
        return QStringLiteral("Transfer stopped");
    return QStringLiteral("Serial port not open");
}

} // namespace Tarvo
