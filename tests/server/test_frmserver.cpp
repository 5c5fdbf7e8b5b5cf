// The server window with a stand-in modem service: layout, tips, the
// Start/Stop state machine, the exit paths and the re-entrancy rules.
#include "ModemControl.h"
#include "ServerRig.h"
#include "StatusPane.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QtTest/qtestspontaneevent.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

QPushButton *button(frmServer &server, const char *name)
{
    return server.findChild<QPushButton *>(name);
}

QAction *action(frmServer &server, const char *name)
{
    return server.trayMenu()->findChild<QAction *>(name);
}

// What the close box and the system menu deliver.
bool userClose(frmServer &server)
{
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(&server, &event); // sendEvent would clear the flag
    return event.isAccepted();
}

// The separator line as the log holds it: its CR LF folded into a blank.
const QString Separator = " " + QString(48, '-') + "  \r\n";

} // namespace

class FrmServerTest : public QObject
{
    Q_OBJECT

private slots:
    void layout();
    void loadState();
    void firstActivationStartsModemOnce();
    void activationEventStartsModem();
    void secondActivationDuringFirstWorkAndBusy();
    void tip_data();
    void tip();
    void startStop_data();
    void startStop();
    void settings_data();
    void settings();
    void closeBox_data();
    void closeBox();
    void programCloseAsksNothing();
    void hideExitButton_data();
    void hideExitButton();
    void minimiseHidesAndDoubleClickRestores();
    void noTrayKeepsWindowReachable();
    void trayMenu();
    void exitDuringOperationIsDeferred();
    void stopDuringJobIsDeferred();
    void portLostDuringOperationIsDeferred();
    void interruptedStartWithModemControl_data();
    void interruptedStartWithModemControl();
    void shutdownHangsUpBeforeTrayGoes();
    void paneColours();
};

void FrmServerTest::layout()
{
    ServerRig rig;
    frmServer &s = rig.server;
    QCOMPARE(s.size(), QSize(374, 221));
    QCOMPARE(s.minimumSize(), s.maximumSize());
    QCOMPARE(s.windowTitle(), QString("Tarvo"));

    const struct
    {
        const char *name;
        QString caption;
        QRect geometry;
    } buttons[] = {{"cmdSettings", "Settings", {15, 141, 82, 24}},
                   {"cmdWaitingCall", "Start", {121, 141, 82, 24}},
                   {"cmdClose", "Exit", {278, 187, 82, 24}}};
    for (const auto &b : buttons) {
        QPushButton *widget = button(s, b.name);
        QVERIFY2(widget, b.name);
        QCOMPARE(widget->text(), b.caption);
        QCOMPARE(widget->geometry(), b.geometry);
    }

    StatusPane *pane = s.statusPane();
    QCOMPARE(pane->objectName(), QString("rtbStatus"));
    QVERIFY(pane->isReadOnly());
    QVERIFY(pane->font().bold());
    QCOMPARE(pane->font().pointSizeF(), 9.75);
    QVERIFY(pane->geometry().bottom() < 141);

    // The etched separator: grey over white, across the window.
    const QImage image = s.grab().toImage();
    for (int x : {4, 180, 359}) {
        QCOMPARE(image.pixelColor(x, 176), QColor(0x80, 0x80, 0x80));
        QCOMPARE(image.pixelColor(x, 177), QColor(Qt::white));
    }
    QVERIFY(image.pixelColor(370, 176) != QColor(0x80, 0x80, 0x80));
}

