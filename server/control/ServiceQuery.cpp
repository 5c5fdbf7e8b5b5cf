#include "ServiceQuery.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <memory>
#include <vector>
#endif

namespace Tarvo {

#ifdef Q_OS_WIN
namespace {

struct ScHandleClose
{
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleClose>;

QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message =
        text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}

ServiceInfo::State stateOf(DWORD current)
{
    switch (current) {
    case SERVICE_STOPPED:
        return ServiceInfo::State::Stopped;
    case SERVICE_START_PENDING:
        return ServiceInfo::State::StartPending;
    case SERVICE_STOP_PENDING:
        return ServiceInfo::State::StopPending;
    case SERVICE_RUNNING:
        return ServiceInfo::State::Running;
    default:
        return ServiceInfo::State::Other;
    }
}

QString binaryPathOf(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (needed == 0)
        return {};
    std::vector<char> buffer(needed);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed) || !config->lpBinaryPathName)
        return {};
    return QString::fromWCharArray(config->lpBinaryPathName);
}

} // namespace

ServiceInfo queryService(const QString &name)
{
    ServiceInfo info;
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        info.error = systemMessage(GetLastError());
        return info;
    }
    const ScHandle service(OpenServiceW(manager.get(), reinterpret_cast<LPCWSTR>(name.utf16()),
                                        SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (!service) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_DOES_NOT_EXIST)
            info.error = systemMessage(error);
        return info;
    }
    info.state = ServiceInfo::State::Other;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<BYTE *>(&status), sizeof status, &needed)) {
        info.state = stateOf(status.dwCurrentState);
        info.processId = status.dwProcessId;
    } else {
        info.error = systemMessage(GetLastError());
    }
    info.binaryPath = binaryPathOf(service.get());
    return info;
}

#else

ServiceInfo queryService(const QString &)
{
    return {};
}

#endif

} // namespace Tarvo
