// The state of the port and of the call, shared by the modem control (which
// opens, arms and closes) and the call handling (which connects and ends
// calls); the window only reads PortOpened. All false when the window loads.
#pragma once

namespace Tarvo {

struct ServerState
{
    bool PortOpened = false;   // the modem port is open
    bool AutoAnswerOn = false; // modem initialised and auto-answer armed
    bool Connected = false;    // a call is connected
};

} // namespace Tarvo