void FrmServerTest::loadState()
{
    ServerRig rig;
    rig.state.Activated = rig.state.PortOpened = rig.state.Connected = true;
    rig.server.AppendStatus("left over");
    rig.server.Form_Load();

    QVERIFY(!rig.state.Activated && !rig.state.PortOpened && !rig.state.AutoAnswerOn &&
            !rig.state.Connected);
    QVERIFY(rig.server.isVisible());
    QVERIFY(rig.server.statusPane()->toPlainText().isEmpty());
    QVERIFY(rig.tray.added);
    QCOMPARE(rig.tray.tip, QString("Tarvo"));
    QVERIFY(!rig.tray.icon.isNull());
    QVERIFY(!rig.server.windowIcon().isNull());
    QCOMPARE(rig.tray.menu, rig.server.trayMenu());
    QCOMPARE(rig.modem.inits, 0);

    // Centred on its screen.
    const QRect screen = rig.server.screen()->geometry();
    const QRect outer = rig.server.frameGeometry();
    QVERIFY(qAbs(outer.center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(outer.center().y() - screen.center().y()) <= 1);
}

void FrmServerTest::firstActivationStartsModemOnce()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.Form_Activate();
    rig.server.Form_Activate();

    QCOMPARE(rig.modem.inits, 1);
    QVERIFY(rig.state.Activated);
    QCOMPARE(rig.tray.tip, QString("Tarvo - Waiting call ..."));
    // The separator opens the run's log without a timestamp and stays out of the pane.
    QVERIFY2(rig.logText().startsWith(Separator), qPrintable(rig.logText()));
    QVERIFY(!rig.server.statusPane()->toPlainText().contains("-----"));
}

void FrmServerTest::activationEventStartsModem()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.activateWindow();
    QTRY_VERIFY(rig.state.Activated);
    QCOMPARE(rig.modem.inits, 1);
    rig.server.hide();
    rig.server.show();
    rig.server.activateWindow();
    QTest::qWait(50);
    QCOMPARE(rig.modem.inits, 1);
}

void FrmServerTest::secondActivationDuringFirstWorkAndBusy()
{
    ServerRig rig;
    rig.server.Form_Load();
    bool busySeen = false;
    rig.modem.insideInit = [&] {
        QVERIFY(!button(rig.server, "cmdWaitingCall")->isEnabled());
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QCOMPARE(rig.server.statusPane()->viewport()->cursor().shape(), Qt::WaitCursor);
        busySeen = true;
        rig.server.Form_Activate();
    };
    rig.server.Form_Activate();
    QVERIFY(busySeen);
    QCOMPARE(rig.modem.inits, 1);
    QVERIFY(rig.state.Activated);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(rig.server.statusPane()->viewport()->cursor().shape(), Qt::ArrowCursor);
}

void FrmServerTest::tip_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("tip");

    QTest::newRow("waiting") << "Waiting call ..."
                             << "Tarvo - Waiting call ...";
    QTest::newRow("empty state") << ""
                                 << "Tarvo - ";
    const QString fits(55, 'a'); // 8 + 55 = 63
    QTest::newRow("63 characters kept") << fits << "Tarvo - " + fits;
    QTest::newRow("64 characters cut") << fits + "b"
                                       << "Tarvo - " + fits;
    QTest::newRow("long modem line cut")
        << "CONNECT 9600/ARQ/V32/LAPM/V42BIS and a lot more text behind it"
        << "Tarvo - CONNECT 9600/ARQ/V32/LAPM/V42BIS and a lot more text be";
}

void FrmServerTest::tip()
{
    QFETCH(QString, state);
    QFETCH(QString, tip);

    ServerRig rig;
    rig.server.Form_Load();
    rig.server.SetTrayTip(state);
    QCOMPARE(rig.tray.tip, tip);
    QVERIFY(rig.tray.tip.size() <= 63);
    QCOMPARE(rig.state.TrayState, state); // the state itself is kept whole
    QCOMPARE(rig.server.windowTitle(), QString("Tarvo"));
}

void FrmServerTest::startStop_data()
{
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<bool>("initFails");
    QTest::addColumn<QList<bool>>("stopAnswers"); // one Stop click per answer
    QTest::addColumn<QString>("startStop");
    QTest::addColumn<QString>("closeCaption");
    QTest::addColumn<bool>("settingsEnabled");
    QTest::addColumn<bool>("portOpened");
    QTest::addColumn<int>("hangUps");

    QTest::newRow("started") << false << false << QList<bool>{} << "Stop"
                             << "Hide" << false << true << 0;
    QTest::newRow("port fails to open") << true << false << QList<bool>{} << "Start"
                                        << "Exit" << true << false << 0;
    QTest::newRow("modem silent") << false << true << QList<bool>{} << "Start"
                                  << "Exit" << true << false << 1;
    QTest::newRow("stop answered No") << false << false << QList<bool>{false} << "Stop"
                                      << "Hide" << false << true << 0;
    QTest::newRow("stop answered Yes") << false << false << QList<bool>{true} << "Start"
                                       << "Exit" << true << false << 1;
    QTest::newRow("No, then Yes") << false << false << QList<bool>{false, true} << "Start"
                                  << "Exit" << true << false << 1;
}

