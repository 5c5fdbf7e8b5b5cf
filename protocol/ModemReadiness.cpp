#include "ModemReadiness.h"

#include <algorithm>

namespace Tarvo {

ModemReadiness::ModemReadiness(LineWait &wait, ModemControl &modem, CallHandler &calls,
                               ServerState &state)
    : m_wait(wait), m_modem(modem), m_calls(calls), m_state(state)
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
    // The quiet before a check counts from the last time the modem was not
    // known to be armed and idle.
    if (!m_modem.serverOn()) {
        m_quietSince = now;
        return;
    }
    if (m_state.Connected) {
        m_quietSince = now;
        m_calls.watchCall();
        return;
    }
    if (m_modem.armed()) {
        forgetTries();
        checkIfDue(now);
        return;
    }
    m_quietSince = now;
    restartIfDue(now);
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
    if (m_modem.restart(m_tries, more ? m_pauseMs / 1000 : 0) != ModemControl::Restart::Armed)
        m_nextTry = m_wait.waiter().nowMs() + m_pauseMs;
}

void ModemReadiness::checkIfDue(qint64 now)
{
    // A part of a line left in the buffer is noise by now: lines come whole.
    if (now - std::max(m_quietSince, m_calls.lastLineAt()) < CheckEveryMs)
        return;
    m_quietSince = now;
    QByteArray other;
    m_modem.checkArmed(other);
    m_calls.takeReceived(other);
}

} // namespace Tarvo
