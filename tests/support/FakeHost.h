// A whole host without a window on the fake line: the real modem control, link, transfers and call
// handling, reporting to recorders. Tests that use it link the call-handling library.
#pragma once

#include "FakeLine.h"
#include "HostSession.h"

namespace Tarvo::Testing {

struct FakeHost : Recorders
{
    VirtualClock clock;
    FakeLine line{clock};
    HostSession session{line, clock, reporter, prompter, controls, state, config};

    FakeHost()
    {
        line.carrier = true;
        session.connectLine();
    }

    void receive(const QByteArray &bytes) // from the modem, handled as in idle mode
    {
        line.deliver(bytes);
        line.pump();
    }
};

} // namespace Tarvo::Testing