void FrmServerTest::startStop()
{
    QFETCH(bool, openFails);
    QFETCH(bool, initFails);
    QFETCH(QList<bool>, stopAnswers);
    QFETCH(QString, startStop);
    QFETCH(QString, closeCaption);
    QFETCH(bool, settingsEnabled);
    QFETCH(bool, portOpened);
    QFETCH(int, hangUps);

    ServerRig rig;
    rig.modem.openFails = openFails;
    rig.modem.initFails = initFails;
    rig.server.Form_Load();
    rig.server.Form_Activate();

    QPushButton *startStopButton = button(rig.server, "cmdWaitingCall");
    rig.prompter.answers = stopAnswers;
    for (int i = 0; i < stopAnswers.size(); ++i)
        startStopButton->click();

    QCOMPARE(rig.prompter.questions, QStringList(stopAnswers.size(), "Stop Tarvo ?"));
    QCOMPARE(startStopButton->text(), startStop);
    QVERIFY(startStopButton->isEnabled());
    QCOMPARE(button(rig.server, "cmdClose")->text(), closeCaption);
    QCOMPARE(button(rig.server, "cmdSettings")->isEnabled(), settingsEnabled);
    QCOMPARE(rig.state.PortOpened, portOpened);
    QCOMPARE(rig.modem.hangUps, hangUps);

    // From the stopped state, Start starts again.
    if (startStop == "Start") {
        rig.modem.openFails = rig.modem.initFails = false;
        startStopButton->click();
        QCOMPARE(startStopButton->text(), QString("Stop"));
        QCOMPARE(rig.modem.inits, 2);
        QCOMPARE(rig.tray.tip, QString("Tarvo - Waiting call ..."));
    }
}

void FrmServerTest::settings_data()
{
    QTest::addColumn<bool>("accepted");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

void FrmServerTest::settings()
{
    QFETCH(bool, accepted);
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.AppendStatus("earlier\r\n");
    rig.configureAccepts = accepted;

    button(rig.server, "cmdSettings")->click();

    QCOMPARE(rig.configureParents, QList<QWidget *>{&rig.server});
    const QString pane = rig.server.statusPane()->toPlainText();
    QCOMPARE(pane, accepted ? QString("Modem Port: COM3\n") : QString("earlier\n"));
    QCOMPARE(rig.modem.inits, 0); // the new port waits for the next Start
}

void FrmServerTest::closeBox_data()
{
    QTest::addColumn<bool>("portOpened");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("visible");

    QTest::newRow("waiting for calls: hides, no question")
        << true << true << false << false << false;
    QTest::newRow("stopped, Yes: ends") << false << true << true << true << true;
    QTest::newRow("stopped, No: keeps running") << false << false << false << true << true;
}

void FrmServerTest::closeBox()
{
    QFETCH(bool, portOpened);
    QFETCH(bool, answer);
    QFETCH(bool, accepted);
    QFETCH(bool, asked);
    QFETCH(bool, visible);

    ServerRig rig;
    rig.modem.openFails = !portOpened;
    rig.server.Form_Load();
    rig.server.Form_Activate();
    QCOMPARE(rig.state.PortOpened, portOpened);
    rig.prompter.answers = {answer};

    QCOMPARE(userClose(rig.server), accepted);
    QCOMPARE(rig.prompter.questions, asked ? QStringList{"Exit Tarvo program?"} : QStringList{});
    QCOMPARE(rig.server.isVisible(), visible); // an accepted close hides it afterwards
    QCOMPARE(rig.server.isUnloaded(), accepted);
    QCOMPARE(rig.tray.removed, accepted);
    QCOMPARE(rig.unloadedSignals, accepted ? 1 : 0);
}

void FrmServerTest::programCloseAsksNothing()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.Form_Activate();
    QVERIFY(rig.state.PortOpened);
    QVERIFY(rig.server.close()); // the session ending, or the program itself
    QVERIFY(rig.prompter.questions.isEmpty());
    QVERIFY(rig.server.isUnloaded());
    QCOMPARE(rig.modem.closes, 1);
    QVERIFY(!rig.server.isVisible());
}

