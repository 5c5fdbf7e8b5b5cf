#include "KeepAwake.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Tarvo {

void SystemPowerRequest::hold(bool awake)
{
#ifdef Q_OS_WIN
    SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
#else
    Q_UNUSED(awake)
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
    m_held = awake;
    m_power.hold(awake);
}

} // namespace Tarvo
