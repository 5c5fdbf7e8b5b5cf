// The server window's buttons as the modem control drives them: the Start/Stop
// button's caption and enabled state, the Hide/Exit caption, the Settings
// button, and the busy (hourglass) indication.
#pragma once

#include <QString>

namespace Tarvo {

class ServerControls
{
public:
    virtual ~ServerControls() = default;
    virtual void setStartStopCaption(const QString &caption) = 0; // "Start" / "Stop"
    virtual void setStartStopEnabled(bool enabled) = 0;
    virtual void setCloseCaption(const QString &caption) = 0; // "Exit" / "Hide"
    virtual void setSettingsEnabled(bool enabled) = 0;
    virtual void setBusy(bool busy) = 0;
};

} // namespace Tarvo
