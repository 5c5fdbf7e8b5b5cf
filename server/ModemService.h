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
};

} // namespace Tarvo
