// What the server window asks of the modem side: start (open the port,
// initialise, arm auto-answer) and stop (end a call, disarm, close).
// ModemControl is the real one; window tests use a fake.
#pragma once

namespace Tarvo {

class ModemService
{
public:
    virtual ~ModemService() = default;
    virtual void InitializeModem() = 0;
    virtual void HangUp() = 0;
    // The program is being ended (a signal, the session's end): stop with
    // no question asked of anybody.
    virtual void HangUpWithoutAsking() { HangUp(); }
};

} // namespace Tarvo
