#include "KeepAwake.h"

#include <QtGlobal>
#include <utility>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Tarvo {

bool SystemPowerRequest::hold(bool awake, QString &error)
{
#ifdef Q_OS_WIN
    if (SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS))
        return true;
    error = qt_error_string(int(GetLastError()));
    return false;
#else
    Q_UNUSED(awake)
    Q_UNUSED(error)
    return true;
#endif
}

void KeepAwake::update(bool connected, bool armed, const std::function<bool()> &whileArmed)
{
    // The setting is read only when the answer depends on it.
    set(wanted(connected, armed, !connected && armed && whileArmed()));
}

void KeepAwake::release()
{
    set(false);
}

void KeepAwake::set(bool awake)
{
    if (awake == m_held)
        return;
    QString error;
    if (m_power.hold(awake, error) || !awake) {
        m_held = awake;
        return;
    }
    // Not held: the next update asks again; the refusal is said once.
    if (m_refused && !std::exchange(m_refusalSaid, true))
        m_refused(QStringLiteral("The PC cannot be kept from sleeping (%1): it may sleep while "
                                 "the modem waits and miss calls.")
                      .arg(error));
}

} // namespace Tarvo
