// Whether a server is installed for the tray to attach to, rather than to
// run the server in its own process. A server that is installed but not
// running yet still counts: the tray then waits for it and never opens the
// port itself.
//
// On the system's control path the server is installed when Windows' service
// manager has the service registered, running or not, or (Linux) when its
// systemd unit is enabled, which a symlink in multi-user.target.wants tells
// without asking the service manager, or when its socket file is there (a
// folder only root may write). A pipe of the system's name proves nothing on
// Windows: any process may create one, and a tray that attached to it would
// leave the modem unserved. On any other path (TARVO_CONTROL: a server
// someone started by hand, a test) only an endpoint that is there now
// counts: a socket file, or a named pipe of that name.
//
// The facts are gathered by a Probe, so that the decision can be tried
// without a service manager.
#pragma once

#include "ServiceQuery.h"

#include <QString>
#include <functional>

namespace Tarvo::InstalledServer {

// Where an enabled unit's symlink is; empty where there is no such unit.
QString unitLink();
// The socket file (Unix) or the named pipe (Windows) at path is there now.
bool endpointThere(const QString &path);

struct Probe
{
    QString systemPath;
    QString unitLink;
    std::function<ServiceInfo()> service;
    std::function<bool(const QString &path)> endpointThere;
    // Whether an endpoint at the system's path shows the server is there.
    bool systemEndpointCounts = false;

    // This machine's: the system's control path, its unit, its service manager.
    static Probe system();
};

// Whether the tray attaches to the server at controlPath.
bool trayAttaches(const QString &controlPath, const Probe &probe = Probe::system());

} // namespace Tarvo::InstalledServer
