#include "QtSerialLine.h"

#include "HostFiles.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QMetaObject>
#include <QSerialPort>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <timeapi.h>
#endif

namespace Tarvo {

QtSerialLine::QtSerialLine(PortResolver resolver, ModemLines lines)
    : m_resolver(std::move(resolver)), m_lines(std::move(lines)),
      m_port(std::make_unique<QSerialPort>())
{
    if (!m_lines.carrier)
        m_lines.carrier = [](QSerialPort &port) {
            return port.pinoutSignals().testFlag(QSerialPort::DataCarrierDetectSignal);
        };
    if (!m_lines.ready)
        m_lines.ready = [](QSerialPort &port) {
            const QSerialPort::PinoutSignals on = port.pinoutSignals();
            return on.testFlag(QSerialPort::DataSetReadySignal) ||
                   on.testFlag(QSerialPort::ClearToSendSignal);
        };
    if (!m_lines.setDtr)
        m_lines.setDtr = [](QSerialPort &port, bool on) { return port.setDataTerminalReady(on); };
    connectPort();
}

QtSerialLine::~QtSerialLine()
{
    // The owner is going away: no notification may reach it any more. The
    // port closes itself as it goes.
    QObject::disconnect(m_port.get(), nullptr, nullptr, nullptr);
    setFineTimer(false);
}

void QtSerialLine::connectPort()
{
    QSerialPort *port = m_port.get();
    QObject::connect(port, &QSerialPort::readyRead, port, [this] { onReadyRead(); });
    QObject::connect(port, &QSerialPort::errorOccurred, port,
                     [this](QSerialPort::SerialPortError error) {
                         switch (error) {
                         case QSerialPort::ReadError:
                         case QSerialPort::WriteError:
                         case QSerialPort::ResourceError:
                             if (m_open)
                                 fail(lostReason());
                             break;
                         default:
                             // Unsupported operations only mean a line without
                             // modem-status signals; time-outs come from the
                             // zero-length waits in read(). Open errors are
                             // returned by open() itself.
                             break;
                         }
                     });
}

bool QtSerialLine::open(int port, QString *error)
{
    const auto refuse = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (m_open)
        return refuse(QStringLiteral("Port already open"));

    m_device = m_resolver ? m_resolver(port) : QString();
    if (m_device.isEmpty())
        return refuse(QStringLiteral("No device is set for COM%1").arg(port));

    // A device that failed may still be held until its release has run.
    releaseDevice();
    m_port->setPortName(m_device);
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // Opening clears the error an earlier use left; failure() counts only while failed().
    if (!m_port->open(QIODevice::ReadWrite))
        return refuse(m_port->errorString());

    ++m_generation;
    m_open = true;
    setFineTimer(true);
    m_failed = false;
    // Qt 6.4 hands out input that was waiting before the open; a stale
    // "OK" from an earlier session must not answer our first command.
    m_port->clear(QSerialPort::Input);
    m_modemLines = detectModemLines();
    return true;
}

bool QtSerialLine::detectModemLines()
{
    // Pseudo-terminals and many USB adapters refuse the modem-control
    // ioctls but carry data fine. Asking once here spares every later
    // carrier check an error.
    m_port->clearError();
    m_lines.carrier(*m_port);
    const bool works = m_port->error() == QSerialPort::NoError;
    m_port->clearError();
    return works;
}

void QtSerialLine::close()
{
    if (!m_open)
        return;
    m_open = false;
    ++m_generation;
    if (!m_failed && m_port->isOpen()) {
        // The last command may still sit in QSerialPort's buffer.
        m_port->flush();
        QDeadlineTimer deadline(WriteDrainMs);
        while (m_port->bytesToWrite() > 0 && !deadline.hasExpired()) {
            if (!m_port->waitForBytesWritten(int(deadline.remainingTime())))
                break;
        }
    }
    releaseDevice();
    setFineTimer(false);
}

void QtSerialLine::releaseDevice()
{
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
}

void QtSerialLine::setDtr(bool on)
{
    if (!m_open || m_failed || !m_modemLines)
        return;
    if (!m_lines.setDtr(*m_port, on))
        m_port->clearError();
}

bool QtSerialLine::carrierDetect() const
{
    return readStatus(m_lines.carrier);
}

bool QtSerialLine::modemReady() const
{
    return readStatus(m_lines.ready);
}

bool QtSerialLine::readStatus(const std::function<bool(QSerialPort &)> &status) const
{
    if (!m_open || m_failed || !m_modemLines || !m_port->isOpen())
        return false;
    const bool on = status(*m_port);
    if (m_port->error() != QSerialPort::NoError) {
        m_port->clearError();
        return false;
    }
    return on;
}

bool QtSerialLine::write(const QByteArray &bytes)
{
    if (!m_open || m_failed)
        return false;
    if (m_port->write(bytes) != bytes.size()) {
        fail(lostReason());
        return false;
    }
    // QSerialPort keeps written bytes until the event loop runs, but every
    // writer here goes straight into a poll loop that waits for the answer:
    // a command or frame must be on its way before the first poll. The
    // kernel takes a frame at once; waiting only happens when its buffer is
    // full, and what is still left after the bound goes out with the next
    // event pass.
    m_port->flush();
    QDeadlineTimer deadline(WriteDrainMs);
    while (!m_failed && m_port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port->waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    if (!m_failed)
        m_port->clearError();
    return !m_failed;
}

QByteArray QtSerialLine::read()
{
    if (!m_open || m_failed || !m_port->isOpen())
        return {};
    if (m_mode == Mode::Idle)
        return m_port->read(1);

    // QSerialPort looks at the device only when its notifier fires; a poll
    // that has just slept must see what arrived meanwhile, so pull it in now.
    // A zero wait that finds nothing reports a time-out, which means nothing.
    for (int chunk = 0; chunk < 4 && !m_failed; ++chunk) {
        if (!m_port->waitForReadyRead(0))
            break;
    }
    if (!m_failed)
        m_port->clearError();
    return m_port->readAll();
}

void QtSerialLine::setMode(Mode mode)
{
    m_mode = mode;
    if (mode != Mode::Idle)
        return;
    // Bytes that came in while in job mode raised no notification, and no new
    // one may come for them: look again once the current event is done.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        m_port.get(),
        [this, generation] {
            if (generation == m_generation)
                notifyIfBuffered();
        },
        Qt::QueuedConnection);
}

void QtSerialLine::onReadyRead()
{
    notifyIfBuffered();
}

void QtSerialLine::notifyIfBuffered()
{
    if (!m_open || m_failed || m_mode != Mode::Idle || m_port->bytesAvailable() == 0)
        return;
    notifyReceive();
}

QString QtSerialLine::lostReason() const
{
    // Qt 6.4 words a device that went away with whatever errno an earlier
    // call left behind ("Inappropriate ioctl for device" from the modem-line
    // probe, "Permission denied" from the lock file). What is wrong now is
    // asked of the device itself: a pulled adapter or a closed
    // pseudo-terminal is gone from its path.
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(m_device).constData(), &st) != 0)
        return m_device + QStringLiteral(": ") + systemErrorText(errno);
    // A terminal that was hung up (a modem dropping the line without
    // CLOCAL, a vhangup) reads end-of-file, which sets no errno at all: the
    // device itself says so.
    pollfd device = {int(m_port->handle()), POLLIN, 0};
    if (m_port->isOpen() && ::poll(&device, 1, 0) == 1 && (device.revents & POLLHUP))
        return m_device + QStringLiteral(": the line was hung up");
#endif
    return m_port->errorString();
}

void QtSerialLine::fail(const QString &text)
{
    if (m_failed)
        return;
    m_failed = true;
    m_failure = text.isEmpty() ? QStringLiteral("Input/output error") : text;
    // We are inside QSerialPort's own signal here, so the device cannot be
    // closed yet. Qt 6.4 repeats the read error on every event pass until the
    // port is closed (later errors are ignored above), so release it on the
    // very next pass and tell the owner then, once.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        m_port.get(),
        [this, generation] {
            if (generation != m_generation)
                return; // closed (or reopened) by the owner meanwhile
            releaseDevice();
            notifyLost();
        },
        Qt::QueuedConnection);
}

void QtSerialLine::setFineTimer(bool on)
{
    // The system counts the raises: each one is lowered exactly once.
    if (on == m_fineTimer)
        return;
#ifdef Q_OS_WIN
    if (on && timeBeginPeriod(1) != TIMERR_NOERROR)
        return;
    if (!on)
        timeEndPeriod(1);
#endif
    m_fineTimer = on;
}

} // namespace Tarvo