void FrmServerTest::hideExitButton_data()
{
    QTest::addColumn<bool>("portOpened");
    QTest::addColumn<QList<bool>>("answers");
    QTest::addColumn<bool>("unloaded");
    QTest::addColumn<bool>("visible");

    QTest::newRow("Hide while waiting") << true << QList<bool>{} << false << false;
    QTest::newRow("Exit, Yes") << false << QList<bool>{true} << true << false;
    QTest::newRow("Exit, No") << false << QList<bool>{false} << false << true;
}

void FrmServerTest::hideExitButton()
{
    QFETCH(bool, portOpened);
    QFETCH(QList<bool>, answers);
    QFETCH(bool, unloaded);
    QFETCH(bool, visible);

    ServerRig rig;
    rig.modem.openFails = !portOpened;
    rig.server.Form_Load();
    rig.server.Form_Activate();
    rig.prompter.answers = answers;

    button(rig.server, "cmdClose")->click();

    QCOMPARE(rig.prompter.questions, QStringList(answers.size(), "Exit Tarvo program?"));
    QCOMPARE(rig.server.isUnloaded(), unloaded);
    QCOMPARE(rig.server.isVisible(), visible);
    QCOMPARE(rig.tray.removed, unloaded);
}

void FrmServerTest::minimiseHidesAndDoubleClickRestores()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.Form_Activate();

    rig.server.showMinimized();
    QTRY_VERIFY(!rig.server.isVisible());
    QVERIFY(!rig.server.isUnloaded());

    emit rig.tray.doubleClicked();
    QVERIFY(rig.server.isVisible());
    QVERIFY(!rig.server.isMinimized());
    QCOMPARE(rig.server.windowTitle(), QString("Tarvo"));
}

void FrmServerTest::noTrayKeepsWindowReachable()
{
    ServerRig rig;
    rig.tray.available = false;
    rig.server.Form_Load();
    QCOMPARE(rig.server.windowTitle(), QString("Tarvo"));
    rig.server.Form_Activate();
    QCOMPARE(rig.server.windowTitle(), QString("Tarvo - Waiting call ..."));

    rig.server.showMinimized();
    QTest::qWait(20);
    QVERIFY(rig.server.isVisible());

    rig.server.mPopRestore_Click();
    button(rig.server, "cmdClose")->click(); // "Hide"
    QVERIFY(rig.server.isVisible());
    QVERIFY(rig.server.isMinimized());

    rig.server.mPopRestore_Click();
    QVERIFY(!userClose(rig.server));
    QVERIFY(rig.server.isVisible());
    QVERIFY(rig.server.isMinimized());
    QVERIFY(rig.prompter.questions.isEmpty());

    // A tray that turns up later takes the tip back.
    rig.tray.available = true;
    rig.server.SetTrayTip("RING");
    QCOMPARE(rig.server.windowTitle(), QString("Tarvo"));
    QCOMPARE(rig.tray.tip, QString("Tarvo - RING"));
    button(rig.server, "cmdClose")->click();
    QVERIFY(!rig.server.isVisible());
}

void FrmServerTest::trayMenu()
{
    ServerRig rig;
    rig.server.Form_Load();
    QMenu *menu = rig.server.trayMenu();
    QStringList entries;
    for (QAction *a : menu->actions())
        entries += a->isSeparator() ? QString("-") : a->text();
    QCOMPARE(entries, (QStringList{"&Open Tarvo", "-", "&About...", "-", "E&xit"}));
    QCOMPARE(menu->defaultAction(), action(rig.server, "mPopRestore"));
    QVERIFY(menu->defaultAction()->font().bold());
    QVERIFY(!action(rig.server, "mPopExit")->font().bold());

    action(rig.server, "mPopAbout")->trigger();
    QCOMPARE(rig.aboutParents, QList<QWidget *>{&rig.server});

    rig.server.hide();
    action(rig.server, "mPopRestore")->trigger();
    QVERIFY(rig.server.isVisible());

    rig.prompter.answers = {false, true};
    action(rig.server, "mPopExit")->trigger();
    QVERIFY(!rig.server.isUnloaded());
    action(rig.server, "mPopExit")->trigger();
    QCOMPARE(rig.prompter.questions, QStringList(2, "Exit Tarvo program?"));
    QVERIFY(rig.server.isUnloaded());
    QVERIFY(!rig.server.isVisible());
    QCOMPARE(rig.unloadedSignals, 1);
}

