#include "ModemReadiness.h"

#include <algorithm>

namespace Tarvo {

ModemReadiness::ModemReadiness(LineWait &wait, ModemControl &modem, ModemRecovery &recovery,
                               CallHandler &calls, ServerState &state)
    : m_wait(wait), m_modem(modem), m_recovery(recovery), m_calls(calls), m_state(state)
{
}

void ModemReadiness::forgetTries()
{
    m_tries = 0;
    m_nextTry.reset();
    m_pauseMs = FirstPauseMs;
}

void ModemReadiness::tick()
{
    // The timer fires in the event passes of waits too, also of this tick's own.
    if (m_ticking || m_calls.jobRunning() || m_calls.handling() || m_modem.busy())
        return;
    m_ticking = true;
    apply();
    m_ticking = false;
}

void ModemReadiness::apply()
{
    const qint64 now = m_wait.waiter().nowMs();
    if (m_modem.starts() != m_seenStarts) { // a start of the user's counts afresh
        m_seenStarts = m_modem.starts();
        forgetTries();
    }
    if (!m_modem.serverOn())
        return;
    if (m_state.Connected) {
        m_calls.watchCall();
        return;
    }
    if (m_recovery.modemOff()) {
        forgetTries();
        return;
    }
    if (speaking(now))
        return;
    if (m_modem.armed()) {
        forgetTries();
        checkIfDue(now);
        return;
    }
    restartIfDue(now);
}

bool ModemReadiness::speaking(qint64 now) const
{
    const qint64 heard = m_calls.lastHeardAt(), rang = m_calls.lastRingAt();
    return (heard >= 0 && now - heard < LineQuietMs) || (rang >= 0 && now - rang < RingQuietMs);
}

void ModemReadiness::restartIfDue(qint64 now)
{
    if (!m_nextTry)
        m_nextTry = now + m_pauseMs;
    if (!m_modem.restartDue() && (now < *m_nextTry || !retryEnabled()))
        return;
    ++m_tries;
    m_pauseMs = std::min(2 * m_pauseMs, MaxPauseMs); // before the next try
    const bool more = retryEnabled();
    if (m_recovery.restart(m_tries, more ? m_pauseMs / 1000 : 0) != ModemRecovery::Restart::Armed)
        m_nextTry = m_wait.waiter().nowMs() + m_pauseMs;
}

void ModemReadiness::checkIfDue(qint64 now)
{
    const qint64 quietSince = std::max({m_modem.armedAt(), m_calls.lastHeardAt(), m_checkedAt});
    if (now - quietSince < CheckEveryMs)
        return;
    m_checkedAt = now;
    QByteArray other;
    m_recovery.checkArmed(other);
    m_calls.takeReceived(other);
}

} // namespace Tarvo
