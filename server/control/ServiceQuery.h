// What the Windows Service Control Manager knows of Tarvo's service: whether
// it is registered, its state, the process that runs it and the command
// line it was registered with. The tray asks it to decide whether to attach
// (and to check that the pipe it talks to belongs to that process); tarvod
// asks it before and after it installs, starts or stops itself.
//
// Only querying is done here, with the least rights the manager grants
// (SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG), so a
// standard user may ask. Elsewhere than on Windows the service is never
// registered.
#pragma once

#include <QString>

namespace Tarvo {

struct ServiceInfo
{
    enum class State { NotInstalled, Stopped, StartPending, StopPending, Running, Other };

    State state = State::NotInstalled;
    unsigned long processId = 0; // while it runs, else 0
    QString binaryPath;          // the registered command line, as it stands
    QString error;               // why the manager could not be asked, if it could not

    bool installed() const { return state != State::NotInstalled; }
    bool running() const { return state == State::Running; }
};

namespace WindowsService {
// The service's name, as the manager and the installer know it.
inline constexpr char Name[] = "Tarvo";
// The control code that asks the service to end once no job runs and no
// call is connected (the installer's upgrade). Codes 128..255 are the
// service's own.
inline constexpr unsigned long CloseWhenIdleControl = 128;
} // namespace WindowsService

ServiceInfo queryService(const QString &name = QLatin1String(WindowsService::Name));

} // namespace Tarvo
