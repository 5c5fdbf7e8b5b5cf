// The server window's buttons as the modem control drives them: what the
// Start/Stop button does and whether it is enabled, the Hide/Exit caption,
// the Settings button, and the busy (hourglass) indication. The window makes
// its caption from the action and keeps the action; it never reads a
// caption back.
#pragma once

#include <QString>

namespace Tarvo {

class ServerControls
{
public:
    enum class StartStop { Start, Stop };

    virtual ~ServerControls() = default;
    virtual void setStartStop(StartStop action) = 0;
    virtual void setStartStopEnabled(bool enabled) = 0;
    virtual void setCloseCaption(const QString &caption) = 0; // "Exit" / "Hide"
    virtual void setSettingsEnabled(bool enabled) = 0;
    virtual void setBusy(bool busy) = 0;
};

} // namespace Tarvo
