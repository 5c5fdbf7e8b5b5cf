// The wait behind every reply Tarvo expects: let the window process its
// pending events, then sleep. RealWaiter (LineWait.h) pumps the Qt event
// loop and sleeps the thread; tests substitute a virtual clock so that a
// 1000-poll time-out costs microseconds.
#pragma once

namespace Tarvo {

class Waiter
{
public:
    virtual ~Waiter() = default;
    virtual void processEvents() = 0;
    virtual void sleepMs(int ms) = 0;
};

} // namespace Tarvo
