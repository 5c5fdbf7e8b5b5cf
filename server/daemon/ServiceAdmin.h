// tarvod's verbs for its own Windows service, through the Service Control
// Manager's functions (no sc.exe, which lacks most of them under Wine):
// install, start, stop, close when idle, remove and status. Each prints one
// line on standard output when it succeeds, a reason on standard error when
// it does not, and returns the exit status (0 done, 1 not done).
//
// The service is registered for this very tarvod.exe, by its quoted path,
// with "--service": its own process, automatic start (not delayed),
// LocalSystem, a description, and a restart a minute after a failure.
// Installing over an existing registration updates it to this path.
//
// Stopping waits for the service's process itself to end, not only for the
// manager to say "stopped": the process is opened (SYNCHRONIZE) before the
// stop is asked, so that a reused process id cannot mislead the wait. Close
// when idle sends the service's own control code and waits the same way;
// the service ends only once its job and call are over, so its wait is
// longer and may run out (exit 1: the caller then stops it).
//
// The state's words (statusText) are those of --service-status: "not
// installed", "stopped", "starting", "running <pid>", "stopping <pid>".
#pragma once

#include "DaemonOptions.h"
#include "ServiceQuery.h"

#include <QString>

namespace Tarvo {

namespace ServiceAdmin {

QString statusText(const ServiceInfo &info);

// Runs the verb of options (any but Serve and RunService).
int run(const DaemonOptions &options);

} // namespace ServiceAdmin

} // namespace Tarvo
