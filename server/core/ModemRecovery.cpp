#include "ModemRecovery.h"

#include "Configuration.h"
#include "ModemCommands.h"

#include <QList>
#include <utility>

namespace Tarvo {

using namespace ModemText;

namespace {

const QByteArray AutoAnswerQuery = QByteArrayLiteral("ATS0?\r");
const QByteArray Attention = QByteArrayLiteral("AT\r");
const QByteArray NoCarrierReply = QByteArrayLiteral("NO CARRIER\r\n");

bool digitsOnly(const QByteArray &text)
{
    bool digits = !text.isEmpty();
    for (const char c : text)
        digits = digits && c >= '0' && c <= '9';
    return digits;
}

// What a step read, sorted: the register (a line of digits before the
// "OK"), and every other whole line for the call handling, as lines, with
// an unfinished one as it came, to be ended there.
struct Lines
{
    std::optional<int> reg;
    QByteArray other;
    bool call = false; // a RING or CONNECT among them
};

Lines sortLines(const QByteArray &reply, bool keepNoCarrier)
{
    Lines lines;
    const QList<QByteArray> parts = reply.split('\n');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QByteArray text = parts[i].trimmed();
        if (digitsOnly(text) && !lines.reg) {
            lines.reg = text.toInt();
            continue;
        }
        if (text.isEmpty() || text == "OK" || text == "ERROR" ||
            (!keepNoCarrier && text == "NO CARRIER"))
            continue;
        lines.other += CrLf + text + CrLf;
        lines.call = lines.call || text.contains("RING") || text.contains("CONNECT");
    }
    lines.other += parts.last();
    lines.call = lines.call || parts.last().contains("CONNECT");
    return lines;
}

} // namespace

bool ModemRecovery::cut() const
{
    const LineWait &wait = m_modem.m_wait;
    const SerialLine &serial = m_modem.m_wait.line();
    return !serial.isOpen() || serial.failed() || wait.aborted();
}

ModemRecovery::Answer ModemRecovery::heard(const QByteArray &reply)
{
    if (reply.contains(OkReply))
        return Answer::Ok;
    if (reply.contains(ErrorReply))
        return Answer::Error;
    if (reply.contains(NoCarrierReply))
        return Answer::NoCarrier;
    if (reply.contains("RING") || reply.contains("CONNECT"))
        return Answer::Call;
    return Answer::Silent;
}

ModemRecovery::Answer ModemRecovery::listen(int maxPolls, QByteArray &reply)
{
    LineWait &wait = m_modem.m_wait;
    for (int polls = 0; polls < maxPolls; ++polls) {
        if (!wait.poll(reply) || !wait.line().isOpen())
            return Answer::Cut;
        if (const Answer answer = heard(reply); answer != Answer::Silent)
            return answer;
    }
    return Answer::Silent;
}

ModemRecovery::Answer ModemRecovery::listenUntil(qint64 untilMs, QByteArray &reply)
{
    LineWait &wait = m_modem.m_wait;
    while (wait.waiter().nowMs() < untilMs) {
        if (!wait.poll(reply) || !wait.line().isOpen())
            return Answer::Cut;
        if (const Answer answer = heard(reply); answer != Answer::Silent)
            return answer;
    }
    return Answer::Silent;
}

ModemRecovery::Answer ModemRecovery::command(const QByteArray &text, int maxPolls,
                                             QByteArray &reply)
{
    SerialLine &serial = m_modem.m_wait.line();
    if (!serial.write(text))
        return serial.failed() ? Answer::Cut : Answer::Silent;
    return listen(maxPolls, reply);
}

