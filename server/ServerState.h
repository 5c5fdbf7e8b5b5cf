// The flags of the server and of the call, shared by the window, the modem
// control and the call handling. All false and empty when the window loads.
#pragma once

#include <QByteArray>
#include <QString>

namespace Tarvo {

struct ServerState
{
    bool Activated = false;    // first-activation work done
    bool PortOpened = false;   // the modem port is open
    bool AutoAnswerOn = false; // modem initialised and auto-answer armed
    bool Connected = false;    // a call is connected
    QString TrayState;         // last state shown in the tray tip
    QByteArray LineBuffer;     // received characters not yet forming a line
};

} // namespace Tarvo
