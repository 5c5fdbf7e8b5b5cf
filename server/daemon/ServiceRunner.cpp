#include "ServiceRunner.h"

#include "ServiceQuery.h"

#include <QMetaObject>
#include <QTimer>
#include <future>
#include <mutex>
#include <qt_windows.h>
#include <thread>

namespace Tarvo {

namespace {

// How long the manager is told a state change may take.
constexpr DWORD StartHintMs = 10 * 1000;
constexpr DWORD StopHintMs = 15 * 1000;

ServiceRunner *s_runner = nullptr; // the manager's callbacks carry no context

} // namespace

struct ServiceRunner::Manager
{
    std::thread dispatcher;
    std::promise<QString> connected; // empty when the service's main function runs
    std::promise<void> ended;        // the service has reported "stopped"
    std::mutex lock;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    bool answered = false;

    void report(DWORD state, DWORD waitHint = 0, DWORD exitStatus = 0)
    {
        std::lock_guard guard(lock);
        if (!handle || status.dwCurrentState == SERVICE_STOPPED)
            return;
        const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
        status.dwCheckPoint = pending && status.dwCurrentState == state ? status.dwCheckPoint + 1
                              : pending                                 ? 1
                                                                        : 0;
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = state;
        status.dwWaitHint = waitHint;
        status.dwControlsAccepted =
            state == SERVICE_RUNNING
                ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN
                : 0;
        status.dwWin32ExitCode = exitStatus ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
        status.dwServiceSpecificExitCode = exitStatus;
        SetServiceStatus(handle, &status);
    }

    void answer(const QString &error)
    {
        std::lock_guard guard(lock);
        if (!std::exchange(answered, true))
            connected.set_value(error);
    }

    static DWORD WINAPI control(DWORD code, DWORD, void *, void *)
    {
        Manager &self = *s_runner->m_manager;
        switch (code) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_PRESHUTDOWN:
        case SERVICE_CONTROL_SHUTDOWN: {
            self.report(SERVICE_STOP_PENDING, StopHintMs);
            const QString reason = code == SERVICE_CONTROL_STOP
                                       ? QStringLiteral("The service is stopped.")
                                       : QStringLiteral("Windows shuts down.");
            QMetaObject::invokeMethod(
                s_runner,
                [reason] {
                    s_runner->stopping();
                    emit s_runner->stopRequested(reason);
                },
                Qt::QueuedConnection);
            return NO_ERROR;
        }
        case WindowsService::CloseWhenIdleControl:
            QMetaObject::invokeMethod(
                s_runner, [] { emit s_runner->closeWhenIdleRequested(); }, Qt::QueuedConnection);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
    }

    // Runs on a thread of the manager's until the service has stopped.
    static void WINAPI serviceMain(DWORD, LPWSTR *)
    {
        Manager &self = *s_runner->m_manager;
        const QString name = QLatin1String(WindowsService::Name);
        self.handle = RegisterServiceCtrlHandlerExW(reinterpret_cast<LPCWSTR>(name.utf16()),
                                                    &Manager::control, nullptr);
        if (!self.handle) {
            self.answer(qt_error_string(int(GetLastError())));
            return;
        }
        self.report(SERVICE_START_PENDING, StartHintMs);
        self.answer({});
        self.ended.get_future().wait();
    }
};

ServiceRunner::ServiceRunner(QObject *parent)
    : QObject(parent), m_manager(std::make_unique<Manager>())
{
    s_runner = this;
}

ServiceRunner::~ServiceRunner()
{
    if (m_manager->dispatcher.joinable()) {
        reportStopped(0); // nothing when already reported
        m_manager->dispatcher.join();
    }
    s_runner = nullptr;
}

bool ServiceRunner::connect(QString &error)
{
    std::future<QString> answer = m_manager->connected.get_future();
    m_manager->dispatcher = std::thread([this] {
        static QString name = QLatin1String(WindowsService::Name);
        SERVICE_TABLE_ENTRYW table[] = {
            {reinterpret_cast<LPWSTR>(name.data()), &Manager::serviceMain}, {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table))
            m_manager->answer(GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                                  ? QStringLiteral("--service is for the Service Control "
                                                   "Manager; it did not start this tarvod.")
                                  : qt_error_string(int(GetLastError())));
    });
    error = answer.get();
    return error.isEmpty();
}

void ServiceRunner::reportRunning()
{
    m_manager->report(SERVICE_RUNNING);
}

void ServiceRunner::stopping()
{
    if (m_checkpoints)
        return;
    // The end takes a few seconds: the manager hears that it advances.
    m_checkpoints = new QTimer(this);
    QObject::connect(m_checkpoints, &QTimer::timeout, this,
                     [this] { m_manager->report(SERVICE_STOP_PENDING, StopHintMs); });
    m_checkpoints->start(1000);
}

void ServiceRunner::reportStopped(int exitStatus)
{
    if (m_checkpoints)
        m_checkpoints->stop();
    {
        std::lock_guard guard(m_manager->lock);
        if (m_manager->status.dwCurrentState == SERVICE_STOPPED || !m_manager->handle)
            return;
    }
    m_manager->report(SERVICE_STOPPED, 0, DWORD(exitStatus));
    m_manager->ended.set_value();
}

} // namespace Tarvo