ModemRecovery::Restart ModemRecovery::restart(int attempt, int nextTrySeconds)
{
    ModemControl &modem = m_modem;
    ModemControl::BusyScope busy(modem);
    modem.m_wait.clearAbort();
    modem.m_restartDue = false;
    SerialLine &serial = modem.m_wait.line();
    Reporter &reporter = modem.m_reporter;
    // Open after a failed re-arm or an unasked "OK": the start is made afresh.
    if (modem.m_state.PortOpened)
        modem.closeQuietly();
    reporter.clearStatus();
    reporter.AppendStatus(QStringLiteral("Restarting modem, try %1").arg(attempt) + Ellipsis);

    const auto failed = [&](const QString &what, const QString &tip) {
        modem.closeQuietly();
        const QString next = nextTrySeconds > 0
                                 ? QStringLiteral(", next try in %1 s").arg(nextTrySeconds)
                                 : QString();
        reporter.AppendStatus(QStringLiteral(" ") + line(what + next), ColourRed);
        reporter.SetTrayTip(tip);
        // Nobody hears a beep a minute through the night; the last try beeps.
        if (nextTrySeconds <= 0)
            modem.m_prompter.beep();
        return Restart::Failed;
    };
    // After a command that got no "OK": lost, cut short, or a silent modem.
    const auto stepFailed = [&](const QString &step, const QString &tip) {
        if (serial.failed()) {
            modem.m_lostReported = true; // said on this line, not again by the notification
            return failed(QStringLiteral("Modem port lost: ") + serial.failure(),
                          QStringLiteral("Modem port lost"));
        }
        if (!modem.m_state.PortOpened || !serial.isOpen() || modem.m_wait.aborted()) {
            reporter.AppendStatus(QLatin1String(CrLf));
            return Restart::Interrupted;
        }
        return failed(step + Failed, tip + Failed);
    };

    const int port = modem.m_config.ModemPort;
    QString error;
    if (!serial.open(port, &error))
        return failed(QStringLiteral("Open COM%1").arg(port) + Failed + QStringLiteral(": ") +
                          error,
                      QStringLiteral("Open COM") + Failed);
    modem.m_lostReported = false;
    ++modem.m_opens;
    modem.m_state.PortOpened = true;
    modem.m_controls.setSettingsEnabled(false);
    modem.m_controls.setCloseCaption(QStringLiteral("Hide"));
    serial.setDtr(true);
    serial.setMode(SerialLine::Mode::Job);

    if (!modem.sendCommand(InitCommand))
        return stepFailed(QStringLiteral("Initialize modem"), QStringLiteral("Initialize modem"));
    modem.m_state.AutoAnswerOn = true;
    if (!modem.arm())
        return stepFailed(QStringLiteral("Start auto answer"), QStringLiteral("Auto answer"));
    modem.showWaiting(line(Ok));
    modem.m_controls.setStartStop(ServerControls::StartStop::Stop);
    return Restart::Armed;
}

void ModemRecovery::checkArmed(QByteArray &other)
{
    ModemControl::BusyScope busy(m_modem);
    SerialLine &serial = m_modem.m_wait.line();
    serial.setMode(SerialLine::Mode::Job);
    m_lateReply = false;
    QByteArray reply;
    const Answer answer =
        command(m_queryUnknown ? Attention : AutoAnswerQuery, LineWait::MaxPolls, reply);
    if (answer == Answer::Cut || cut())
        return; // whoever closed or lost it says so
    serial.setMode(SerialLine::Mode::Idle);

    const Lines lines = sortLines(reply, true);
    other = lines.other;
    switch (answer) {
    case Answer::Ok:
        // A register of 0 is auto-answer off; an "OK" without one is taken as it is.
        if (!m_queryUnknown && lines.reg == 0)
            checkFailed(QStringLiteral("auto answer off"));
        return;
    case Answer::Error:
        noteQueryUnknown();
        return;
    case Answer::Call:
        // A call rang in as the modem read the question: its reply comes
        // behind the RING, to the call handling, and is the check's.
        m_lateReply = true;
        m_lateRegister = lines.reg;
        return;
    case Answer::NoCarrier: // it hears
    case Answer::Cut:
        return;
    case Answer::Silent:
        checkFailed(QStringLiteral("no answer"));
        return;
    }
}

bool ModemRecovery::takeLateReply(const QByteArray &text)
{
    if (!m_lateReply)
        return false;
    const QByteArray reply = text.trimmed();
    if (reply.isEmpty() || reply.contains("RING")) // more rings may come before it
        return false;
    if (digitsOnly(reply)) {
        if (!m_lateRegister)
            m_lateRegister = reply.toInt();
        return true;
    }
    m_lateReply = false;
    if (reply == "OK") {
        if (!m_queryUnknown && m_lateRegister == 0)
            checkFailed(QStringLiteral("auto answer off"));
        return true;
    }
    if (reply == "ERROR") {
        noteQueryUnknown();
        return true;
    }
    return false; // something else came first: the reply will not
}

void ModemRecovery::noteQueryUnknown()
{
    if (std::exchange(m_queryUnknown, true))
        return;
    // Not a fault: the modem hears, it only lacks the query. Said once.
    m_modem.m_reporter.AppendStatus(line(
        QStringLiteral("Modem check ... \"ATS0?\" not known to this modem, \"AT\" from now on")));
}

void ModemRecovery::checkFailed(const QString &why)
{
    m_modem.m_reporter.AppendStatus(line(QStringLiteral("Modem check ... ") + why), ColourRed);
    m_modem.modemReset();
}

