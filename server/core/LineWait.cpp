#include "LineWait.h"

#include <QCoreApplication>
#include <QThread>
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
        watchCarrier();
    }
    return !aborted();
}

void LineWait::beginHangUpWatch(bool carrierSeen)
{
    m_watching = true;
    m_inFrame = false;
    m_carrierLost = false;
    m_carrierSeen = carrierSeen;
    m_tail.clear();
}

bool LineWait::endHangUpWatch()
{
    m_watching = false;
    return std::exchange(m_carrierLost, false);
}

void LineWait::watchCarrier()
{
    // A closed or failed port has no carrier to lose; its own reason is told.
    if (!m_line.hasModemLines() || !m_line.isOpen() || m_line.failed())
        return;
    if (m_line.carrierDetect())
        m_carrierSeen = true;
    else if (m_carrierSeen)
        m_carrierLost = true;
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
        if (m_inFrame)
            continue;
        m_tail += c;
        if (m_tail.size() > Result.size())
            m_tail.remove(0, m_tail.size() - Result.size());
        if (m_tail == Result)
            m_carrierLost = true;
    }
}

} // namespace Tarvo
