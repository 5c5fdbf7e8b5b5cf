// The serial line to the modem, as the rest of Tarvo sees it.
//
// A line is opened by COM number (1..4) at 9600 bit/s, no parity, 8 data
// bits, 1 stop bit. It has two modes:
//   - Idle: arriving data raises the receive notification, and each read()
//     takes at most one byte; the rest stays buffered for the next read.
//   - Job:  no notifications; each read() returns everything pending.
// Bytes cross the line unchanged, 0..255 both ways.
//
// Lines without modem-status signals (pseudo-terminals, many USB adapters)
// are ordinary here: hasModemLines() says so once per open, DTR changes on
// them are silently ignored, and callers infer the carrier from the call
// state instead of reading it.
//
// modemReady() is DSR or CTS, which a powered modem keeps on (DSR in its
// factory setting). A line that cannot read them reads it as off; callers
// believe an off only once they have seen it on since the open, since an
// unwired pin reads off as well.
//
// A line whose device vanished (an adapter pulled) reports failed(), and why
// in failure(): writes return false and reads return nothing from then on;
// the lost notification fires once. A closed line likewise reads nothing and
// takes no writes.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace Tarvo {

class SerialLine
{
public:
    enum class Mode { Idle, Job };

    virtual ~SerialLine() = default;

    // Opens COM<port>; on failure fills *error with the platform's description.
    virtual bool open(int port, QString *error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual void setDtr(bool on) = 0;
    virtual bool carrierDetect() const = 0;
    virtual bool hasModemLines() const = 0;
    virtual bool modemReady() const { return false; }

    virtual bool write(const QByteArray &bytes) = 0;
    virtual QByteArray read() = 0;

    virtual void setMode(Mode mode) = 0;
    virtual Mode mode() const = 0;

    virtual bool failed() const = 0;
    virtual QString failure() const = 0;

    // Receive notification in idle mode; called on the user-interface thread.
    void setReceiveHandler(std::function<void()> handler) { m_onReceive = std::move(handler); }
    // Called once when an open line is lost (device gone, I/O error).
    void setLostHandler(std::function<void()> handler) { m_onLost = std::move(handler); }

protected:
    // Never raised recursively: a job runs inside the notification, and the
    // event passes of its waits must not start another one.
    void notifyReceive()
    {
        if (!m_onReceive || m_notifying)
            return;
        m_notifying = true;
        m_onReceive();
        m_notifying = false;
    }
    void notifyLost()
    {
        if (m_onLost)
            m_onLost();
    }

private:
    std::function<void()> m_onReceive;
    std::function<void()> m_onLost;
    bool m_notifying = false;
};

} // namespace Tarvo
