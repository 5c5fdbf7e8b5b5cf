#include "HostCopy.h"

#include <cstdlib>

namespace Tarvo {

namespace {

HostCopy *inFlight = nullptr;

void putBackAtExit()
{
    if (inFlight)
        inFlight->abandonAtExit();
}

} // namespace

void HostCopy::enterFlight()
{
    static const bool registered = std::atexit(putBackAtExit) == 0;
    Q_UNUSED(registered);
    inFlight = this;
}

void HostCopy::leaveFlight()
{
    if (inFlight == this)
        inFlight = nullptr;
}

bool HostCopy::putBackInFlight()
{
    if (!inFlight)
        return false;
    inFlight->putBackNow();
    return true;
}

} // namespace Tarvo
