#include "LineWait.h"

#include <QCoreApplication>
#include <QThread>

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
    received += m_line.read();
    return !m_line.failed();
}

} // namespace Tarvo
