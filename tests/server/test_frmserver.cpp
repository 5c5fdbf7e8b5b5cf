// The server window with stand-ins around it: a recording tray, scripted
// questions, a log in a temporary folder and a fake modem service. Exit under
// a running wait uses the real modem control on the fake line.
#include "Configuration.h"
#include "FakeLine.h"
#include "LogFile.h"
#include "ModemControl.h"
#include "TrayIcon.h"
#include "frmServer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

struct FakeTray final : TrayIcon
{
    void add(const QIcon &, const QString &text) override { tip = text; }
    void setTip(const QString &text) override { tip = text; }
    void remove() override { removed = true; }
    void setMenu(QMenu *) override {}
    bool isAvailable() const override { return available; }

    bool available = true, removed = false;
    QString tip;
};

// Opens and closes the port as the modem control does, with no line behind it.
struct FakeModem final : ModemService
{
    FakeModem(frmServer &server, ServerState &state) : server(server), state(state) {}

    void InitializeModem() override
    {
        ++inits;
        state.PortOpened = !fails;
        server.setStartStopCaption(fails ? "Start" : "Stop");
        server.setCloseCaption(fails ? "Exit" : "Hide");
        server.setSettingsEnabled(fails);
        server.SetTrayTip(fails ? "Open COM failed" : "Waiting call ...");
    }
    void HangUp() override
    {
        ++hangUps;
        state.PortOpened = false;
        server.setStartStopCaption("Start");
        server.setCloseCaption("Exit");
    }

    frmServer &server;
    ServerState &state;
    bool fails = false;
    int inits = 0, hangUps = 0;
};

struct Rig
{
    Rig() { server.attachModem(modem, &wait); }
    QPushButton *button(const char *name) { return server.findChild<QPushButton *>(name); }

    QTemporaryDir dir;
    ServerState state;
    LogFile log{dir.path()};
    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};
    FakeTray tray;
    ScriptedPrompter prompter;
    Configuration config;
    frmServer server{state, log, tray, prompter, config, {}, {}};
    FakeModem modem{server, state};
};

// What the close box and the system menu deliver.
bool userClose(frmServer &server)
{
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(&server, &event); // sendEvent would clear the flag
    return event.isAccepted();
}

} // namespace

class FrmServerTest : public QObject
{
    Q_OBJECT

private slots:
    void tip()
    {
        Rig rig;
        rig.server.Form_Load();
        QCOMPARE(rig.tray.tip, QString("Tarvo")); // alone at load
        const QString fits(55, 'a');              // "Tarvo - " and 55: the most a tip holds
        rig.server.SetTrayTip(fits);
        QCOMPARE(rig.tray.tip, "Tarvo - " + fits);
        rig.server.SetTrayTip(fits + "b");
        QCOMPARE(rig.tray.tip, "Tarvo - " + fits);
    }

    void startStop_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QList<bool>>("stopAnswers"); // one Stop click per answer
        QTest::addColumn<bool>("running");

