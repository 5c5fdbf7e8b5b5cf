// The wait behind every reply Tarvo expects: let the window process its
// pending events, then sleep. RealWaiter (LineWait.h) pumps the Qt event
// loop and sleeps the thread; tests substitute a virtual clock so that a
// 1000-poll time-out costs microseconds.
//
// A wait's clock: times that matter beyond counting polls (how long carrier
// detect has been low, when the modem is due for another try) are read here,
// since a poll takes its sleep plus whatever the event processing took.
#pragma once

#include <QtGlobal>

namespace Tarvo {

class Waiter
{
public:
    virtual ~Waiter() = default;
    virtual void processEvents() = 0;
    virtual void sleepMs(int ms) = 0;
    // Milliseconds on a steady clock; only differences mean anything.
    virtual qint64 nowMs() const = 0;
};

} // namespace Tarvo
