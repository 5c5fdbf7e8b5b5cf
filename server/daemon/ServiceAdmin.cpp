#include "ServiceAdmin.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <cstdio>
#include <memory>
#include <qt_windows.h>

namespace Tarvo {

namespace {

struct ScHandleClose
{
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleClose>;

struct HandleClose
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

const QString Name = QLatin1String(WindowsService::Name);

// Says what was done, unless another step will (an empty line).
int done(const QString &line)
{
    if (!line.isEmpty())
        std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    return 0;
}

int failed(const QString &reason)
{
    std::fprintf(stderr, "tarvod: %s\n", reason.toLocal8Bit().constData());
    return 1;
}

QString systemReason(DWORD code = GetLastError())
{
    return qt_error_string(int(code));
}

// The service opened with the rights a verb needs; failed() said why not.
ScHandle openService(DWORD access, DWORD managerAccess = SC_MANAGER_CONNECT)
{
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, managerAccess));
    if (!manager) {
        failed(QStringLiteral("cannot reach the Service Control Manager: %1").arg(systemReason()));
        return nullptr;
    }
    ScHandle service(OpenServiceW(manager.get(), wide(Name), access));
    if (!service)
        failed(QStringLiteral("cannot open the service %1: %2").arg(Name, systemReason()));
    return service;
}

// The registered command line: this very program, quoted, run as the service.
QString commandLine()
{
    return QLatin1Char('"') + QDir::toNativeSeparators(QCoreApplication::applicationFilePath()) +
           QStringLiteral("\" --service");
}

// Description, the restart after a failure, and a start that is not delayed.
QString configureRest(SC_HANDLE service)
{
    QString description = QStringLiteral(
        "Answers the portable data terminals' calls on the modem and exchanges their files.");
    SERVICE_DESCRIPTIONW text{reinterpret_cast<LPWSTR>(description.data())};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &text))
        return systemReason();
    SC_ACTION restart[] = {{SC_ACTION_RESTART, 60 * 1000},
                           {SC_ACTION_RESTART, 60 * 1000},
                           {SC_ACTION_RESTART, 5 * 60 * 1000}};
    SERVICE_FAILURE_ACTIONSW actions{};
    actions.dwResetPeriod = 24 * 60 * 60;
    actions.cActions = DWORD(std::size(restart));
    actions.lpsaActions = restart;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions))
        return systemReason();
    // An earlier registration may have been set to a delayed start; a
    // manager that does not know the setting has no delayed start either.
    SERVICE_DELAYED_AUTO_START_INFO delayed{FALSE};
    ChangeServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed);
    return {};
}

int install()
{
    const ScHandle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager)
        return failed(
            QStringLiteral("cannot reach the Service Control Manager: %1").arg(systemReason()));
    const QString command = commandLine();
    constexpr DWORD Access = SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_START;
    // LocalSystem: no account name and no password.
    ScHandle service(CreateServiceW(manager.get(), wide(Name), wide(Name), Access,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, wide(command), nullptr, nullptr, nullptr,
                                    nullptr, nullptr));
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
        service.reset(OpenServiceW(manager.get(), wide(Name), Access));
        if (service &&
            !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                  SERVICE_ERROR_NORMAL, wide(command), nullptr, nullptr, nullptr,
                                  L"LocalSystem", L"", wide(Name)))
            return failed(
                QStringLiteral("cannot update the service %1: %2").arg(Name, systemReason()));
    }
    if (!service)
        return failed(
            QStringLiteral("cannot register the service %1: %2").arg(Name, systemReason()));
    if (const QString why = configureRest(service.get()); !why.isEmpty())
        return failed(QStringLiteral("the service %1 is registered, but its description or "
                                     "restart after a failure could not be set: %2")
                          .arg(Name, why));
    return done(QStringLiteral("installed: %1").arg(command));
}

// Waits until the manager reports the state wanted or one it cannot leave
// for it; the last state seen.
ServiceInfo waitForState(ServiceInfo::State wanted, const QDeadlineTimer &deadline)
{
    for (;;) {
        const ServiceInfo info = queryService();
        if (info.state == wanted || !info.installed() || deadline.hasExpired() ||
            (wanted == ServiceInfo::State::Running && info.state == ServiceInfo::State::Stopped))
            return info;
        QThread::msleep(100);
    }
}

