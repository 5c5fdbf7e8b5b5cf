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
#pragma once

#include "LineWait.h"
#include "ModemService.h"
#include "Prompter.h"
#include "Reporter.h"
#include "ServerControls.h"
#include "ServerState.h"

namespace Tarvo {

struct Configuration;

class ModemControl final : public ModemService
{
public:
    ModemControl(LineWait &wait, Reporter &reporter, Prompter &prompter, ServerControls &controls,
                 ServerState &state, const Configuration &config);

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

    // The program is about to be ended from outside (the session ends) and
    // may be killed as soon as its caller returns: HangUp without questions
    // ("+++", "ATH0", DTR dropped if the call stays up, "ATS0=0") within
    // HangUpNowMs in all, and the port closed. Its waits read the line
    // without letting any event in, so nothing else runs meanwhile, also
    // when it is called from inside another operation's wait.
    static constexpr int HangUpNowMs = 3000;
    void HangUpNow();

private:
    class BusyScope;

    bool askHangUp();
    // refused, when given, ends the wait at an "ERROR" and is set then.
    bool WaitForModemOK(bool *refused = nullptr);
    bool sendCommand(const QByteArray &command, bool *refused = nullptr);
    void setBusy(bool busy);
    void closePort();
    // After a failed command: true when the port is gone (a lost device is
    // reported on the way), was closed by a Stop or Exit inside the wait, or
    // the wait was cut short for one that runs once this operation unwinds.
    // lineOpen: the step's " ..." line is still open and is ended first.
    bool interrupted(bool lineOpen = false);
    // "+++" and "ATH0", then DTR dropped if the call is still up.
    void endCall();
    void forceHangUp();

    LineWait &m_wait;
    Reporter &m_reporter;
    Prompter &m_prompter;
    ServerControls &m_controls;
    ServerState &m_state;
    const Configuration &m_config;
    int m_busyDepth = 0;
    bool m_lostReported = false;
};

} // namespace Tarvo
