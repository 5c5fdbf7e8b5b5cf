// The tray attached to a server: a control server in this process with a
// fake target behind it, the server window in front with a recording tray
// and scripted questions (AttachRig.h).
#include "AttachRig.h"
#include "CloseRequests.h"
#include "InstalledServer.h"

#include <QtTest>
#include <QtWidgets>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace Tarvo;
using namespace Tarvo::Testing;
using CallOnStop = ControlTarget::CallOnStop;

class TestAttach : public QObject
{
    Q_OBJECT
private slots:
    void paneShowsBacklogThenLive();
    void buttonsFollowTheStatus_data();
    void buttonsFollowTheStatus();
    void startStopActOnTheServer_data();
    void startStopActOnTheServer();
    void settingsSaveThroughTheServer_data();
    void settingsSaveThroughTheServer();
    void exitLeavesTheServerRunning();
    void silentServerIsSaidAndAttachedLater();
    void refusalIsSaidAndAttachedOnceAllowed();
    void attachDecision_data();
    void attachDecision();
    void endpointSeen();
    void programChoosesAtStart_data();
    void programChoosesAtStart();
};

void TestAttach::paneShowsBacklogThenLive()
{
    Rig rig;
    rig.target.state.portOpen = true; // "Hide" until the channel ends
    rig.feed.AppendStatus("old blue\r\n", ColourBlue);
    rig.feed.AppendStatus("old red\r\n", ColourRed);
    rig.feed.WriteLog("log only\r\n");
    rig.feed.SetTrayTip("Waiting call ...");
    QVERIFY(rig.listen());
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.pane().contains("old red"));
    QCOMPARE(rig.pane(), QStringLiteral("old blue\nold red\n"));
    QCOMPARE(colourOf(rig.tray.window().statusPane(), "old blue"), StatusPane::toColor(ColourBlue));
    QCOMPARE(colourOf(rig.tray.window().statusPane(), "old red"), StatusPane::toColor(ColourRed));
    QCOMPARE(rig.trayIcon.tip, QStringLiteral("Tarvo - Waiting call ..."));

    rig.feed.clearStatus();
    rig.feed.AppendStatus("live\r\n", ColourRed);
    rig.feed.SetTrayTip("Connected");
    QTRY_COMPARE(rig.trayIcon.tip, QStringLiteral("Tarvo - Connected"));
    QCOMPARE(rig.pane(), QStringLiteral("live\n"));
    QCOMPARE(colourOf(rig.tray.window().statusPane(), "live"), StatusPane::toColor(ColourRed));
    // The server's lines are the server's log's, not the user's.
    QFile userLog(rig.log.path());
    QVERIFY(!userLog.open(QIODevice::ReadOnly) || !userLog.readAll().contains("old"));

    // A channel that ends and comes back resumes: no line twice. Meanwhile
    // nothing is known of the port: Exit, and no Start or Stop.
    rig.server.reset();
    QTRY_VERIFY(rig.pane().contains("does not answer"));
    QCOMPARE(rig.button("cmdClose")->text(), QStringLiteral("Exit"));
    QVERIFY(!rig.button("cmdWaitingCall")->isEnabled());
    rig.feed.AppendStatus("while away\r\n");
    QVERIFY(rig.listen());
    QTRY_VERIFY(rig.pane().contains("while away"));
    // Only what came since: the old clear is not run again over the red line.
    QVERIFY(rig.pane().startsWith("live\n"));
    QVERIFY(rig.pane().contains("does not answer"));
    QVERIFY(rig.pane().endsWith("while away\n"));
}

void TestAttach::buttonsFollowTheStatus_data()
{
    const auto row =
        columns<bool, bool, QString, QString>("portOpen", "started", "startStop", "close");
    row("serving", true, true, "Stop", "Hide");
    row("stopped", false, false, "Start", "Exit");
    row("started, port not yet open", false, true, "Stop", "Exit");
}