int start(int waitSeconds)
{
    const ScHandle service = openService(SERVICE_START | SERVICE_QUERY_STATUS);
    if (!service)
        return 1;
    if (!StartServiceW(service.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return failed(QStringLiteral("cannot start the service %1: %2").arg(Name, systemReason()));
    const ServiceInfo info =
        waitForState(ServiceInfo::State::Running, QDeadlineTimer(waitSeconds * 1000));
    if (!info.running())
        return failed(QStringLiteral("the service %1 did not report running within %2 s (%3).")
                          .arg(Name)
                          .arg(waitSeconds)
                          .arg(ServiceAdmin::statusText(info)));
    return done(ServiceAdmin::statusText(info));
}

// Sends the control; a service still starting accepts none yet, so it is
// asked again until it does, and one already stopping needs no stop. Empty
// when sent (or not needed), else the system's reason.
QString sendControl(SC_HANDLE service, DWORD control, const QDeadlineTimer &deadline)
{
    for (;;) {
        SERVICE_STATUS status{};
        if (ControlService(service, control, &status))
            return {};
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_NOT_ACTIVE)
            return {};
        // Wine says "invalid control" where Windows says "cannot accept" yet.
        if ((error != ERROR_SERVICE_CANNOT_ACCEPT_CTRL && error != ERROR_INVALID_SERVICE_CONTROL) ||
            deadline.hasExpired())
            return systemReason(error);
        if (queryService().state == ServiceInfo::State::StopPending)
            return {};
        QThread::msleep(200);
    }
}

// Sends control to the running service and waits for its process to end.
// 0 when it has ended (or was not running), else 1 after saying why.
int controlAndWait(DWORD control, DWORD access, int waitSeconds, const QString &verbDone)
{
    const QDeadlineTimer deadline(waitSeconds * 1000);
    const ServiceInfo before = queryService();
    if (!before.installed())
        return failed(QStringLiteral("the service %1 is not installed.").arg(Name));
    if (before.state == ServiceInfo::State::Stopped)
        return done(verbDone.isEmpty() ? QString() : QStringLiteral("stopped"));
    // Opened before the control is sent: the id cannot be another's by then.
    const Handle process(before.processId ? OpenProcess(SYNCHRONIZE, FALSE, DWORD(before.processId))
                                          : nullptr);
    // A process that has gone (killed while it started) has nothing left to end.
    if (!before.processId || (process && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0))
        return done(verbDone);
    const ScHandle service = openService(access | SERVICE_QUERY_STATUS);
    if (!service)
        return 1;
    if (const QString why = sendControl(service.get(), control, deadline); !why.isEmpty())
        return failed(QStringLiteral("the service %1 refused: %2").arg(Name, why));
    if (process) {
        const qint64 left = deadline.remainingTime();
        if (WaitForSingleObject(process.get(), DWORD(qMax<qint64>(left, 0))) != WAIT_OBJECT_0)
            return failed(QStringLiteral("the service %1's process (%2) did not end within %3 s.")
                              .arg(Name)
                              .arg(before.processId)
                              .arg(waitSeconds));
    }
    // The manager hears of the end a moment after the process has gone.
    const ServiceInfo after =
        waitForState(ServiceInfo::State::Stopped, process ? QDeadlineTimer(5000) : deadline);
    if (after.installed() && after.state != ServiceInfo::State::Stopped)
        return failed(QStringLiteral("the service %1 did not stop within %2 s (%3).")
                          .arg(Name)
                          .arg(waitSeconds)
                          .arg(ServiceAdmin::statusText(after)));
    return done(verbDone);
}

int remove(int waitSeconds)
{
    if (!queryService().installed())
        return done(QStringLiteral("not installed"));
    if (const int stopped = controlAndWait(SERVICE_CONTROL_STOP, SERVICE_STOP, waitSeconds, {});
        stopped != 0)
        return stopped;
    const ScHandle service = openService(DELETE);
    if (!service)
        return 1;
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return failed(QStringLiteral("cannot remove the service %1: %2").arg(Name, systemReason()));
    return done(QStringLiteral("removed"));
}

int status()
{
    const ServiceInfo info = queryService();
    if (!info.error.isEmpty() && !info.installed())
        return failed(QStringLiteral("cannot ask the Service Control Manager: %1").arg(info.error));
    return done(ServiceAdmin::statusText(info));
}

} // namespace

QString ServiceAdmin::statusText(const ServiceInfo &info)
{
    const QString pid = QString::number(info.processId);
    switch (info.state) {
    case ServiceInfo::State::NotInstalled:
        return QStringLiteral("not installed");
    case ServiceInfo::State::Stopped:
        return QStringLiteral("stopped");
    case ServiceInfo::State::StartPending:
        return QStringLiteral("starting");
    case ServiceInfo::State::StopPending:
        return QStringLiteral("stopping ") + pid;
    case ServiceInfo::State::Running:
        return QStringLiteral("running ") + pid;
    case ServiceInfo::State::Other:
        break;
    }
    return QStringLiteral("paused or pausing");
}

int ServiceAdmin::run(const DaemonOptions &options)
{
    switch (options.verb) {
    case DaemonOptions::Verb::Install:
        return install();
    case DaemonOptions::Verb::Start:
        return start(options.waitSeconds);
    case DaemonOptions::Verb::Stop:
        return controlAndWait(SERVICE_CONTROL_STOP, SERVICE_STOP, options.waitSeconds,
                              QStringLiteral("stopped"));
    case DaemonOptions::Verb::CloseWhenIdle:
        return controlAndWait(WindowsService::CloseWhenIdleControl, SERVICE_USER_DEFINED_CONTROL,
                              options.waitSeconds, QStringLiteral("closed"));
    case DaemonOptions::Verb::Remove:
        return remove(options.waitSeconds);
    case DaemonOptions::Verb::Status:
        return status();
    case DaemonOptions::Verb::Serve:
    case DaemonOptions::Verb::RunService:
        break;
    }
    return failed(QStringLiteral("not a service verb."));
}

} // namespace Tarvo
