// LineWait is the one polling primitive every reply wait is built from:
// process pending events, sleep 10 ms, read what the line has.
//
// A wait can be cut short: when the device is lost, or when the server asks
// all waits to end (Stop or Exit chosen while an operation runs). poll() then
// returns false and the caller unwinds as from a failed wait.
//
// On a line without carrier detect the modem's "NO CARRIER" reaches a job
// as data. While a job watches for it, every poll looks at what it read for
// that result line (CR LF framed, outside any portable frame, whose STX..ETX
// a file's words cannot leave) and, once seen, ends all waits as a lost
// carrier.
#pragma once

#include "SerialLine.h"
#include "Waiter.h"

namespace Tarvo {

// Qt's event loop and a real sleep.
class RealWaiter final : public Waiter
{
public:
    void processEvents() override;
    void sleepMs(int ms) override;
};

class LineWait
{
public:
    static constexpr int PollMs = 10;
    static constexpr int MaxPolls = 1000;

    LineWait(SerialLine &line, Waiter &waiter) : m_line(line), m_waiter(waiter) {}

    // One poll; appends what arrived to received. False when the wait must end.
    bool poll(QByteArray &received);
    // Process events and sleep one poll period without reading.
    bool pause();

    void requestAbort() { m_abort = true; }
    void clearAbort() { m_abort = false; }
    bool aborted() const { return m_abort || m_carrierLost || m_line.failed(); }

    // Starts looking for the modem's "NO CARRIER" in what polls read.
    void beginHangUpWatch();
    // Stops looking; true when it was seen (the waits end no longer).
    bool endHangUpWatch();
    bool carrierLost() const { return m_carrierLost; }

    SerialLine &line() { return m_line; }
    Waiter &waiter() { return m_waiter; }

private:
    void lookForHangUp(const QByteArray &fresh);

    SerialLine &m_line;
    Waiter &m_waiter;
    bool m_abort = false;
    bool m_watching = false;
    bool m_inFrame = false;
    bool m_carrierLost = false;
    QByteArray m_tail; // the end of what came outside frames
};

} // namespace Tarvo
