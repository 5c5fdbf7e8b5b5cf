// The serial line on a real device, through QSerialPort.
//
// COM1..COM4 become devices through a resolver (normally the Ports group of
// the settings store), so a test or the simulator can hand in a
// pseudo-terminal. The port runs at 9600,N,8,1 without flow control; input
// that was waiting before the open is discarded.
//
// Job-mode reads pull from the device directly instead of waiting for the
// event loop, so a poll sees what arrived during its sleep. Idle mode turns
// each arrival of data into one receive notification; the handler drains the
// buffer a byte at a time.
//
// Whether the device has modem-status lines is found out once per open, by
// reading the carrier-detect line: a device without them refuses the read.
// The carrier and DSR reads and the DTR change can be handed in, so that a
// test can stand in for a port that has the lines (a pseudo-terminal has
// none). modemReady() is DSR or CTS, read together in one request.
// A read or write error means the device is gone: the line fails once, the
// device is released on the next event pass and the lost notification fires
// then, never from inside QSerialPort's own signal.
//
// On Windows the system timer runs at 1 ms while the port is open
// (timeBeginPeriod), so that the waits' 10 ms sleeps last 10 ms there too
// rather than a whole default tick of 15.6 ms.
#pragma once

#include "SerialLine.h"

#include <QString>
#include <functional>
#include <memory>

class QSerialPort;

namespace Tarvo {

class QtSerialLine final : public SerialLine
{
public:
    // Maps a COM number (1..4) to a device name or path.
    using PortResolver = std::function<QString(int)>;

    // The modem-status lines of the open port. A port without them refuses
    // both calls and leaves an error on itself. QSerialPort's own calls
    // stand in for any that is not given.
    struct ModemLines
    {
        std::function<bool(QSerialPort &)> carrier;
        std::function<bool(QSerialPort &, bool on)> setDtr; // false: refused
        std::function<bool(QSerialPort &)> ready;           // DSR or CTS
    };

    explicit QtSerialLine(PortResolver resolver, ModemLines lines = {});
    ~QtSerialLine() override;

    QtSerialLine(const QtSerialLine &) = delete;
    QtSerialLine &operator=(const QtSerialLine &) = delete;

    bool open(int port, QString *error) override;
    void close() override;
    bool isOpen() const override { return m_open; }

    void setDtr(bool on) override;
    bool carrierDetect() const override;
    bool hasModemLines() const override { return m_modemLines; }
    bool modemReady() const override;

    bool write(const QByteArray &bytes) override;
    QByteArray read() override;

    void setMode(Mode mode) override;
    Mode mode() const override { return m_mode; }

    bool failed() const override { return m_failed; }
    QString failure() const override { return m_failure; }

    // The device the last open() used.
    QString deviceName() const { return m_device; }

private:
    static constexpr int WriteDrainMs = 2000;

    void connectPort();
    bool detectModemLines();
    // Reads one modem-status line; a refused read reads as off.
    bool readStatus(const std::function<bool(QSerialPort &)> &status) const;
    void onReadyRead();
    void notifyIfBuffered();
    void fail(const QString &text);
    // Why the device failed, in the system's words of now.
    QString lostReason() const;
    void releaseDevice();
    // The 1 ms system timer on Windows, raised and lowered in pairs.
    void setFineTimer(bool on);

    PortResolver m_resolver;
    ModemLines m_lines;
    std::unique_ptr<QSerialPort> m_port;
    QString m_device;
    Mode m_mode = Mode::Job;
    bool m_open = false;
    bool m_modemLines = false;
    bool m_failed = false;
    bool m_fineTimer = false;
    QString m_failure;
    // Counts opens and closes, so that work queued for one open never
    // touches the next.
    quint64 m_generation = 0;
};

} // namespace Tarvo
