// tarvod.exe as the Windows service, through its own verbs, as the installer drives it: install,
// status, start, a second start, close when idle, start, stop, remove, each step's exit status,
// its line and the state it leaves, the registered command line, how soon the service reports
// running and its process ends, and the orderly end in its log. Windows (Wine) only.
//
// The service is the real one, named Tarvo, so a machine where it is installed is left alone
// (skipped). The program and the DLLs it needs are copied into a folder of their own: the service
// manager starts it with the system's path, not the test's.
#include "Columns.h"
#include "ServiceQuery.h"

#include <QtTest>
#include <qt_windows.h>

using namespace Tarvo;
using Tarvo::Testing::columns;
using Tarvo::Testing::fetch;

namespace {

// How soon a start and a stop must be over: a few seconds (Wine's manager waits 10 s).
constexpr qint64 PromptMs = 5000;

// The full path of a DLL as the loader would find it from here, or nothing.
QString foundDll(const QString &name)
{
    wchar_t path[MAX_PATH];
    const DWORD length =
        SearchPathW(nullptr, qUtf16Printable(name), nullptr, MAX_PATH, path, nullptr);
    return length > 0 && length < MAX_PATH ? QString::fromWCharArray(path, int(length)) : QString();
}

} // namespace

class TestWindowsService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QString m_program;

    struct Result
    {
        int status = -1;
        QString line;
        qint64 ms = 0;
    };

    Result tarvod(const QStringList &arguments)
    {
        QElapsedTimer clock;
        clock.start();
        QProcess process;
        process.start(m_program, arguments);
        Result result;
        if (!process.waitForFinished(60000))
            return result;
        result.ms = clock.elapsed();
        result.status = process.exitCode();
        result.line =
            QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError())
                .trimmed();
        return result;
    }

private slots:
    void initTestCase()
    {
        if (queryService().installed())
            QSKIP("The service Tarvo is installed on this machine: left alone.");
        m_program = m_folder.filePath("tarvod.exe");
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/tarvod.exe", m_program));
        for (const char *dll : {"Qt6Core.dll", "Qt6Network.dll", "Qt6SerialPort.dll",
                                "libstdc++-6.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll"}) {
            const QString from = foundDll(dll);
            if (!from.isEmpty()) // a build that links it statically has none
                QVERIFY2(QFile::copy(from, m_folder.filePath(dll)), dll);
        }
        // Nothing may be left of an earlier run that failed half-way.
        QCOMPARE(tarvod({"--remove-service"}).line, QStringLiteral("not installed"));
    }

    void cleanupTestCase()
    {
        if (!m_program.isEmpty())
            tarvod({"--remove-service"});
    }

    // The steps in order; each row starts from where the one before left the service.
    void verbs_data()
    {
        const auto row = columns<QStringList, int, QString, int, bool>("arguments", "status",
                                                                       "says", "state", "prompt");
        using State = ServiceInfo::State;
        row("status, not installed", {"--service-status"}, 0, "^not installed$",
            int(State::NotInstalled), true);
        row("stop, not installed", {"--stop-service"}, 1, "not installed", int(State::NotInstalled),
            true);
        row("--service by hand", {"--service"}, 1, "Service Control Manager",
            int(State::NotInstalled), false); // Wine may look for the manager for 10 s
        row("install", {"--install-service"}, 0, "^installed: \"[^\"]+tarvod\\.exe\" --service$",
            int(State::Stopped), true);
        row("install again", {"--install-service"}, 0, "^installed: ", int(State::Stopped), true);
        row("status, installed", {"--service-status"}, 0, "^stopped$", int(State::Stopped), true);
        row("start", {"--start-service", "--wait", "20"}, 0, "^running \\d+$", int(State::Running),
            true);
        row("start, running", {"--start-service"}, 0, "^running \\d+$", int(State::Running), true);
        row("close when idle", {"--close-service-when-idle", "--wait", "20"}, 0, "^closed$",
            int(State::Stopped), true);
        row("start again", {"--start-service"}, 0, "^running \\d+$", int(State::Running), true);
        row("stop", {"--stop-service"}, 0, "^stopped$", int(State::Stopped), true);
        row("stop, stopped", {"--stop-service"}, 0, "^stopped$", int(State::Stopped), true);
        row("start for the removal", {"--start-service"}, 0, "^running \\d+$", int(State::Running),
            true);
        row("remove, running", {"--remove-service"}, 0, "^removed$", int(State::NotInstalled),
            true);
        row("remove, removed", {"--remove-service"}, 0, "^not installed$", int(State::NotInstalled),
            true);
    }

    void verbs()
    {
        if (m_program.isEmpty())
            QSKIP("Not set up.");
        const auto [arguments, status, says, state, prompt] =
            fetch<QStringList, int, QString, int, bool>("arguments", "status", "says", "state",
                                                        "prompt");
        const unsigned long before = queryService().processId;
        QFile log(qEnvironmentVariable("ProgramData") + "\\Tarvo\\Tarvo.Log");
        const qint64 logged = log.size();
        const Result result = tarvod(arguments);
        QVERIFY2(result.status == status, qPrintable(result.line));
        QVERIFY2(QRegularExpression(says).match(result.line).hasMatch(), qPrintable(result.line));
        const ServiceInfo now = queryService();
        QCOMPARE(int(now.state), state);
        if (prompt)
            QVERIFY2(result.ms < PromptMs, qPrintable(QString::number(result.ms)));
        if (now.installed())
            QCOMPARE(now.binaryPath, '"' + QDir::toNativeSeparators(m_program) + "\" --service");
        if (now.running()) {
            QVERIFY(now.processId != 0);
            QCOMPARE(result.line, "running " + QString::number(now.processId));
        }
        // A stop ends the process itself, and in order: the log says why it ended.
        if (before != 0 && arguments.first() == "--stop-service") {
            const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(before));
            QVERIFY(!process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0);
            if (process)
                CloseHandle(process);
            QVERIFY(log.open(QIODevice::ReadOnly) && log.seek(logged));
            QVERIFY(log.readAll().contains("The service is stopped."));
        }
    }
};

QTEST_GUILESS_MAIN(TestWindowsService)
#include "test_windowsservice.moc"
