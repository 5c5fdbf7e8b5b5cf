// The real program's start beside a registered Windows service "Tarvo": it
// attaches on the system's pipe, waits for a service that does not run yet
// and never turns to the configuration window and the port; without the
// service it starts on its own as before. Registering a service of that name
// is done only in a Wine prefix where none is registered.
#include "CloseRequests.h"
#include "Columns.h"
#include "ServiceQuery.h"

#include <QtTest>
#include <qt_windows.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {
bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// A service registered for the test's length, never started.
class ScopedService
{
public:
    explicit ScopedService(const QString &name)
    {
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
        if (!m_manager)
            return;
        const std::wstring wname = name.toStdWString();
        m_service = CreateServiceW(m_manager, wname.c_str(), wname.c_str(), DELETE,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                   SERVICE_ERROR_IGNORE, L"\"C:\\nowhere\\tarvod.exe\" --service",
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    ~ScopedService()
    {
        if (m_service) {
            DeleteService(m_service);
            CloseServiceHandle(m_service);
        }
        if (m_manager)
            CloseServiceHandle(m_manager);
    }
    bool registered() const { return m_service != nullptr; }

private:
    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};

void signal(CloseRequests::Kind kind)
{
    const std::wstring name =
        CloseRequests::eventName(CloseRequests::defaultName(), kind).toStdWString();
    if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
        SetEvent(event);
        CloseHandle(event);
    }
}
} // namespace

class TestServiceAttach : public QObject
{
    Q_OBJECT
private slots:
    void programBesideTheService_data();
    void programBesideTheService();
};

void TestServiceAttach::programBesideTheService_data()
{
    const auto row = columns<bool>("registered");
    row("service registered, not running", true);
    row("no service", false);
}

void TestServiceAttach::programBesideTheService()
{
    if (!underWine())
        QSKIP("registers a service named Tarvo: only in a Wine prefix");
    if (queryService().installed())
        QSKIP("a service named Tarvo is registered here already");
    auto [registered] = fetch<bool>("registered");
    std::optional<ScopedService> service;
    if (registered) {
        service.emplace(QLatin1String(WindowsService::Name));
        QVERIFY(service->registered());
        QCOMPARE(queryService().state, ServiceInfo::State::Stopped);
    }
    QTemporaryDir dir;
    const QString program = dir.filePath("tarvo.exe");
    QVERIFY(QFile::copy(TARVO_PATH, program));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TARVO_CONTROL"); // the system's pipe
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess tarvo;
    tarvo.setProcessEnvironment(env);
    tarvo.start(program, {});
    QVERIFY(tarvo.waitForStarted(5000));
    const auto reap = qScopeGuard([&tarvo] {
        tarvo.kill();
        tarvo.waitForFinished(5000);
    });
    // Attached, the server window comes up at once and logs the run's
    // separator beside the program; on its own, the configuration window
    // comes first and nothing is logged.
    if (registered)
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("Tarvo.Log")), 15000);
    else
        QTest::qWait(3000);
    QCOMPARE(QFile::exists(dir.filePath("Tarvo.Log")), registered);
    QCOMPARE(tarvo.state(), QProcess::Running); // waiting for the service, or in the window
    // The installer's close ends either at once.
    signal(CloseRequests::Kind::CloseNow);
    QVERIFY(tarvo.waitForFinished(10000));
}

QTEST_MAIN(TestServiceAttach)
#include "test_serviceattach.moc"