void TestAttach::buttonsFollowTheStatus()
{
    auto [portOpen, started] = fetch<bool, bool>("portOpen", "started");
    Rig rig;
    rig.target.state.portOpen = portOpen;
    rig.target.state.started = started;
    QVERIFY(rig.listen());
    // Attached before the window's first activation, which starts nothing:
    // the server stays as it is.
    rig.tray.server().attach(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.tray.window().Form_Load();
    QTRY_VERIFY(!rig.tray.window().operations().activationDue());
    rig.settle(); // a request sent before this status would have been answered first
    QVERIFY(rig.target.calls.isEmpty());
    QTEST(rig.button("cmdWaitingCall")->text(), "startStop");
    QTEST(rig.button("cmdClose")->text(), "close");
    QVERIFY(rig.button("cmdWaitingCall")->isEnabled());
    QVERIFY(rig.button("cmdSettings")->isEnabled());
    QCOMPARE(rig.state.PortOpened, portOpen);
}

void TestAttach::startStopActOnTheServer_data()
{
    // answers: to the tray's questions in order; stops: what reached the target
    const auto row = columns<bool, bool, QList<bool>, QStringList, QStringList>(
        "started", "connected", "answers", "asked", "stops");
    const QString stop = "Stop Tarvo ?", hangUp = "Hang up (disconnect) modem?";
    row("start", false, false, QList<bool>{}, QStringList{}, QStringList{});
    row("stop, no call", true, false, QList<bool>{true}, QStringList{stop}, QStringList{"end"});
    row("stop refused", true, true, QList<bool>{false}, QStringList{stop}, QStringList{});
    row("stop, call ended", true, true, QList<bool>{true, true}, QStringList{stop, hangUp},
        QStringList{"end"});
    row("stop, call kept", true, true, QList<bool>{true, false}, QStringList{stop, hangUp},
        QStringList{"keep"});
}

void TestAttach::startStopActOnTheServer()
{
    auto [started, connected, answers, stops] =
        fetch<bool, bool, QList<bool>, QStringList>("started", "connected", "answers", "stops");
    Rig rig;
    rig.target.state.started = started;
    rig.target.state.connected = connected;
    QVERIFY(rig.listen());
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.settle();
    rig.prompter.answers = answers;
    rig.prompter.questions.clear();
    rig.button("cmdWaitingCall")->click();
    QTEST(rig.prompter.questions, "asked");
    if (started) {
        QStringList reached;
        QTRY_VERIFY(!(reached = stopsOf(rig.target)).isEmpty() || stops.isEmpty());
        QTest::qWait(100); // nothing more comes
        QCOMPARE(stopsOf(rig.target), stops);
    } else {
        QTRY_COMPARE(rig.target.calls, QStringList({"start", "start done"}));
        QVERIFY(rig.target.stops.isEmpty());
    }
    // The answer's status gives the button back.
    QTRY_VERIFY(rig.button("cmdWaitingCall")->isEnabled());
    QVERIFY(!rig.target.calls.contains("start") || !started);
}

namespace {

// The elevated helper as the test scripts it: it saves into the target as
// tarvoctl would, or fails with its reason, and counts its runs.
struct ScriptedElevation final : ElevatedSave
{
    FakeTarget *target = nullptr;
    QString failure;
    int *runs = nullptr;
    ControlResult save(const QString &, const QMap<QString, QString> &values) override
    {
        ++*runs;
        if (!failure.isEmpty())
            return {false, failure};
        return target->saveSettings(values);
    }
};

} // namespace

void TestAttach::settingsSaveThroughTheServer_data()
{
    // refusal: the target's own; administrator: the tray's connection is one;
    // elevation: "" none, "ok" saves, else the helper's failure. saved: the
    // window closed with the values taken; warning: what it says otherwise.
    const auto row = columns<QString, bool, QString, bool, bool, QString>(
        "refusal", "administrator", "elevation", "elevated", "saved", "warning");
    const QString readOnly =
        "Cannot save the settings in /etc/tarvo/Tarvo.conf: Read-only file system";
    const QString declined =
        "The settings were not saved: the administrator's confirmation was declined.";
    row("saved", "", true, "ok", false, true, "");
    row("refused", readOnly, true, "ok", false, false, readOnly);
    row("not an administrator, elevated", "", false, "ok", true, true, "");
    row("not an administrator, declined", "", false, declined, true, false, declined);
    row("not an administrator, elevated but refused", readOnly, false, "ok", true, false, readOnly);
    row("not an administrator, no helper", "", false, "", false, false,
        "Changing the settings needs an administrator.");
}

void TestAttach::settingsSaveThroughTheServer()
{
    auto [refusal, administrator, elevation, elevated, saved, warning] =
        fetch<QString, bool, QString, bool, bool, QString>("refusal", "administrator", "elevation",
                                                           "elevated", "saved", "warning");
    Rig rig;
    rig.target.saveRefusal = refusal;
    const auto before = rig.target.values;
    QVERIFY(rig.listen());
    rig.server->setAccessRule([administrator = administrator](const PeerCredentials &) {
        return AccessDecision{
            true, {}, administrator ? PeerRole::Administrator : PeerRole::Operator};
    });
    int runs = 0;
    if (elevation.isEmpty()) {
        rig.tray.server().setElevatedSave(nullptr);
    } else {
        auto helper = std::make_unique<ScriptedElevation>();
        helper->target = &rig.target;
        helper->runs = &runs;
        helper->failure = elevation == QLatin1String("ok") ? QString() : elevation;
        rig.tray.server().setElevatedSave(std::move(helper));
    }
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.settle();
    bool openAfterOk = false;
    QString device;
    rig.inWindow = [&](frmMain *window) {
        QVERIFY(window);
        auto *port = window->findChild<QComboBox *>("cboModemPort");
        port->setCurrentIndex(2);
        device = window->findChild<QLabel *>("lblPortDevice")->text();
        window->findChild<QPushButton *>("cmdOK")->click();
        openAfterOk = window->isVisible();
        if (openAfterOk)
            window->findChild<QPushButton *>("cmdCancel")->click();
    };
    rig.button("cmdSettings")->click();
    QCOMPARE(device, QStringLiteral("/dev/ttyUSB3")); // the server's Ports
    QCOMPARE(runs, elevated ? 1 : 0);
    QCOMPARE(openAfterOk, !saved);
    if (saved) {
        QCOMPARE(rig.target.values.value("Settings/Modem Port"), QStringLiteral("3"));
        QCOMPARE(rig.target.values.value("Dnld1/Open From"), servedPath("d"));
        QCOMPARE(rig.prompter.warnings, QStringList());
        QVERIFY(rig.pane().contains("Modem Port: COM3"));
    } else {
        QCOMPARE(rig.target.values, before);
        QCOMPARE(rig.prompter.warnings,
                 QStringList("The settings cannot be saved to the server at " +
                             QDir::toNativeSeparators(rig.path) + ": " + warning));
    }
}

void TestAttach::exitLeavesTheServerRunning()
{
    Rig rig;
    rig.target.state.started = rig.target.state.portOpen = false;
    QVERIFY(rig.listen());
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.settle();
    rig.prompter.answers = {true};
    rig.button("cmdClose")->click(); // "Exit" with the port closed
    QCOMPARE(rig.prompter.questions.last(), QStringLiteral("Exit Tarvo program?"));
    QTRY_VERIFY(rig.tray.window().isUnloaded());

    ControlClient later(QStringLiteral("test"));
    later.open(rig.path);
    QVERIFY(later.waitForReady(5000));
    QCOMPARE(ControlClient::statusOf(later.waitForAnswer(later.status(), 5000)).state,
             rig.target.state.state);
    QTest::qWait(100); // whatever the tray sent on its way out has arrived
    QVERIFY(rig.target.stops.isEmpty());
    QVERIFY(rig.target.calls.isEmpty());
}

void TestAttach::silentServerIsSaidAndAttachedLater()
{
    Rig rig;
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.pane().contains("does not answer"));
    QCOMPARE(colourOf(rig.tray.window().statusPane(), "does not answer"),
             StatusPane::toColor(ColourRed));
    QVERIFY(!rig.button("cmdWaitingCall")->isEnabled());
    QVERIFY(!rig.button("cmdSettings")->isEnabled());
    QTest::qWait(200); // a few tries: the same reason is said once
    QCOMPARE(rig.pane().count("does not answer"), 1);

    rig.feed.AppendStatus("Waiting call ...\r\n");
    QVERIFY(rig.listen());
    QTRY_VERIFY(rig.pane().contains("Waiting call ..."));
    QTRY_VERIFY(rig.button("cmdWaitingCall")->isEnabled());
    QVERIFY(!rig.state.PortOpened || rig.target.state.portOpen);
}

