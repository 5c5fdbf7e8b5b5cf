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
    m_nextTry = -1;
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
    if (m_modem.starts() != m_seenStarts) {
        m_seenStarts = m_modem.starts();
        forgetTries();
    }
    if (!m_modem.serverOn()) {
        forgetTries();
        m_armedSince = -1;
        return;
    }
    if (m_state.Connected) {
        m_armedSince = -1;
        m_calls.watchCall();
        return;
    }
    if (m_modem.armed()) {
        forgetTries();
        checkIfDue(now);
        return;
    }
    m_armedSince = -1;
    restartIfDue(now);
}

void ModemReadiness::restartIfDue(qint64 now)
{
    if (m_nextTry < 0)
        m_nextTry = now + FirstPauseMs;
    if (!m_modem.restartDue() && (now < m_nextTry || !retryEnabled()))
        return;
    ++m_tries;
    const int pause =
        int(std::min<qint64>(qint64(FirstPauseMs) << std::min(m_tries, 8), MaxPauseMs));
    const bool more = retryEnabled();
    if (m_modem.restart(m_tries, more ? pause / 1000 : 0) == ModemControl::Restart::Armed)
        forgetTries();
    else
        m_nextTry = m_wait.waiter().nowMs() + pause;
}

void ModemReadiness::checkIfDue(qint64 now)
{
    if (m_armedSince < 0)
        m_armedSince = now;
    if (now - std::max(m_armedSince, m_calls.lastLineAt()) < CheckEveryMs ||
        !m_calls.lineBuffer().isEmpty())
        return;
    m_armedSince = now;
    QByteArray other;
    m_modem.checkArmed(other);
    m_calls.takeReceived(other);
}

} // namespace Tarvo
