#include "InstalledServer.h"

#include "ControlClient.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Tarvo::InstalledServer {

namespace {
// A symlink counts even when it points nowhere readable to this user.
bool fileThere(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && (info.exists() || info.isSymLink());
}

#ifdef Q_OS_WIN
// Qt's local sockets take a bare name as a pipe in the local namespace.
QString pipePath(const QString &name)
{
    const QString prefix = QStringLiteral("\\\\.\\pipe\\");
    return name.startsWith(prefix, Qt::CaseInsensitive) ? name : prefix + name;
}
#endif
} // namespace

QString unitLink()
{
#ifdef Q_OS_LINUX
    return QStringLiteral("/etc/systemd/system/multi-user.target.wants/tarvod.service");
#else
    return {};
#endif
}

bool endpointThere(const QString &path)
{
    if (path.isEmpty())
        return false;
#ifdef Q_OS_WIN
    // Waiting a moment for a free instance answers without taking one: a
    // pipe that is not there fails at once, one whose instances are all busy
    // times out.
    const std::wstring name = pipePath(path).toStdWString();
    return WaitNamedPipeW(name.c_str(), 1) || GetLastError() == ERROR_SEM_TIMEOUT;
#else
    return fileThere(path);
#endif
}

Probe Probe::system()
{
#ifdef Q_OS_WIN
    const bool systemEndpointCounts = false;
#else
    const bool systemEndpointCounts = true;
#endif
    return {ControlClient::systemPath(), InstalledServer::unitLink(), [] { return queryService(); },
            &InstalledServer::endpointThere, systemEndpointCounts};
}

bool trayAttaches(const QString &controlPath, const Probe &probe)
{
    const bool endpoint = probe.endpointThere && probe.endpointThere(controlPath);
    // The service and the unit serve the system's path only: a tray pointed
    // elsewhere finds no server in them.
    if (controlPath != probe.systemPath)
        return endpoint;
    if (endpoint && probe.systemEndpointCounts)
        return true;
    // A manager that cannot be asked reads as no service: the tray then runs
    // the server itself and says so if the port is taken, rather than wait
    // for ever for a server that may not be there.
    return (probe.service && probe.service().installed()) || fileThere(probe.unitLink);
}

} // namespace Tarvo::InstalledServer
