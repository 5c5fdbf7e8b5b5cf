#include "LineWait.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <utility>

namespace Tarvo {

void RealWaiter::processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void RealWaiter::sleepMs(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}

qint64 RealWaiter::nowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool LineWait::pause()
{
    m_waiter.processEvents();
    m_waiter.sleepMs(PollMs);
    return !aborted();
}

bool LineWait::poll(QByteArray &received)
{
    if (!pause())
        return false;
    const QByteArray fresh = m_line.read();
    received += fresh;
    if (m_watching) {
        lookForHangUp(fresh);
        if (m_end == CallEnd::None && carrierGone())
            m_end = CallEnd::CarrierDropped;
    }
    return !aborted();
}

void LineWait::resetCarrier()
{
    m_carrierSeen = false;
    m_lowSince = -1;
}

bool LineWait::carrierGone()
{
    // A closed or failed port has no carrier to lose; its own reason is told.
    if (!m_line.hasModemLines() || !m_line.isOpen() || m_line.failed())
        return false;
    const qint64 now = m_waiter.nowMs();
    if (m_line.carrierDetect()) {
        m_carrierSeen = true;
        m_lowSince = -1;
        return false;
    }
    if (!m_carrierSeen)
        return false;
    if (m_lowSince < 0)
        m_lowSince = now;
    return now - m_lowSince >= CarrierLossMs;
}

void LineWait::beginHangUpWatch()
{
    m_watching = true;
    m_inFrame = false;
    m_end = CallEnd::None;
    m_tail.clear();
}

LineWait::CallEnd LineWait::endHangUpWatch()
{
    m_watching = false;
    return std::exchange(m_end, CallEnd::None);
}

void LineWait::lookForHangUp(const QByteArray &fresh)
{
    static const QByteArray Result("\r\nNO CARRIER\r\n");
    for (const char c : fresh) {
        if (c == 2 || c == 3) { // a portable frame's STX and ETX
            m_inFrame = c == 2;
            m_tail.clear();
            continue;
        }
        // No CR or LF is ever inside a frame: one means the frame was cut.
        if (m_inFrame && c != '\r' && c != '\n')
            continue;
        m_inFrame = false;
        m_tail += c;
        if (m_tail.size() > Result.size())
            m_tail.remove(0, m_tail.size() - Result.size());
        if (m_tail == Result)
            m_end = CallEnd::NoCarrier;
    }
}

} // namespace Tarvo
