// Whether a server is installed for the tray to attach to, rather than to
// run the server in its own process: its control endpoint's socket file
// exists, or (Linux) its systemd unit is enabled, which a symlink in
// multi-user.target.wants tells without asking the service manager. A
// server that is installed but not running yet still counts: the tray then
// waits for it and never opens the port itself.
#pragma once

#include <QString>

namespace Tarvo::InstalledServer {

// Where an enabled unit's symlink is; empty where there is no such unit.
QString unitLink();
bool installed(const QString &controlPath, const QString &link = unitLink());

} // namespace Tarvo::InstalledServer
