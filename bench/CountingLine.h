// Pass-through stand-ins that count: CountingLine counts the bytes in each
// direction (what the protocol really had to move) and the time spent in
// the line's own reads and writes; TimingWaiter counts the polls and the
// time their event passes and sleeps really took. Together they show where
// a transfer's time goes.
#pragma once

#include "LineWait.h"
#include "SerialLine.h"

#include <QElapsedTimer>
#include <functional>

namespace Tarvo::Bench {

class CountingLine final : public SerialLine
{
public:
    explicit CountingLine(SerialLine &inner) : m_inner(inner)
    {
        m_inner.setReceiveHandler([this] { notifyReceive(); });
        m_inner.setLostHandler([this] { notifyLost(); });
    }

    bool open(int port, QString *error) override { return m_inner.open(port, error); }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    void setDtr(bool on) override { m_inner.setDtr(on); }
    bool carrierDetect() const override { return m_inner.carrierDetect(); }
    bool hasModemLines() const override { return m_inner.hasModemLines(); }
    bool modemReady() const override { return m_inner.modemReady(); }
    bool write(const QByteArray &bytes) override
    {
        written += bytes.size();
        if (onWrite)
            onWrite(bytes);
        QElapsedTimer clock;
        clock.start();
        const bool ok = m_inner.write(bytes);
        writeNs += clock.nsecsElapsed();
        return ok;
    }
    QByteArray read() override
    {
        QElapsedTimer clock;
        clock.start();
        const QByteArray bytes = m_inner.read();
        readNs += clock.nsecsElapsed();
        received += bytes.size();
        return bytes;
    }
    void setMode(Mode mode) override { m_inner.setMode(mode); }
    Mode mode() const override { return m_inner.mode(); }
    bool failed() const override { return m_inner.failed(); }
    QString failure() const override { return m_inner.failure(); }

    std::function<void(const QByteArray &)> onWrite; // each write, before it goes out
    qint64 written = 0;
    qint64 received = 0;
    qint64 writeNs = 0;
    qint64 readNs = 0;

private:
    SerialLine &m_inner;
};

class TimingWaiter final : public Waiter
{
public:
    void processEvents() override
    {
        QElapsedTimer clock;
        clock.start();
        m_real.processEvents();
        eventsNs += clock.nsecsElapsed();
    }
    void sleepMs(int ms) override
    {
        QElapsedTimer clock;
        clock.start();
        m_real.sleepMs(ms);
        sleepNs += clock.nsecsElapsed();
        ++sleeps;
    }
    qint64 nowMs() const override { return m_real.nowMs(); }

    qint64 sleeps = 0;
    qint64 sleepNs = 0;
    qint64 eventsNs = 0;

private:
    RealWaiter m_real;
};

} // namespace Tarvo::Bench
