// What tarvod needs to run as the Windows service, tried where it can be: its command line in
// both platforms' flavours, keeping the PC awake, the Keep Awake setting, the server's lock, and
// under Windows (Wine) the per-machine registry store, which no per-user key may stand in for.
#include "Columns.h"
#include "DaemonOptions.h"
#include "KeepAwake.h"
#include "SettingsStore.h"
#include "SingleInstance.h"

#include <QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace Tarvo;
using Tarvo::Testing::columns;
using Tarvo::Testing::fetch;

namespace {

using Verb = DaemonOptions::Verb;

// The system's request as a record: "1" held, "0" let go.
class RecordedPower final : public PowerRequest
{
public:
    bool hold(bool awake, QString &error) override
    {
        calls += awake ? '1' : '0';
        error = QStringLiteral("access denied");
        return !refuses;
    }
    QString calls;
    bool refuses = false;
};

#ifdef Q_OS_WIN
const QString TestKey = QStringLiteral("SOFTWARE\\Tarvo tests");

void setText(HKEY root, const QString &subkey, const QString &name, const QString &text,
             REGSAM view = KEY_WOW64_64KEY)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(root, qUtf16Printable(subkey), 0, nullptr, 0, KEY_SET_VALUE | view,
                             nullptr, &key, nullptr),
             ERROR_SUCCESS);
    RegSetValueExW(key, qUtf16Printable(name), 0, REG_SZ,
                   reinterpret_cast<const BYTE *>(text.utf16()), DWORD((text.size() + 1) * 2));
    RegCloseKey(key);
}

