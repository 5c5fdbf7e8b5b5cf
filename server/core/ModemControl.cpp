#include "ModemControl.h"

#include "Configuration.h"
#include "ModemCommands.h"

#include <QDeadlineTimer>

namespace Tarvo {

using namespace ModemText;

namespace {
const QString HangUpQuestion = QStringLiteral("Hang up (disconnect) modem?");
} // namespace

ModemControl::ModemControl(LineWait &wait, Reporter &reporter, Prompter &prompter,
                           ServerControls &controls, ServerState &state,
                           const Configuration &config)
    : m_wait(wait), m_reporter(reporter), m_prompter(prompter), m_controls(controls),
      m_state(state), m_config(config)
{
}

void ModemControl::setBusy(bool busy)
{
    if (busy) {
        if (m_busyDepth++ == 0) {
            m_controls.setStartStopEnabled(false);
            m_controls.setBusy(true);
        }
        return;
    }
    if (--m_busyDepth == 0) { // only the scope calls this, in pairs
        m_controls.setBusy(false);
        m_controls.setStartStopEnabled(true);
    }
}

bool ModemControl::WaitForModemOK(bool *refused, QByteArray *replyOut, int maxPolls)
{
    QByteArray local;
    QByteArray &reply = replyOut ? *replyOut : local;
    for (int polls = 0; polls < maxPolls;) {
        const bool alive = m_wait.poll(reply);
        ++polls;
        if (reply.contains(OkReply))
            return true;
        if (refused && reply.contains(ErrorReply)) {
            *refused = true;
            return false;
        }
        // A Stop or Exit handled inside the poll may have closed the port.
        if (!alive || !m_wait.line().isOpen())
            return false;
    }
    return false;
}

bool ModemControl::sendCommand(const QByteArray &command, bool *refused, int maxPolls)
{
    // A write that does not get out ends the command like a silent modem.
    if (!m_wait.line().write(command))
        return false;
    return WaitForModemOK(refused, nullptr, maxPolls);
}

bool ModemControl::interrupted(bool lineOpen)
{
    const bool lost = m_wait.line().failed();
    // A Stop or Exit handled inside the wait may have closed the port, or one
    // chosen during it cut the wait short and takes over once it unwinds:
    // either way the waiting operation has nothing to report and no
    // hang-up of its own to do.
    const bool cut = lost || !m_state.PortOpened || !m_wait.line().isOpen() || m_wait.aborted();
    // Whatever is reported next starts a line of its own.
    if (cut && lineOpen)
        m_reporter.AppendStatus(QLatin1String(CrLf));
    if (lost)
        handlePortLost();
    return cut;
}

void ModemControl::closePort()
{
    m_armed = false;
    m_wait.line().close();
}

bool ModemControl::carrierPresent() const
{
    const SerialLine &line = m_wait.line();
    if (line.isOpen() && line.hasModemLines())
        return line.carrierDetect();
    return m_state.Connected;
}

void ModemControl::OpenModemPort()
{
    const int port = m_config.ModemPort;
    m_reporter.clearStatus();
    m_reporter.AppendStatus(QStringLiteral("Open COM") + QString::number(port) + Ellipsis);

    QString error;
    if (!m_wait.line().open(port, &error)) {
        m_prompter.beep();
        m_reporter.AppendStatus(
            line(Failed) + line(error) +
                line(QStringLiteral("Please change your modem port, then click Start to retry.")),
            ColourRed);
        m_reporter.SetTrayTip(QStringLiteral("Open COM") + Failed);
        m_state.PortOpened = false;
        m_controls.setCloseCaption(QStringLiteral("Exit"));
        return;
    }

    m_lostReported = false;
    ++m_opens;
    m_reporter.AppendStatus(line(Ok));
    m_controls.setSettingsEnabled(false);
    m_state.PortOpened = true;
    m_controls.setCloseCaption(QStringLiteral("Hide"));
}

void ModemControl::InitializeModem()
{
    BusyScope busy(*this);
    // A fresh start: an abort asked of earlier waits does not apply to it.
    m_wait.clearAbort();
    m_serverOn = true;
    ++m_starts;

    OpenModemPort();
    if (!m_state.PortOpened)
        return;

    SerialLine &serial = m_wait.line();
    m_reporter.AppendStatus(QStringLiteral("Initialize modem") + Ellipsis);
    serial.setDtr(true);
    serial.setMode(SerialLine::Mode::Job);

    if (sendCommand(InitCommand)) {
        m_reporter.AppendStatus(line(Ok));
        m_state.AutoAnswerOn = true;
        if (StartAutoAnswer()) {
            m_controls.setStartStop(ServerControls::StartStop::Stop);
        } else if (!interrupted()) {
            closeDown(CallAnswer::Ask);
            m_controls.setSettingsEnabled(true);
        }
        return;
    }

    if (interrupted(true))
        return;
    m_prompter.beep();
    m_reporter.AppendStatus(line(Failed) + line(CheckModem), ColourRed);
    m_reporter.SetTrayTip(QStringLiteral("Initialize modem") + Failed);
    m_state.AutoAnswerOn = false;
    closeDown(CallAnswer::Ask);
    m_controls.setSettingsEnabled(true);
}

bool ModemControl::StartAutoAnswer()
{
    SerialLine &serial = m_wait.line();
    m_reporter.clearStatus();
    m_reporter.AppendStatus(QStringLiteral("Start auto answer") + Ellipsis);
    serial.setDtr(true);
    serial.setMode(SerialLine::Mode::Job);

    // After a call that ended in the middle of a file, the modem may have
    // taken the tail of a frame that was on its way when the carrier dropped
    // as the start of a command line (a file's "AT" is enough), and reads
    // "ATS0=1" behind it as a wrong command. Its "ERROR" is met by sending
    // the command once more, to a clean command line.
    m_armed = false;
    if (arm()) {
        showWaiting(line(Ok));
        return true;
    }

    if (interrupted(true))
        return false;
    m_prompter.beep();
    m_reporter.AppendStatus(line(Failed) + line(CheckModem), ColourRed);
    m_reporter.SetTrayTip(QStringLiteral("Auto answer failed"));
    // The modem stays heard: a late or unasked "OK" from it is noticed.
    serial.setMode(SerialLine::Mode::Idle);
    return false;
}

bool ModemControl::arm()
{
    bool refused = false;
    const bool armed = sendCommand(AutoAnswerCommand, &refused);
    return armed || (refused && sendCommand(AutoAnswerCommand));
}

void ModemControl::showWaiting(const QString &before)
{
    m_armed = true;
    m_armedAt = m_wait.waiter().nowMs();
    m_restartDue = false;
    m_reporter.AppendStatus(before + line(QStringLiteral("Waiting call ...")));
    m_reporter.SetTrayTip(QStringLiteral("Waiting call ..."));
    m_wait.line().setMode(SerialLine::Mode::Idle);
}

QString ModemControl::hangUpQuestion()
{
    return HangUpQuestion;
}

bool ModemControl::askHangUp()
{
    return m_prompter.askYesNo(HangUpQuestion);
}

void ModemControl::askHangUpLater(std::function<void(bool yes)> answered)
{
    m_prompter.askYesNoLater(HangUpQuestion, std::move(answered));
}

void ModemControl::HangUp(CallAnswer answer)
{
    // A Stop or an Exit: the server is off unless the call was kept.
    if (closeDown(answer))
        m_serverOn = false;
}

bool ModemControl::closeDown(CallAnswer answer)
{
    BusyScope busy(*this);
    if (!m_state.PortOpened)
        return true;

    SerialLine &serial = m_wait.line();
    if (serial.failed()) {
        handlePortLost();
        return true;
    }

    const SerialLine::Mode before = serial.mode();
    serial.setMode(SerialLine::Mode::Job);

    if (callUp()) {
        const bool end = answer == CallAnswer::Ask ? askHangUp() : answer == CallAnswer::EndCall;
        if (!end) {
            // Everything stays as it was. Outside a job that includes idle
            // mode: without it the server would stop noticing calls until
            // the next Stop and Start. Inside a job the job restores it.
            if (before == SerialLine::Mode::Idle)
                serial.setMode(SerialLine::Mode::Idle);
            return false;
        }
        endCall();
    }

    if (!m_state.Connected && m_state.AutoAnswerOn && !serial.failed()) {
        // A modem that stays silent here is of no concern: the port closes anyway.
        if (sendCommand(AutoAnswerOffCommand))
            m_reporter.AppendStatus(line(QStringLiteral("Stop auto answer") + Ellipsis + Ok));
    }

    closeAfterHangUp();
    return true;
}

void ModemControl::closeAfterHangUp()
{
    closePort();
    m_state.PortOpened = false;
    m_state.AutoAnswerOn = false; // a closed port arms nothing: a start must arm anew
    m_state.Connected = false;
    if (m_wait.line().failed()) {
        handlePortLost();
        return;
    }
    m_reporter.AppendStatus(line(QStringLiteral("Not connected")));
    m_reporter.SetTrayTip(QStringLiteral("Not connected"));
    m_controls.setStartStop(ServerControls::StartStop::Start);
    m_controls.setCloseCaption(QStringLiteral("Exit"));
}

void ModemControl::endCall()
{
    m_reporter.AppendStatus(line(QStringLiteral("Hanging up ...")));
    m_reporter.SetTrayTip(QStringLiteral("Hanging up ..."));
    escapeAndHangUp([this](const QByteArray &command) { return sendCommand(command); });
    if (m_state.Connected)
        forceHangUp();
}

bool ModemControl::escapeAndHangUp(const std::function<bool(const QByteArray &)> &command)
{
    m_wait.line().setDtr(true);
    if (!command(EscapeCommand))
        return false;
    m_reporter.AppendStatus(line(QStringLiteral("+++OK")));
    if (!command(HangUpCommand))
        return false;
    m_reporter.AppendStatus(line(QStringLiteral("ATH0 OK")) + line(QStringLiteral("Hang up done")));
    m_state.Connected = false;
    return true;
}

void ModemControl::forceHangUp()
{
    SerialLine &serial = m_wait.line();
    serial.setDtr(false);
    // Without modem-status lines neither the DTR drop nor the carrier can be
    // seen: watching would only burn ten seconds. Connected then stays set,
    // so no "ATS0=0" goes to a modem that may still hold the call, and the
    // close that follows clears it. A wait that was cut short (device gone,
    // Exit) does not watch either.
    if (!serial.hasModemLines() || m_wait.aborted() || !serial.isOpen())
        return;
    for (int polls = 0; polls < LineWait::MaxPolls && serial.carrierDetect(); ++polls) {
        if (!m_wait.pause())
            break;
    }
    if (!serial.carrierDetect())
        m_state.Connected = false;
}

void ModemControl::handlePortLost()
{
    SerialLine &serial = m_wait.line();
    if (!serial.failed() || m_lostReported)
        return;
    m_lostReported = true;

    m_prompter.beep();
    m_reporter.AppendStatus(
        QStringLiteral("Modem port lost: ") + line(serial.failure()) +
            line(
                QStringLiteral("Please check the modem and its cable, then click Start to retry.")),
        ColourRed);
    m_reporter.SetTrayTip(QStringLiteral("Modem port lost"));
    closeQuietly();
    m_controls.setStartStopEnabled(true);
}

void ModemControl::closeQuietly()
{
    closePort();
    m_state.PortOpened = false;
    m_state.AutoAnswerOn = false; // a closed port arms nothing: a start must arm anew
    m_state.Connected = false;
    m_controls.setStartStop(ServerControls::StartStop::Start);
    m_controls.setCloseCaption(QStringLiteral("Exit"));
    m_controls.setSettingsEnabled(true);
}

void ModemControl::HangUpNow()
{
    m_serverOn = false; // no try of the recovery follows the end
    if (!m_state.PortOpened)
        return;
    SerialLine &serial = m_wait.line();
    if (serial.failed()) {
        handlePortLost();
        return;
    }
    serial.setMode(SerialLine::Mode::Job);

    // One budget for every command: a silent modem cannot stretch the end.
    const QDeadlineTimer deadline(HangUpNowMs);
    int polls = HangUpNowMs / LineWait::PollMs;
    const auto command = [&](const QByteArray &text) {
        if (!serial.write(text))
            return false;
        QByteArray reply;
        while (polls > 0 && !deadline.hasExpired()) {
            m_wait.waiter().sleepMs(LineWait::PollMs);
            --polls;
            reply += serial.read();
            if (reply.contains(OkReply))
                return true;
        }
        return false;
    };

    if (callUp()) {
        m_reporter.AppendStatus(line(QStringLiteral("Hanging up ...")));
        escapeAndHangUp(command);
        // Not watched: the close that follows drops DTR as well.
        if (m_state.Connected)
            serial.setDtr(false);
    }
    if (!m_state.Connected && m_state.AutoAnswerOn && command(AutoAnswerOffCommand))
        m_reporter.AppendStatus(line(QStringLiteral("Stop auto answer") + Ellipsis + Ok));

    closeAfterHangUp();
}

} // namespace Tarvo