// Exit from the tray during the modem's reply wait: the wait is asked to end,
// the window stays until the start has unwound, then goes with one hang-up.
void FrmServerTest::exitDuringOperationIsDeferred()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.modem.waitPolls = 1000;
    bool checked = false;
    rig.modem.insideInit = [&] {
        action(rig.server, "mPopExit")->trigger(); // Yes by default
        QVERIFY(rig.server.exitPending());
        QVERIFY(rig.wait.aborted());
        QVERIFY(!rig.server.isUnloaded());
        QVERIFY(!rig.tray.removed);
        QVERIFY(rig.server.isVisible());
        // More Exits while one is pending: no question, nothing more.
        action(rig.server, "mPopExit")->trigger();
        button(rig.server, "cmdClose")->click();
        QVERIFY(!userClose(rig.server));
        checked = true;
    };
    rig.server.Form_Activate();

    QVERIFY(checked);
    QCOMPARE(rig.prompter.questions, QStringList{"Exit Tarvo program?"});
    QCOMPARE(rig.modem.abortedWaits, 1);
    QVERIFY(rig.clock.sleeps() < 5); // the wait ended at once
    QVERIFY(rig.server.isUnloaded());
    QCOMPARE(rig.unloadedSignals, 1);
    QCOMPARE(rig.modem.opens, 1);
    QCOMPARE(rig.modem.closes, 1);
    QVERIFY(!rig.wait.aborted());
    QCOMPARE(rig.events.last(), QString("tray removed"));
    QVERIFY(!QApplication::overrideCursor());
}

void FrmServerTest::stopDuringJobIsDeferred()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.Form_Activate();
    rig.state.Connected = true;
    QCOMPARE(button(rig.server, "cmdWaitingCall")->text(), QString("Stop"));

    rig.prompter.answers = {true, true}; // Stop, then the hang-up question
    bool checked = false;
    rig.server.runOperation([&] {
        rig.clock.onEvents = [&] {
            rig.clock.onEvents = nullptr;
            button(rig.server, "cmdWaitingCall")->click();
            QVERIFY(rig.wait.aborted());
            QCOMPARE(rig.modem.hangUps, 0);
            checked = true;
        };
        rig.modem.waitPollsOf(1000); // the job's wait
    });

    QVERIFY(checked);
    QCOMPARE(rig.modem.abortedWaits, 1);
    QCOMPARE(rig.prompter.questions, (QStringList{"Stop Tarvo ?", "Hang up (disconnect) modem?"}));
    QCOMPARE(rig.modem.hangUps, 1);
    QCOMPARE(rig.modem.closes, 1);
    QCOMPARE(button(rig.server, "cmdWaitingCall")->text(), QString("Start"));
    QVERIFY(button(rig.server, "cmdSettings")->isEnabled());
    QVERIFY(!rig.server.isUnloaded());
}

void FrmServerTest::portLostDuringOperationIsDeferred()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.runOperation([&] {
        rig.server.runOperation([&] {
            rig.server.portLost();
            QCOMPARE(rig.portLostHandled, 0);
            QVERIFY(rig.wait.aborted());
        });
        QCOMPARE(rig.portLostHandled, 0); // still inside the outer operation
    });
    QCOMPARE(rig.portLostHandled, 1);
    QVERIFY(!rig.wait.aborted());

    rig.server.portLost(); // outside any operation: at once
    QCOMPARE(rig.portLostHandled, 2);
}

// The real modem control on the fake line: Exit or a pulled device while the
// start waits for the answer to arming auto-answer.
void FrmServerTest::interruptedStartWithModemControl_data()
{
    QTest::addColumn<bool>("deviceLost"); // otherwise: Exit from the tray menu
    QTest::newRow("Exit from the tray") << false;
    QTest::newRow("device pulled") << true;
}