        QTest::newRow("started") << false << QList<bool>{} << true;
        QTest::newRow("start fails") << true << QList<bool>{} << false;
        QTest::newRow("stop answered No") << false << QList<bool>{false} << true;
        QTest::newRow("No, then Yes") << false << QList<bool>{false, true} << false;
    }

    void startStop()
    {
        QFETCH(bool, fails);
        QFETCH(QList<bool>, stopAnswers);
        QFETCH(bool, running);

        Rig rig;
        rig.modem.fails = fails;
        rig.server.Form_Load();
        rig.server.Form_Activate();
        rig.server.Form_Activate(); // the modem starts with the first activation only
        QCOMPARE(rig.modem.inits, 1);

        QPushButton *startStop = rig.button("cmdWaitingCall");
        rig.prompter.answers = stopAnswers;
        for (int i = 0; i < stopAnswers.size(); ++i)
            startStop->click();

        QCOMPARE(rig.prompter.questions, QStringList(stopAnswers.size(), "Stop Tarvo ?"));
        QCOMPARE(rig.modem.hangUps, running || fails ? 0 : 1);
        QCOMPARE(startStop->text(), QString(running ? "Stop" : "Start"));
        QCOMPARE(rig.button("cmdSettings")->isEnabled(), !running);
        QVERIFY(startStop->isEnabled());

        if (!running) { // Start starts again
            rig.modem.fails = false;
            startStop->click();
            QCOMPARE(rig.modem.inits, 2);
            QCOMPARE(startStop->text(), QString("Stop"));
        }
    }

    // Minimise, the close box, the Hide/Exit button and the tray's Exit, with
    // and without a tray on the desktop. Without one the window must stay
    // within reach: on the task bar, the tip in its title.
    void exitPaths_data()
    {
        QTest::addColumn<QString>("via");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("portOpened");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("unloaded");

        QTest::newRow("minimise hides") << "min" << true << true << true << false << false;
        QTest::newRow("close box hides") << "box" << true << true << true << false << false;
        QTest::newRow("close box, stopped, Yes") << "box" << true << false << true << true << true;
        QTest::newRow("close box, stopped, No") << "box" << true << false << false << true << false;
        QTest::newRow("Hide button") << "button" << true << true << true << false << false;
        QTest::newRow("Exit button, Yes") << "button" << true << false << true << true << true;
        QTest::newRow("tray Exit, waiting, Yes") << "tray" << true << true << true << true << true;
        QTest::newRow("no tray: minimise") << "min" << false << true << true << false << false;
        QTest::newRow("no tray: close box") << "box" << false << true << true << false << false;
        QTest::newRow("no tray: Hide button")
            << "button" << false << true << true << false << false;
    }

    void exitPaths()
    {
        QFETCH(QString, via);
        QFETCH(bool, tray);
        QFETCH(bool, portOpened);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, unloaded);

        Rig rig;
        rig.tray.available = tray;
        rig.modem.fails = !portOpened;
        rig.server.Form_Load();
        rig.server.Form_Activate();
        rig.prompter.answers = {answer};

        if (via == "min")
            rig.server.showMinimized();
        else if (via == "box")
            QCOMPARE(userClose(rig.server), unloaded);
        else if (via == "button")
            rig.button("cmdClose")->click();
        else
            rig.server.mPopExit_Click();
        QTest::qWait(20);

        QCOMPARE(rig.prompter.questions, QStringList(asked ? 1 : 0, "Exit Tarvo program?"));
        QCOMPARE(rig.server.isUnloaded(), unloaded);
        QCOMPARE(rig.tray.removed, unloaded);
        if (!unloaded) // hidden to the tray, or on the task bar without one
            QCOMPARE(rig.server.isVisible(), asked || !tray);
        QCOMPARE(rig.server.windowTitle(), tray ? "Tarvo" : "Tarvo - Waiting call ...");
        if (!tray)
            QVERIFY(rig.server.isMinimized());
        // The shutdown hangs up.
        QCOMPARE(rig.state.PortOpened, portOpened && !unloaded);
    }

    // Exit from the tray, or the device pulled, while the real modem control
    // waits for the answer to arming auto-answer; a second activation comes in
    // the same wait.
    void interruptedStart_data()
    {
        QTest::addColumn<bool>("deviceLost");
        QTest::newRow("Exit from the tray") << false;
        QTest::newRow("device pulled") << true;
    }

    void interruptedStart()
    {
        QFETCH(bool, deviceLost);

        Rig rig;
        ModemControl modem(rig.wait, rig.server, rig.prompter, rig.server, rig.state, rig.config);
        rig.server.attachModem(modem, &rig.wait);
        rig.server.setPortLostHandler([&] { modem.handlePortLost(); });
        rig.line.setLostHandler([&] { rig.server.portLost(); });
        rig.line.peer = [&](const QByteArray &written) {
            if (written != "ATS0=1\r")
                rig.line.deliver("OK\r\n", 30);
        };
        bool interrupted = false;
        rig.clock.onEvents = [&] {
            if (interrupted || rig.clock.now() < 500 || !rig.line.written().contains("ATS0=1"))
                return;
            interrupted = true;
            rig.server.Form_Activate();
            if (deviceLost)
                rig.line.vanish();
            for (int i = 0; i < 2 && !deviceLost; ++i) // the second Exit asks nothing
                rig.server.mPopExit_Click();
            QVERIFY(!rig.server.isUnloaded() && rig.line.isOpen());
        };

        rig.server.Form_Load();
        rig.server.Form_Activate();

        QVERIFY(interrupted);
        QVERIFY2(rig.clock.now() < 1000, "the interrupted wait must end at once");
        QCOMPARE(rig.prompter.questions.size(), deviceLost ? 0 : 1);
        QCOMPARE(rig.line.opens, 1);
        QCOMPARE(rig.line.closes, 1);
        QCOMPARE(rig.server.isUnloaded(), !deviceLost);
        QCOMPARE(rig.tray.removed, !deviceLost);
        QCOMPARE(rig.button("cmdWaitingCall")->text(), QString("Start"));
        QVERIFY(rig.button("cmdWaitingCall")->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        if (deviceLost)
            QCOMPARE(rig.tray.tip, QString("Tarvo - Modem port lost"));
    }
};

QTEST_MAIN(FrmServerTest)
#include "test_frmserver.moc"
