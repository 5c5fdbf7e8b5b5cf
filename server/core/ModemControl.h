// Modem control outside a transfer: open the port, initialise the modem, arm
// auto-answer, and hang up / disarm / close again.
//
// Every command is written in job mode and followed by WaitForModemOK: up to
// 1000 polls of 10 ms, succeeding as soon as "OK" CR LF appears anywhere in
// what came back (echoes and other lines before it do no harm). Only the
// arming of auto-answer also listens for "ERROR", and then tries once more.
// HangUpNow, for an end from outside that cannot wait, is the exception: a
// few seconds for all its commands together, and no events let in.
// The texts, colours, tips and button states reported here are what the
// user sees of the server's Start/Stop cycle.
//
// On lines without modem-status signals the carrier is inferred from the
// call state (Connected), and a forced hang-up by DTR cannot be watched.
//
// Besides the described operations it keeps what the readiness rule
// (ModemReadiness.h) asks of the modem: whether the server is on (a start
// made, no Stop or Exit since), whether auto-answer is known to be armed
// (an "OK" to "ATS0=1" and nothing since that says otherwise) and since
// when. The steps recovery takes with the modem (a restart, the check of an
// idle modem, its power watch, the hang-up of a lost call) are
// ModemRecovery's, which works through the operations kept here.
#pragma once

#include "LineWait.h"
#include "ModemService.h"
#include "Prompter.h"
#include "Reporter.h"
#include "ServerControls.h"
#include "ServerState.h"

#include <functional>

namespace Tarvo {

struct Configuration;

class ModemControl final : public ModemService
{
public:
    ModemControl(LineWait &wait, Reporter &reporter, Prompter &prompter, ServerControls &controls,
                 ServerState &state, const Configuration &config);

    // "Hang up (disconnect) modem?"
    static QString hangUpQuestion();

    void OpenModemPort();
    void InitializeModem() override;
    bool StartAutoAnswer();
    using ModemService::HangUp;
    void HangUp(CallAnswer answer) override;
    bool callUp() const override { return carrierPresent() || m_state.Connected; }
    void askHangUpLater(std::function<void(bool yes)> answered) override;

    // Carrier detect, or Connected on a line that cannot report it.
    bool carrierPresent() const;

    // The open port failed under us (device gone): report it, close the port
    // and return to the stopped state. Safe to call more than once.
    void handlePortLost();

    // A start was made and no Stop or Exit has come since.
    bool serverOn() const { return m_serverOn; }
    // Auto-answer answered "OK" and nothing since says it is off.
    bool armed() const { return m_armed; }
    // When auto-answer was last armed, on the waiter's clock (-1: never):
    // by a start, Start, a re-arm after a call or a try of the recovery.
    qint64 armedAt() const { return m_armedAt; }
    // Starts made with InitializeModem so far.
    int starts() const { return m_starts; }
    // Successful opens of the port so far.
    int opens() const { return m_opens; }
    // An operation of this class runs (its waits pump events).
    bool busy() const { return m_busyDepth > 0; }

    // The modem said "OK" unasked, failed its check or came back on: it
    // forgot auto-answer, and a restart is due at once.
    void modemReset()
    {
        m_armed = false;
        m_restartDue = true;
    }
    // A restart is due at once, whatever the pause.
    bool restartDue() const { return m_restartDue; }

    // The program is about to be ended from outside (the session ends) and
    // may be killed as soon as its caller returns: HangUp without questions
    // ("+++", "ATH0", DTR dropped if the call stays up, "ATS0=0") within
    // HangUpNowMs in all, and the port closed. Its waits read the line
    // without letting any event in, so nothing else runs meanwhile, also
    // when it is called from inside another operation's wait.
    static constexpr int HangUpNowMs = 3000;
    void HangUpNow();

private:
    friend class ModemRecovery;
    // Keeps Start/Stop disabled and the hourglass up for the outermost of
    // possibly nested operations (a Stop or Exit can arrive inside a wait),
    // and restores both on every way out.
    class BusyScope
    {
    public:
        explicit BusyScope(ModemControl &modem) : m_modem(modem) { m_modem.setBusy(true); }
        ~BusyScope() { m_modem.setBusy(false); }
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        ModemControl &m_modem;
    };

    bool askHangUp();
    // refused, when given, ends the wait at an "ERROR" and is set then;
    // reply, when given, receives everything read.
    bool WaitForModemOK(bool *refused = nullptr, QByteArray *reply = nullptr,
                        int maxPolls = LineWait::MaxPolls);
    bool sendCommand(const QByteArray &command, bool *refused = nullptr,
                     int maxPolls = LineWait::MaxPolls);
    // "ATS0=1", once more after an "ERROR".
    bool arm();
    // The described hang-up; false when a call was kept (answered No).
    bool closeDown(CallAnswer answer);
    // The port closed without a word: the stopped state's buttons.
    void closeQuietly();
    void showWaiting(const QString &before);
    void setBusy(bool busy);
    void closePort();
    // After a failed command: true when the port is gone (a lost device is
    // reported on the way), was closed by a Stop or Exit inside the wait, or
    // the wait was cut short for one that runs once this operation unwinds.
    // lineOpen: the step's " ..." line is still open and is ended first.
    bool interrupted(bool lineOpen = false);
    // "+++" and "ATH0", then DTR dropped if the call is still up.
    // The port closed once the call is down: the stopped state, or the lost
    // port's report when the line failed on the way.
    void closeAfterHangUp();
    void endCall();
    // "+++" then "ATH0" through command, each said as it is answered;
    // true when the call is down.
    bool escapeAndHangUp(const std::function<bool(const QByteArray &)> &command);
    void forceHangUp();

    LineWait &m_wait;
    Reporter &m_reporter;
    Prompter &m_prompter;
    ServerControls &m_controls;
    ServerState &m_state;
    const Configuration &m_config;
    int m_busyDepth = 0;
    bool m_lostReported = false;
    bool m_serverOn = false;
    bool m_armed = false;
    bool m_restartDue = false;
    int m_starts = 0;
    int m_opens = 0;
    qint64 m_armedAt = -1;
};

} // namespace Tarvo
