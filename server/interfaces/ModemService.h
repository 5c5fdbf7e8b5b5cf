// What the server window asks of the modem side: start (open the port,
// initialise, arm auto-answer) and stop (end a call, disarm, close).
// ModemControl is the real one; window tests use a fake.
//
// A stop normally asks "Hang up (disconnect) modem?" itself when a call is
// up. When the window had to ask earlier (Stop or Exit during a call's job,
// so that the job goes on under the question) it hands the answer in.
#pragma once

#include <functional>

namespace Tarvo {

class ModemService
{
public:
    enum class CallAnswer {
        Ask,     // ask when a call is up
        EndCall, // asked already: Yes
        KeepCall // asked already: No
    };

    virtual ~ModemService() = default;
    virtual void InitializeModem() = 0;
    void HangUp() { HangUp(CallAnswer::Ask); }
    virtual void HangUp(CallAnswer answer) = 0;
    // A carrier or a connected call is present.
    virtual bool callUp() const = 0;
    // "Hang up (disconnect) modem?" without waiting for the answer.
    virtual void askHangUpLater(std::function<void(bool yes)> answered) = 0;
};

} // namespace Tarvo