void TestAttach::refusalIsSaidAndAttachedOnceAllowed()
{
#ifndef Q_OS_UNIX
    QSKIP("the access rule is checked on Unix");
#endif
    Rig rig;
    QVERIFY(rig.listen());
    bool allowed = false;
    rig.server->setAccessRule([&allowed](const PeerCredentials &) {
        return AccessDecision{allowed, "refused: not in the group \"tarvo\""};
    });
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.pane().contains("refused: not in the group"));
    QCOMPARE(colourOf(rig.tray.window().statusPane(), "refused"), StatusPane::toColor(ColourRed));
    QVERIFY(!rig.tray.server().attached());
    allowed = true;
    QTRY_VERIFY(rig.tray.server().attached());
    QTRY_VERIFY(rig.button("cmdWaitingCall")->isEnabled());
}

void TestAttach::attachDecision_data()
{
    using State = ServiceInfo::State;
    // path: the system's or another; pipeSays: the system's endpoint shows the
    // server (a socket in root's folder), or not (a pipe anyone may create)
    const auto row = columns<bool, bool, bool, State, bool, bool>(
        "systemPath", "pipeSays", "endpoint", "service", "unit", "attaches");
    row("nothing installed", true, true, false, State::NotInstalled, false, false);
    row("socket of the system's server", true, true, true, State::NotInstalled, false, true);
    row("unit enabled, server not up yet", true, true, false, State::NotInstalled, true, true);
    row("service registered, stopped", true, false, false, State::Stopped, false, true);
    row("service starting", true, false, false, State::StartPending, false, true);
    row("service running", true, false, true, State::Running, false, true);
    row("service stopping", true, false, false, State::StopPending, false, true);
    row("a pipe of the system's name, no service", true, false, true, State::NotInstalled, false,
        false);
    row("another path, a server there", false, false, true, State::NotInstalled, false, true);
    row("another path, nothing there", false, false, false, State::Running, true, false);
    row("another path, its socket file there", false, true, true, State::NotInstalled, false, true);
}

