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
//   - the modem's own "NO CARRIER" in what the poll read, CR LF framed and
//     outside any portable frame. A job reads everything, so the result
//     line reaches it as data, on every kind of line: one whose carrier
//     detect is not wired reports modem signals but never a carrier.
//     A portable frame runs from its STX to its ETX and never holds a raw
//     CR or LF: its data travels escaped (bytes 0..31 as "\" and b + 128),
//     its header and checksum are neither. So a CR or LF inside a frame
//     means the frame was cut short by the end of the call, and it is read
//     as the modem's again; the words of a file, escaped inside their
//     frame, never match.
//   - carrier detect gone, once it has been seen high in this call (before
//     that it proves nothing: the pin may not be wired). Gone means low for
//     CarrierLossMs on the waiter's clock, not at one reading: a modem holds
//     its call through a short dip (a line hit, a retrain), and the line
//     must not be given up under it.
//
// The carrier's state belongs to the call, not to one job: it is reset when
// a call begins or ends, and read between jobs too (carrierGone()), by the
// readiness rule's timer every PollMs, as finely as a job's polls read it:
// one rule for a dip, in a job and between jobs.
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
    qint64 nowMs() const override;
};

class LineWait
{
public:
    static constexpr int PollMs = 10;
    static constexpr int MaxPolls = 1000;
    // Dips from line hits and retrains last tens of milliseconds (80 ms in
    // the case that showed it); most modems give a call up themselves only
    // after 1.4 s without carrier (S10). Half a second leaves a dip six
    // times that room and still notices a real hang-up before the modem's
    // own "NO CARRIER" would come.
    static constexpr int CarrierLossMs = 500;

    // How a watched call was seen to end.
    enum class CallEnd { None, NoCarrier, CarrierDropped };

    LineWait(SerialLine &line, Waiter &waiter) : m_line(line), m_waiter(waiter) {}

    // One poll; appends what arrived to received. False when the wait must end.
    bool poll(QByteArray &received);
    // Process events and sleep one poll period without reading.
    bool pause();

    void requestAbort() { m_abort = true; }
    void clearAbort() { m_abort = false; }
    bool aborted() const { return m_abort || carrierLost() || m_line.failed(); }

    // A call begins or has ended: carrier detect not seen high yet.
    void resetCarrier();
    // Reads carrier detect where the line has it: true once it has been
    // seen high in this call and low for CarrierLossMs since.
    bool carrierGone();
    bool carrierSeen() const { return m_carrierSeen; }

    // Starts watching for the end of the call.
    void beginHangUpWatch();
    // Stops watching; says how the call was seen to end, if it was (the
    // waits end no longer).
    CallEnd endHangUpWatch();
    bool carrierLost() const { return m_end != CallEnd::None; }

    SerialLine &line() { return m_line; }
    Waiter &waiter() { return m_waiter; }

private:
    void lookForHangUp(const QByteArray &fresh);

    SerialLine &m_line;
    Waiter &m_waiter;
    bool m_abort = false;
    bool m_watching = false;
    bool m_inFrame = false;
    CallEnd m_end = CallEnd::None;
    bool m_carrierSeen = false;
    qint64 m_lowSince = -1; // when carrier detect was first read low, -1 while high
    QByteArray m_tail;      // the end of what came outside frames
};

} // namespace Tarvo
