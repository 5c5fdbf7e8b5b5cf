// The one readiness rule: whenever no call is in progress and the user has
// not stopped the server, the modem is armed and known to be armed, or
// Tarvo is working to get it there.
//
// tick() applies it. Its owner calls it from a timer (the server window's
// wiring, a headless host), at tickIntervalMs(); tests call it after moving
// their virtual clock. A tick that comes while an operation of the modem or
// the call handling runs, or another tick (their waits pump events, and a
// headless host's timer fires there), does nothing. Each tick:
//   - A call connected and no job: carrier detect is watched (a call that
//     only it says is gone is hung up and the modem re-armed).
//   - The server on, no call, the modem not known to be armed (a failed
//     start or re-arm, a lost port, a modem that was reset): it is
//     restarted, each try one line (ModemRecovery::restart), the first
//     FirstPauseMs after it was found unarmed, then after pauses that
//     double up to MaxPauseMs. When the modem said "OK" unasked or failed
//     its check, one try comes at once. The repeated tries can be switched
//     off (retryEnabled false, the Recovery/Retry key): then only that try
//     at once is made and a failure waits for a click. A start the user
//     makes counts afresh; Stop and Exit (the server off) end the tries.
//   - The server on, no call: nothing is written to the modem, and the
//     port is not closed, while it speaks. Any character from it puts every
//     check and every due restart off until it has been quiet LineQuietMs;
//     a RING, until RingQuietMs without another (the call is answered and
//     handled as a call, or the caller gave up). A restart due meanwhile
//     comes once the line is quiet.
//   - On a line with modem-status signals a modem switched off or unplugged
//     is seen by its DSR (ModemRecovery::modemOff()): nothing is tried
//     while it is off, and the restart comes as soon as it is back.
//   - The server on, no call, armed: after CheckEveryMs of quiet, counted
//     from the last arming (whatever armed it), the last character from the
//     modem and the last check, it is asked whether it still answers calls
//     (ModemRecovery::checkArmed). "ATS0?" is asked rather than "AT": a
//     modem switched off and on answers "AT" with "OK" all the same but has
//     forgotten auto-answer, and the register it reads back shows both that
//     it hears and that it answers. What races the check goes back to the
//     call handling.
#pragma once

#include "CallHandler.h"
#include "LineWait.h"
#include "ModemControl.h"
#include "ModemRecovery.h"
#include "ServerState.h"

#include <functional>
#include <optional>

namespace Tarvo {

class ModemReadiness
{
public:
    static constexpr int FirstPauseMs = 5000;
    static constexpr int MaxPauseMs = 60000;
    static constexpr int CheckEveryMs = 5 * 60000;
    // Rings come a few seconds apart (every 6 s at the longest cadences):
    // 8 s without one is a caller who gave up.
    static constexpr int RingQuietMs = 8000;
    static constexpr int LineQuietMs = 1000;
    // A call's carrier is sampled as finely as a job's polls sample it, so
    // that one rule holds in and between jobs; otherwise a quarter second
    // is fine enough to see a short power cycle on DSR.
    static constexpr int CallTickMs = LineWait::PollMs;
    static constexpr int IdleTickMs = 250;

    ModemReadiness(LineWait &wait, ModemControl &modem, ModemRecovery &recovery, CallHandler &calls,
                   ServerState &state);

    // Asked before every try that follows a failure; on when not given.
    void setRetryEnabled(std::function<bool()> enabled) { m_retryEnabled = std::move(enabled); }

    void tick();
    int tickIntervalMs() const { return m_state.Connected ? CallTickMs : IdleTickMs; }

private:
    bool retryEnabled() const { return !m_retryEnabled || m_retryEnabled(); }
    void apply();
    void forgetTries();
    void restartIfDue(qint64 now);
    void checkIfDue(qint64 now);
    // The modem said something a moment ago, or is ringing.
    bool speaking(qint64 now) const;

    LineWait &m_wait;
    ModemControl &m_modem;
    ModemRecovery &m_recovery;
    CallHandler &m_calls;
    ServerState &m_state;
    std::function<bool()> m_retryEnabled;
    int m_tries = 0;                 // of the present series
    std::optional<qint64> m_nextTry; // when the next try is due
    int m_pauseMs = FirstPauseMs;    // before the next try
    int m_seenStarts = 0;
    qint64 m_checkedAt = -1;
    bool m_ticking = false;
};

} // namespace Tarvo
