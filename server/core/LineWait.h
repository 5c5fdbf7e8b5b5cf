// LineWait is the one polling primitive every reply wait is built from:
// process pending events, sleep 10 ms, read what the line has.
//
// A wait can be cut short: when the device is lost, or when the server asks
// all waits to end (Stop or Exit chosen while an operation runs). poll() then
// returns false and the caller unwinds as from a failed wait.
//
// While a job watches for the end of the call, every poll also looks for
// the signs that the line is dead and, at the first one, ends all waits as
// a lost carrier:
//   - the modem's own "NO CARRIER" in what the poll read (CR LF framed,
//     outside any portable frame, whose STX..ETX a file's words cannot
//     leave). A job reads everything, so the result line reaches it as data,
//     on every kind of line: one whose carrier detect is not wired reports
//     modem signals but never a carrier.
//   - carrier detect gone low, once it has been seen high in this call.
//     Before that it proves nothing: the pin may not be wired.
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

    // Starts watching for the end of the call; carrierSeen: carrier detect
    // has been high in this call already.
    void beginHangUpWatch(bool carrierSeen);
    // Stops watching; true when the call was seen to end (the waits end no
    // longer).
    bool endHangUpWatch();
    bool carrierLost() const { return m_carrierLost; }

    SerialLine &line() { return m_line; }
    Waiter &waiter() { return m_waiter; }

private:
    void lookForHangUp(const QByteArray &fresh);
    void watchCarrier();

    SerialLine &m_line;
    Waiter &m_waiter;
    bool m_abort = false;
    bool m_watching = false;
    bool m_inFrame = false;
    bool m_carrierLost = false;
    bool m_carrierSeen = false;
    QByteArray m_tail; // the end of what came outside frames
};

} // namespace Tarvo
