// The server window with stand-ins around it: a recording tray, scripted
// questions, a log in a temporary folder and a fake modem service.
#include "Configuration.h"
#include "FakeLine.h"
#include "LineWait.h"
#include "LogFile.h"
#include "ModemService.h"
#include "ServerState.h"
#include "StatusPane.h"
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

// Opens and closes the port as the modem control does, with no line behind
// it. What comes while a start waits for the modem runs inside it.
struct FakeModem final : ModemService
{
    FakeModem(frmServer &server, ServerState &state) : server(server), state(state) {}
    void InitializeModem() override
    {
        ++inits;
        show(true);
        server.setSettingsEnabled(false);
        if (during)
            std::exchange(during, nullptr)();
    }
    void HangUp() override { show(false); }
    void show(bool opened)
    {
        state.PortOpened = opened;
        server.setStartStopCaption(opened ? "Stop" : "Start");
        server.setCloseCaption(opened ? "Hide" : "Exit");
        server.SetTrayTip(opened ? "Waiting call ..." : "Not connected");
    }

    frmServer &server;
    ServerState &state;
    int inits = 0;
    std::function<void()> during;
};

struct Rig
{
    Rig()
    {
        server.attachModem(modem, &wait);
        server.setPortLostHandler([this] { // the port closes, as the modem control does
            modem.HangUp();
            server.setSettingsEnabled(true);
        });
    }
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
        rig.server.SetTrayTip(QString(56, 'a'));  // one more than "Tarvo - " leaves of 63
        QCOMPARE(rig.tray.tip, "Tarvo - " + QString(55, 'a'));
    }

    // The buttons, the close box, minimise and the tray's Exit, with and
    // without a tray on the desktop. Script: S Start/Stop, C Hide/Exit, X close
    // box, M minimise, T the tray's Exit, L the port lost; a + or - after an
    // action answers the question it must ask Yes or No. A script after ">"
    // runs while the first start waits, and a second activation comes first.
    // Without a tray the window must stay within reach: on the task bar, the
    // tip in its title.
    void buttons_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QString>("end"); // running, stopped, hidden or unloaded

        QTest::newRow("Stop answered No") << "S-" << true << "running";
        QTest::newRow("Stop: No, then Yes") << "S-S+" << true << "stopped";
        QTest::newRow("Start after a Stop") << "S+S" << true << "running";
        QTest::newRow("minimise hides") << "M" << true << "hidden";
        QTest::newRow("close box hides while waiting") << "X" << true << "hidden";
        QTest::newRow("close box when stopped, No") << "S+X-" << true << "stopped";
        QTest::newRow("close box when stopped, Yes") << "S+X+" << true << "unloaded";
        QTest::newRow("Hide button") << "C" << true << "hidden";
        QTest::newRow("Exit button, Yes") << "S+C+" << true << "unloaded";
        QTest::newRow("tray Exit while waiting") << "T+" << true << "unloaded";
        QTest::newRow("no tray: minimise") << "M" << false << "hidden";
        QTest::newRow("no tray: close box") << "X" << false << "hidden";
        // Nothing goes away under the running start; the second Exit asks nothing.
        QTest::newRow("tray Exit during the start") << ">T+T" << true << "unloaded";
        QTest::newRow("port lost during the start") << ">L" << true << "stopped";
    }

    void buttons()
    {
        QFETCH(QString, script);
        QFETCH(bool, tray);
        QFETCH(QString, end);

        Rig rig;
        rig.tray.available = tray;
        QStringList questions;
        QCloseEvent close;
        QSpontaneKeyEvent::setSpontaneous(&close); // sendEvent would clear the flag
        const auto play = [&](const QString &actions) {
            for (qsizetype i = 0; i < actions.size(); ++i) {
                const QChar action = actions[i];
                if (i + 1 < actions.size() && QString("+-").contains(actions[i + 1])) {
                    rig.prompter.answers = {actions[++i] == '+'};
                    questions += action == 'S' ? "Stop Tarvo ?" : "Exit Tarvo program?";
                }
                if (action == 'S' || action == 'C')
                    rig.button(action == 'S' ? "cmdWaitingCall" : "cmdClose")->click();
                else if (action == 'X') // as the close box delivers it
                    QApplication::instance()->notify(&rig.server, &close);
                else if (action == 'M')
                    rig.server.showMinimized();
                else if (action == 'L')
                    rig.server.portLost();
                else
                    rig.server.mPopExit_Click();
                QTest::qWait(20);
            }
        };
        if (script.startsWith('>'))
            rig.modem.during = [&] {
                rig.server.Form_Activate();
                play(script.mid(1));
                // Deferred until the start has unwound; its wait is cut short.
                QVERIFY(!rig.server.isUnloaded() && rig.state.PortOpened && rig.wait.aborted());
            };
        rig.server.Form_Load();
        rig.server.Form_Activate();
        rig.server.Form_Activate(); // the modem starts with the first activation only
        QCOMPARE(rig.modem.inits, 1);
        if (!script.startsWith('>'))
            play(script);

        QCOMPARE(rig.prompter.questions, questions);
        QCOMPARE(rig.server.isUnloaded(), end == "unloaded");
        QCOMPARE(rig.tray.removed, end == "unloaded");
        // The shutdown hangs up.
        QCOMPARE(rig.state.PortOpened, end == "running" || end == "hidden");
        if (end == "unloaded")
            return;
        QCOMPARE(rig.server.isVisible(), end != "hidden" || !tray);
        QCOMPARE(rig.server.isMinimized(), end == "hidden" && (!tray || script == "M"));
        QCOMPARE(rig.server.windowTitle(), tray ? "Tarvo" : "Tarvo - Waiting call ...");
        QCOMPARE(rig.button("cmdWaitingCall")->text(),
                 QString(end == "stopped" ? "Start" : "Stop"));
        QCOMPARE(rig.button("cmdSettings")->isEnabled(), end == "stopped");
    }

    // Notes of the start-up check (an interrupted upload undone) reach the
    // log before the modem starts and stay in the pane after its start has
    // cleared it.
    void startupNotesOutliveTheModemStart()
    {
        Rig rig;
        rig.server.setStartupCheck([] { return QStringList{"Restored A.TXT"}; });
        rig.modem.during = [&] {
            QVERIFY(QFile(rig.log.path()).size() > 0);
            rig.server.ClearStatus();
        };
        rig.server.Form_Load();
        rig.server.Form_Activate();
        QCOMPARE(rig.server.statusPane()->toPlainText(), QString("Restored A.TXT\n"));
        QFile log(rig.log.path());
        QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().contains("Restored A.TXT"));
    }

    // A text of megabytes (a path typed without blanks) is shown whole, in
    // time that follows its length: laid out as one word it would take hours
    // and this test would never end.
    void longTextInThePane()
    {
        Rig rig;
        rig.server.Form_Load();
        const QString text = "Upload " + QString(2000000, 'N') + " ...\r\n";
        rig.server.AppendStatus(text);
        QCOMPARE(rig.server.statusPane()->toPlainText().remove(QChar(0x200B)),
                 QString(text).replace("\r\n", "\n"));
    }
};

QTEST_MAIN(FrmServerTest)
#include "test_frmserver.moc"