bool keyExists(HKEY root, const QString &subkey, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, qUtf16Printable(subkey), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void deleteTestKeys()
{
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            HKEY software = nullptr;
            if (RegOpenKeyExW(root, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) !=
                ERROR_SUCCESS)
                continue;
            RegDeleteTreeW(software, L"Tarvo tests");
            RegCloseKey(software);
        }
}
#endif

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private slots:
    // The command line in each flavour: the Windows one has the service's verbs, pipe names and
    // registry keys; neither lets a wrong or doubtful line through.
    void commandLine_data()
    {
        const auto row = columns<bool, QStringList, int, int, int, QString, QString, QString>(
            "windows", "arguments", "status", "verb", "wait", "settings", "control", "says");
        const QString machine = QLatin1String(SettingsStore::MachineKey);
        const QString here = QDir::toNativeSeparators(QDir::current().absoluteFilePath("t.ini"));
        const int ok = -1;
        const auto win = [&row, &machine](const QString &tag, const QStringList &arguments,
                                          Verb verb, int wait) {
            row(tag, true, arguments, -1, int(verb), wait, machine, "tarvo-control", "");
        };
        const auto refused = [&row](const QString &tag, bool windows, const QStringList &arguments,
                                    const QString &says) {
            row(tag, windows, arguments, 2, 0, 0, "", "", says);
        };
        win("Windows: nothing", {}, Verb::Serve, 0);
        win("--service", {"--service"}, Verb::RunService, 0);
        win("--install-service", {"--install-service"}, Verb::Install, 0);
        win("--start-service", {"--start-service"}, Verb::Start, 30);
        win("--stop-service --wait 5", {"--stop-service", "--wait", "5"}, Verb::Stop, 5);
        win("--close-service-when-idle", {"--close-service-when-idle"}, Verb::CloseWhenIdle, 120);
        win("--remove-service --wait=0", {"--remove-service", "--wait=0"}, Verb::Remove, 0);
        win("--service-status", {"--service-status"}, Verb::Status, 0);
        win("a day's wait", {"--start-service", "--wait", "86400"}, Verb::Start, 86400);
        row("--service on another key", true,
            {"--service", "--settings", "hkey_current_user\\Software\\T"}, ok,
            int(Verb::RunService), 0, "hkey_current_user\\Software\\T", "tarvo-control", "");
        row("Windows: a settings file", true, {"--settings", "t.ini", "--control", "p"}, ok,
            int(Verb::Serve), 0, here, "p", "");
        row("Linux: nothing", false, {}, ok, int(Verb::Serve), 0, "/etc/tarvo/Tarvo.conf",
            "/run/tarvo/control", "");
        row("Linux: a key's name is a file's", false, {"--settings", "HKEY_LOCAL_MACHINE\\T"}, ok,
            int(Verb::Serve), 0,
            QDir::cleanPath(QDir::current().absoluteFilePath("HKEY_LOCAL_MACHINE\\T")),
            "/run/tarvo/control", "");
        refused("two verbs", true, {"--start-service", "--stop-service"},
                "--start-service and --stop-service may not be given together.");
        refused("--wait alone", true, {"--wait", "5"}, "--wait goes with a service verb only.");
        refused("--wait on a verb that does not wait", true, {"--install-service", "--wait", "5"},
                "--wait does not go with --install-service.");
        for (const char *wait : {"-1", "1.5", " 5", "5s", "86401", ""})
            refused(QStringLiteral("--wait \"%1\"").arg(wait), true,
                    {"--stop-service", "--wait", wait}, "--wait takes whole seconds");
        refused("a location with a verb", true, {"--install-service", "--settings", "x.ini"},
                "--settings does not go with --install-service");
        refused("an empty key", true, {"--service", "--settings", ""},
                "--settings may not be empty.");
        refused("Linux: no service", false, {"--service"}, "Unknown option 'service'");
        refused("Linux: no wait", false, {"--wait", "3"}, "Unknown option 'wait'");
    }

    void commandLine()
    {
        const auto [windows, arguments, status, verb, wait, settings, control, says] =
            fetch<bool, QStringList, int, int, int, QString, QString, QString>(
                "windows", "arguments", "status", "verb", "wait", "settings", "control", "says");
        DaemonOptions options(windows ? DaemonOptions::Defaults::forWindows("C:\\ProgramData")
                                      : DaemonOptions::Defaults::forLinux());
        QString message;
        int exitStatus = -1;
        const bool parsed = options.parse(QStringList{"tarvod"} + arguments, message, exitStatus);
        QVERIFY2(parsed == (status < 0), qPrintable(message));
        if (!parsed) {
            QCOMPARE(exitStatus, status);
            QVERIFY2(message.contains(says), qPrintable(message));
            return;
        }
        QCOMPARE(int(options.verb), verb);
        QCOMPARE(options.waitSeconds, wait);
        QCOMPARE(options.settings, settings);
        QCOMPARE(options.control, control);
        QCOMPARE(options.stateDir, windows ? QStringLiteral("C:\\ProgramData\\Tarvo")
                                           : QStringLiteral("/var/lib/tarvo"));
    }

    // Whether the PC is kept awake: during a call always; while armed as the setting says.
    void keepAwakeDecision_data()
    {
        const auto row = columns<bool, bool, bool, bool>("connected", "armed", "setting", "awake");
        row("idle", false, false, true, false);
        row("idle, setting off", false, false, false, false);
        row("armed", false, true, true, true);
        row("armed, setting off", false, true, false, false);
        row("a call", true, true, true, true);
        row("a call, setting off", true, true, false, true);
        row("a call after Stop", true, false, false, true);
    }

    void keepAwakeDecision()
    {
        const auto [connected, armed, setting, awake] =
            fetch<bool, bool, bool, bool>("connected", "armed", "setting", "awake");
        RecordedPower power;
        int reads = 0;
        {
            KeepAwake keeper(power);
            keeper.update(connected, armed, [&reads, setting = setting] {
                ++reads;
                return setting;
            });
            QCOMPARE(keeper.held(), awake);
        }
        // Asked only when held, and let go at the end; the setting read only when it counts.
        QCOMPARE(power.calls, awake ? QStringLiteral("10") : QString());
        QCOMPARE(reads, !connected && armed ? 1 : 0);
    }

    // A run of states: the system is asked only when the answer changes, and let go at the end.
    void keepAwakeAsksOnlyOnChange()
    {
        RecordedPower power;
        {
            KeepAwake keeper(power);
            const QList<std::tuple<bool, bool, bool>> states{
                {false, false, true},  {false, true, true},  {true, true, true},
                {false, true, true},   {false, true, false}, {true, true, false},
                {false, false, false}, {false, true, true}};
            for (const auto &[connected, armed, setting] : states)
                keeper.update(connected, armed, [setting = setting] { return setting; });
            QCOMPARE(power.calls, QStringLiteral("10101"));
            keeper.release();
            keeper.release();
        }
        QCOMPARE(power.calls, QStringLiteral("101010"));
    }

    // A system that refuses costs this feature alone: said once, asked again at each update,
    // never counted as held.
    void keepAwakeRefused()
    {
        RecordedPower power;
        power.refuses = true;
        QStringList said;
        KeepAwake keeper(power, [&said](const QString &text) { said += text; });
        for (int tick = 0; tick < 3; ++tick)
            keeper.update(true, true, [] { return true; });
        QVERIFY(!keeper.held());
        QCOMPARE(power.calls, QStringLiteral("111"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().contains(QLatin1String("access denied")), qPrintable(said.first()));
        power.refuses = false;
        keeper.update(true, true, [] { return true; });
        QVERIFY(keeper.held());
    }

    // Service/Keep Awake as a person writes it, read afresh: only a plain no turns it off, and it
    // is not the recovery's switch.
    void keepAwakeSetting_data()
    {
        const auto row = columns<QByteArray, bool>("file", "on");
        row("absent", "", true);
        row("0", "[Service]\nKeep Awake=0\n", false);
        row("Off with a comment", "[Service]\nKeep Awake = Off ; on battery\n", false);
        row("FALSE", "[Service]\nKeep Awake=FALSE\n", false);
        row("no", "[Service]\nKeep Awake=no\n", false);
        row("1", "[Service]\nKeep Awake=1\n", true);
        row("nope", "[Service]\nKeep Awake=nope\n", true);
        row("the recovery's switch", "[Recovery]\nRetry=0\n", true);
        row("another group", "[Settings]\nKeep Awake=0\n", true);
    }

    void keepAwakeSetting()
    {
        const auto [file, on] = fetch<QByteArray, bool>("file", "on");
        QTemporaryDir dir;
        const QString path = dir.filePath("Tarvo.conf");
        const SettingsStore store(path);
        QVERIFY(store.keepAwakeEnabled()); // no file yet
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("[Settings]\nJob=1\n" + file);
        out.close();
        QCOMPARE(store.keepAwakeEnabled(), on);
    }

    // The server's lock is one per state folder, among all sessions.
    void serverLock()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("tarvod.lock");
        SingleInstance first(path, SingleInstance::Scope::Global);
        QCOMPARE(first.tryAcquire(), SingleInstance::Acquire::Acquired);
        QString again = path;
#ifdef Q_OS_WIN
        again = QDir::toNativeSeparators(path).toUpper(); // the same file to Windows
        QVERIFY(SingleInstance::objectNameFor(path, SingleInstance::Scope::Global)
                    .startsWith("Global\\"));
#endif
        SingleInstance second(again, SingleInstance::Scope::Global);
        QCOMPARE(second.tryAcquire(), SingleInstance::Acquire::AlreadyRunning);
        SingleInstance other(dir.filePath("elsewhere.lock"), SingleInstance::Scope::Global);
        QCOMPARE(other.tryAcquire(), SingleInstance::Acquire::Acquired);
    }

    // The service's store is the machine's key in the 64-bit view; a per-user key of the same
    // name, or one in the 32-bit view, is never read in its place, and a save lands in the
    // machine's key.
    void machineStore_data()
    {
        const auto row =
            columns<QString, bool, bool, int, bool>("root", "machine", "others", "port", "exists");
        row("HKLM", "HKEY_LOCAL_MACHINE\\", true, true, 2, true);
        row("HKLM, any case", "hkey_local_machine\\", true, true, 2, true);
        row("only per-user and 32-bit keys", "HKEY_LOCAL_MACHINE\\", false, true, 1, false);
        row("HKCU when named", "HKEY_CURRENT_USER\\", false, true, 4, true);
    }

    void machineStore()
    {
#ifndef Q_OS_WIN
        QSKIP("The registry is Windows'.");
#else
        const auto [root, machine, others, port, exists] =
            fetch<QString, bool, bool, int, bool>("root", "machine", "others", "port", "exists");
        deleteTestKeys();
        const auto cleanUp = qScopeGuard([] { deleteTestKeys(); });
        const QString subkey = TestKey + "\\store";
        if (machine)
            setText(HKEY_LOCAL_MACHINE, subkey + "\\Settings", "Modem Port", "2");
        if (others) {
            setText(HKEY_CURRENT_USER, subkey + "\\Settings", "Modem Port", "4");
            setText(HKEY_LOCAL_MACHINE, subkey + "\\Settings", "Job", "1", KEY_WOW64_32KEY);
            setText(HKEY_CURRENT_USER, subkey + "\\Ports", "COM2", "COM9");
        }
        SettingsStore store(SettingsStore::ServerLocation{root + subkey});
        QVERIFY(store.inRegistry());
        QCOMPARE(store.exists(), exists);
        Configuration model;
        store.LoadSettings(model);
        QCOMPARE(int(model.ModemPort), port);
        if (root.startsWith("hkey_local", Qt::CaseInsensitive)) {
            QCOMPARE(int(model.JobType), int(SettingsStore::DefaultJobType)); // not the 32-bit one
            QCOMPARE(store.portDevice(2), QStringLiteral("COM2"));
        }
        model.ModemPort = 3;
        QString error;
        QVERIFY2(store.SaveSettings(model, error), qPrintable(error));
        SettingsStore again(SettingsStore::ServerLocation{root + subkey});
        again.LoadSettings(model);
        QCOMPARE(int(model.ModemPort), 3);
        // HKCU's software is one for both views; HKLM's is not.
        const bool inMachine = root.startsWith("hkey_local", Qt::CaseInsensitive);
        const HKEY written = inMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        QVERIFY(keyExists(written, subkey + "\\File8", KEY_WOW64_64KEY));
        QVERIFY(!inMachine || !keyExists(written, subkey + "\\File8", KEY_WOW64_32KEY));
#endif
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