void TestAttach::attachDecision()
{
    auto [systemPath, pipeSays, endpoint, service, unit] =
        fetch<bool, bool, bool, ServiceInfo::State, bool>("systemPath", "pipeSays", "endpoint",
                                                          "service", "unit");
    QTemporaryDir dir;
    const QString link = dir.filePath("tarvod.service");
    if (unit) // a link to a unit file this user may not read still counts
        QVERIFY(QFile::link(dir.filePath("no/such/tarvod.service"), link));
    InstalledServer::Probe probe;
    probe.systemPath = "tarvo-control";
    probe.unitLink = link;
    probe.systemEndpointCounts = pipeSays;
    QStringList asked;
    probe.endpointThere = [&asked, there = endpoint](const QString &path) {
        asked += path;
        return there;
    };
    probe.service = [service = service] {
        ServiceInfo info;
        info.state = service;
        return info;
    };
    const QString path = systemPath ? probe.systemPath : dir.filePath("control");
    QTEST(InstalledServer::trayAttaches(path, probe), "attaches");
    QCOMPARE(asked, QStringList(path)); // the path looked at is the tray's own
}

// The endpoint check on the real thing: a socket file, or a named pipe that
// leaves none.
void TestAttach::endpointSeen()
{
    Rig rig;
    QVERIFY(!InstalledServer::endpointThere(rig.path));
    QVERIFY(rig.listen());
    QVERIFY(InstalledServer::endpointThere(rig.path));
    // Busy with a client, it is still there.
    ControlClient client(QStringLiteral("test"));
    client.open(rig.path);
    QVERIFY(client.waitForReady(5000));
    QVERIFY(InstalledServer::endpointThere(rig.path));
    rig.server.reset();
    QTRY_VERIFY(!InstalledServer::endpointThere(rig.path));
    QVERIFY(!InstalledServer::endpointThere(QString()));
}

// The program itself, copied into a scratch folder so that its log goes there.
// Attached, it reaches the server at once and its server window comes up;
// with nothing installed it waits in the configuration window, as before.
void TestAttach::programChoosesAtStart_data()
{
    const auto row = columns<bool>("server");
    row("server answers", true);
    row("nothing installed", false);
}

void TestAttach::programChoosesAtStart()
{
    auto [withServer] = fetch<bool>("server");
    Rig rig;
    const QString program = rig.dir.filePath(QFileInfo(TARVO_PATH).fileName());
    QVERIFY(QFile::copy(TARVO_PATH, program));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        QVERIFY(QDir(rig.dir.path()).mkpath(name));
        env.insert(name, rig.dir.filePath(name));
    }
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TARVO_CONTROL", rig.path);
    // A call is up at the server: nothing the tray does may end it.
    rig.target.state.connected = true;
    if (withServer)
        QVERIFY(rig.listen());
    QProcess tarvo, second;
    tarvo.setProcessEnvironment(env);
    second.setProcessEnvironment(env);
    tarvo.start(program, {});
    QVERIFY(tarvo.waitForStarted(5000));
    const auto reap = qScopeGuard([&tarvo] { // also when a check fails
        tarvo.kill();
        tarvo.waitForFinished(5000);
    });
    if (withServer) {
        QTRY_COMPARE_WITH_TIMEOUT(rig.server->connectionCount(), 1, 10000);
        // One tray per user, attached or not.
        second.start(program, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
    } else {
        QTest::qWait(1500);
    }
    // The server window's first activation logs the run's separator; the
    // configuration window comes before it.
    QTRY_COMPARE(QFile::exists(rig.dir.filePath("Tarvo.Log")), withServer);
    QCOMPARE(tarvo.state(), QProcess::Running);
#ifdef Q_OS_WIN
    if (withServer) {
        // The installer's request ends the attached tray at once, whatever
        // the server is doing (the call), and the server hears nothing of it.
        QTest::qWait(1000); // the tray has the status that shows the call
        const std::wstring name = CloseRequests::eventName(CloseRequests::defaultName(),
                                                           CloseRequests::Kind::CloseWhenIdle)
                                      .toStdWString();
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
        QVERIFY(event);
        SetEvent(event);
        CloseHandle(event);
        QVERIFY(tarvo.waitForFinished(10000));
        QVERIFY(rig.target.stops.isEmpty());
    }
#endif
    QVERIFY(rig.target.calls.isEmpty());
}

QTEST_MAIN(TestAttach)
#include "test_attach.moc"