bool ModemRecovery::modemOff()
{
    SerialLine &serial = m_modem.m_wait.line();
    if (m_opensSeen != m_modem.opens()) { // a new open: the signal proves nothing yet
        m_opensSeen = m_modem.opens();
        m_readySeen = m_off = false;
        m_readyLowSince = -1;
    }
    if (!serial.isOpen() || serial.failed() || !serial.hasModemLines())
        return false;
    Reporter &reporter = m_modem.m_reporter;
    if (serial.modemReady()) {
        m_readySeen = true;
        m_readyLowSince = -1;
        if (std::exchange(m_off, false)) {
            reporter.AppendStatus(line(QStringLiteral("Modem on again")));
            m_modem.modemReset();
        }
        return false;
    }
    if (!m_readySeen)
        return false; // not wired: the idle check stands in
    const qint64 now = m_modem.m_wait.waiter().nowMs();
    if (m_readyLowSince < 0)
        m_readyLowSince = now;
    if (!m_off && now - m_readyLowSince >= PowerLossMs) {
        m_off = true;
        m_modem.m_armed = false;
        reporter.clearStatus();
        reporter.AppendStatus(line(QStringLiteral("Modem switched off or unplugged")), ColourRed);
        reporter.SetTrayTip(QStringLiteral("Modem off"));
    }
    return true;
}

ModemRecovery::HangUp ModemRecovery::hangUpLostCall(QByteArray &other)
{
    Reporter &reporter = m_modem.m_reporter;
    m_modem.m_wait.line().setMode(SerialLine::Mode::Job);
    reporter.AppendStatus(line(QStringLiteral("Hanging up ...")));
    reporter.SetTrayTip(QStringLiteral("Hanging up ..."));

    QByteArray reply;
    const HangUp end = hangUp(reply);
    const Lines lines = sortLines(reply, false);
    other = lines.other;
    if (end == HangUp::Interrupted)
        return end;
    if (lines.call)
        return HangUp::NewCall;
    if (end == HangUp::Failed) {
        reporter.AppendStatus(line(QStringLiteral("Hang up failed: the modem did not answer")),
                              ColourRed);
        m_modem.m_armed = false; // the next try closes the port: DTR drops again
    }
    return end;
}

ModemRecovery::HangUp ModemRecovery::hangUp(QByteArray &all)
{
    SerialLine &serial = m_modem.m_wait.line();
    Reporter &reporter = m_modem.m_reporter;
    // Each step reads afresh, so that an "OK" is its own; all keeps everything.
    const auto step = [&](const QByteArray &text, int polls) {
        QByteArray reply;
        const Answer answer = text.isEmpty() ? listen(polls, reply) : command(text, polls, reply);
        all += reply;
        return answer;
    };

    // DTR low long enough to be seen: a modem set to &D2 hangs up (and may say so).
    serial.setDtr(false);
    Answer answer = step({}, DtrLowPolls);
    serial.setDtr(true);
    if (answer == Answer::Silent) {
        // Back in command mode without a word (&D2), or still online (DTR
        // ignored), where the "AT" is data: only an answer tells them apart.
        const qint64 probedAt = m_modem.m_wait.waiter().nowMs();
        answer = step(Attention, ProbePolls);
        if (answer == Answer::Silent) {
            // The escape counts only after the guard time's silence.
            QByteArray reply;
            answer = listenUntil(probedAt + EscapeGuardMs, reply);
            all += reply;
        }
        if (answer == Answer::Silent) {
            answer = step(EscapeCommand, EscapePolls);
            if (answer == Answer::Ok)
                reporter.AppendStatus(line(QStringLiteral("+++OK")));
        }
        // In command mode: yet one set to &D1 keeps the call there, so
        // "ATH0" still goes. Behind an unanswered "+++" the modem may be in
        // command mode all the same, the "+++" starting a command line, and
        // "ATH0" may be refused once.
        if (answer == Answer::Ok || answer == Answer::Silent || answer == Answer::Error) {
            answer = step(HangUpCommand, HangUpPolls);
            if (answer == Answer::Error)
                answer = step(HangUpCommand, HangUpPolls);
            if (answer == Answer::Ok)
                reporter.AppendStatus(line(QStringLiteral("ATH0 OK")) +
                                      line(QStringLiteral("Hang up done")));
        }
    }
    switch (answer) {
    case Answer::Ok:
    case Answer::NoCarrier:
        return HangUp::Down;
    case Answer::Call:
        return HangUp::NewCall;
    case Answer::Cut:
        return HangUp::Interrupted;
    case Answer::Error:
    case Answer::Silent:
        break;
    }
    return HangUp::Failed;
}

} // namespace Tarvo