void FrmServerTest::interruptedStartWithModemControl()
{
    QFETCH(bool, deviceLost);

    ServerRig rig;
    ModemControl modem(rig.wait, rig.server, rig.prompter, rig.server, rig.state, rig.config);
    rig.server.attachModem(modem, &rig.wait);
    rig.server.setPortLostHandler([&] { modem.handlePortLost(); });
    rig.line.setLostHandler([&] { rig.server.portLost(); });
    // The modem answers everything but the arming of auto-answer.
    rig.line.peer = [&](const QByteArray &written) {
        if (written != "ATS0=1\r")
            rig.line.deliver("OK\r\n", 30);
    };
    bool interrupted = false;
    rig.clock.onEvents = [&] {
        if (interrupted || rig.clock.now() < 500 || !rig.line.written().contains("ATS0=1"))
            return;
        interrupted = true;
        if (deviceLost)
            rig.line.vanish();
        else
            action(rig.server, "mPopExit")->trigger();
        QVERIFY(!rig.server.isUnloaded());
        QVERIFY(rig.line.isOpen());
    };

    rig.server.Form_Load();
    rig.server.Form_Activate();

    QVERIFY(interrupted);
    QVERIFY2(rig.clock.now() < 1000, "the interrupted wait must end at once");
    QCOMPARE(rig.line.opens, 1);
    QCOMPARE(rig.line.closes, 1);
    QVERIFY(!rig.state.PortOpened);
    QCOMPARE(rig.server.isUnloaded(), !deviceLost);
    QCOMPARE(rig.tray.removed, !deviceLost);
    QCOMPARE(button(rig.server, "cmdWaitingCall")->text(), QString("Start"));
    QVERIFY(button(rig.server, "cmdWaitingCall")->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    if (deviceLost) {
        QCOMPARE(rig.prompter.beeps, 1);
        QCOMPARE(rig.tray.tip, QString("Tarvo - Modem port lost"));
        QVERIFY(button(rig.server, "cmdSettings")->isEnabled());
    }
}

void FrmServerTest::shutdownHangsUpBeforeTrayGoes()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.Form_Activate();
    rig.state.Connected = true;
    rig.prompter.answers = {true, false}; // Exit: Yes; hang up: No
    action(rig.server, "mPopExit")->trigger();

    QCOMPARE(rig.prompter.questions.last(), QString("Hang up (disconnect) modem?"));
    const int hangUp = rig.events.lastIndexOf("HangUp");
    QVERIFY(hangUp >= 0);
    QCOMPARE(rig.events.indexOf("tray removed"), hangUp + 1);
    QVERIFY(rig.server.isUnloaded()); // whatever the answer
    rig.server.Form_Unload();
    QCOMPARE(rig.events.count("tray removed"), 1);
}

void FrmServerTest::paneColours()
{
    ServerRig rig;
    rig.server.Form_Load();
    rig.server.AppendStatus("Open COM1 ...");
    rig.server.AppendStatus(" failed\r\nNo such file\r\n", ColourRed);
    rig.server.AppendStatus("blue again");

    StatusPane *pane = rig.server.statusPane();
    QCOMPARE(pane->toPlainText(), QString("Open COM1 ... failed\nNo such file\nblue again"));

    QList<QPair<QString, QColor>> runs;
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it)
            runs += {it.fragment().text(), it.fragment().charFormat().foreground().color()};
    }
    const QColor blue(0, 0, 255), red(255, 0, 0);
    QCOMPARE(runs, (QList<QPair<QString, QColor>>{{"Open COM1 ...", blue},
                                                  {" failed", red},
                                                  {"No such file", red},
                                                  {"blue again", blue}}));
    QCOMPARE(StatusPane::toColor(0x123456), QColor(0x56, 0x34, 0x12));

    QVERIFY(rig.logText().contains("Open COM1 ... failed No such file \r\n"));
    QVERIFY(rig.logText().endsWith(" blue again"));
    rig.server.ClearStatus();
    QVERIFY(pane->toPlainText().isEmpty());
    QVERIFY(rig.logText().endsWith("blue again")); // the log keeps everything
}

QTEST_MAIN(FrmServerTest)
#include "test_frmserver.moc"
