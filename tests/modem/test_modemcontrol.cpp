// Modem control against a scripted modem on the fake line: the command
// dialogue, the reply wait and its bound, every failure path and the state
// each one leaves behind.
#include "ModemRig.h"

#include <QtTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

using Pieces = QList<ReplyPiece>;
Q_DECLARE_METATYPE(Pieces)

namespace {

const QByteArray Init = "ATE0V1Q0S0=0\r";
const QByteArray Arm = "ATS0=1\r";
const QByteArray Disarm = "ATS0=0\r";
const QByteArray Escape = "+++";
const QByteArray Hang = "ATH0\r";

const QString PleaseCheck = QStringLiteral(" failed\r\nPlease check modem.\r\n");
const QString LostText =
    QStringLiteral("Modem port lost: Input/output error\r\n"
                   "Please check the modem and its cable, then click Start to retry.\r\n");

// Stopped after a stop or a failed start: what the window shows.
// Settings is enabled by the failed start itself; after a Stop the window
// does it.
void verifyStopped(const ModemRig &rig, bool settingsEnabled = true)
{
    QVERIFY(!rig.state.PortOpened);
    QVERIFY(!rig.state.Connected);
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.controls.startStop, QStringLiteral("Start"));
    QCOMPARE(rig.controls.close, QStringLiteral("Exit"));
    QVERIFY(rig.controls.startStopEnabled);
    QCOMPARE(rig.controls.settingsEnabled, settingsEnabled);
    QVERIFY(!rig.controls.busy);
}

} // namespace

class TestModemControl : public QObject
{
    Q_OBJECT

private slots:
    void goodStart();
    void replyWait_data();
    void replyWait();
    void openFailure_data();
    void openFailure();
    void initFailure();
    void autoAnswerFailureAtStart();
    void autoAnswerFailureAfterCall();
    void stop_data();
    void stop();
    void stopInCallAnsweredNo_data();
    void stopInCallAnsweredNo();
    void portLost_data();
    void portLost();
    void portLostWhileWaiting();
    void exitDuringInitWait();
};

void TestModemControl::goodStart()
{
    ModemRig rig;
    rig.controls.startStop = QStringLiteral("Start");
    rig.modem.InitializeModem();

    QCOMPARE(rig.line.writes, (QList<QByteArray>{Init, Arm}));
    QCOMPARE(rig.line.openedPort, 2);
    // Job mode before each command, idle mode once auto-answer is armed.
    QCOMPARE(rig.line.modeChanges,
             (std::vector<SerialLine::Mode>{SerialLine::Mode::Job, SerialLine::Mode::Job,
                                            SerialLine::Mode::Idle}));
    QCOMPARE(rig.line.dtrChanges, (std::vector<bool>{true, true}));

    QVERIFY(rig.state.PortOpened);
    QVERIFY(rig.state.AutoAnswerOn);
    QVERIFY(!rig.state.Connected);
    QCOMPARE(rig.controls.startStop, QStringLiteral("Stop"));
    QCOMPARE(rig.controls.close, QStringLiteral("Hide"));
    QVERIFY(!rig.controls.settingsEnabled);
    QVERIFY(rig.controls.startStopEnabled);
    QVERIFY(!rig.controls.busy);
    QCOMPARE(rig.controls.busyCount, 1);
    QCOMPARE(rig.prompter.beeps, 0);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Waiting call ..."));

    // The pane was emptied by the auto-answer step; the log keeps it all.
    QCOMPARE(rig.reporter.paneText(),
             QStringLiteral("Start auto answer ... OK\r\nWaiting call ...\r\n"));
    QCOMPARE(rig.reporter.log, QStringLiteral("Open COM2 ... OK\r\n"
                                              "Initialize modem ... OK\r\n"
                                              "Start auto answer ... OK\r\nWaiting call ...\r\n"));
    QVERIFY(rig.reporter.redText().isEmpty());
}

// The reply to the initialisation decides the start; the poll at which
// "ATS0=1" leaves tells how long the wait took.
void TestModemControl::replyWait_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<Pieces>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("polls");

    QTest::newRow("plain OK") << false << Pieces{{"\r\nOK\r\n", 30}} << true << 3;
    QTest::newRow("echoing modem") << true << Pieces{{"\r\nOK\r\n", 30}} << true << 3;
    QTest::newRow("other lines first")
        << false << Pieces{{"\r\nRING\r\n", 10}, {"\r\nOK\r\n", 50}} << true << 5;
    QTest::newRow("OK split across polls")
        << false << Pieces{{"\r\nO", 10}, {"K\r", 20}, {"\n", 40}} << true << 4;
    QTest::newRow("CR LF late") << false << Pieces{{"\r\nOK", 10}, {"\r\n", 2000}} << true << 200;
    QTest::newRow("CR LF never") << false << Pieces{{"\r\nOK", 10}} << false << 1000;
    QTest::newRow("OK without LF") << false << Pieces{{"\r\nOK\r\r", 10}} << false << 1000;
    QTest::newRow("ERROR") << false << Pieces{{"\r\nERROR\r\n", 10}} << false << 1000;
    QTest::newRow("lower case") << false << Pieces{{"\r\nok\r\n", 10}} << false << 1000;
    QTest::newRow("in the last poll") << false << Pieces{{"\r\nOK\r\n", 10000}} << true << 1000;
    QTest::newRow("just too late") << false << Pieces{{"\r\nOK\r\n", 10001}} << false << 1000;
    QTest::newRow("nothing") << false << Pieces{} << false << 1000;
}

void TestModemControl::replyWait()
{
    QFETCH(bool, echo);
    QFETCH(Pieces, reply);
    QFETCH(bool, accepted);
    QFETCH(int, polls);

    ModemRig rig;
    rig.script.echo = echo;
    rig.script.replies.insert(Init, reply);
    if (reply.isEmpty())
        rig.script.silent += Init;
    rig.modem.InitializeModem();

    QCOMPARE(rig.state.AutoAnswerOn, accepted);
    if (accepted) {
        QCOMPARE(rig.sent.size(), 2);
        QCOMPARE(rig.sent.at(1).bytes, Arm);
        QCOMPARE(rig.sent.at(1).polls, polls);
    } else {
        // The whole bound is spent, then nothing else waits (no call, and
        // auto-answer was never on, so no "ATS0=0").
        QCOMPARE(rig.line.writes, QList<QByteArray>{Init});
        QCOMPARE(rig.clock.sleeps(), polls);
        QCOMPARE(rig.clock.now(), qint64(polls) * LineWait::PollMs);
    }
}

void TestModemControl::openFailure_data()
{
    QTest::addColumn<QString>("error");
    QTest::newRow("held by another program")
        << QStringLiteral("Permission error while locking the device");
    QTest::newRow("missing") << QStringLiteral("No such file or directory");
}

void TestModemControl::openFailure()
{
    QFETCH(QString, error);
    ModemRig rig;
    rig.line.openFails = true;
    rig.line.openError = error;
    rig.modem.InitializeModem();

    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(
        rig.reporter.paneText(),
        QStringLiteral("Open COM2 ...") + QStringLiteral(" failed\r\n") + error +
            QStringLiteral("\r\nPlease change your modem port, then click Start to retry.\r\n"));
    QCOMPARE(
        rig.reporter.redText(),
        QStringLiteral(" failed\r\n") + error +
            QStringLiteral("\r\nPlease change your modem port, then click Start to retry.\r\n"));
    QCOMPARE(rig.reporter.tips, QStringList{QStringLiteral("Open COM failed")});
    QVERIFY(rig.line.writes.isEmpty());
    QCOMPARE(rig.line.closes, 0);
    QVERIFY(!rig.state.AutoAnswerOn);
    verifyStopped(rig);
}

void TestModemControl::initFailure()
{
    ModemRig rig;
    rig.script.replies.insert(Init, Pieces{{"\r\nERROR\r\n", 20}});
    rig.modem.InitializeModem();

    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(rig.reporter.redText(), PleaseCheck);
    QCOMPARE(rig.reporter.tips, (QStringList{QStringLiteral("Initialize modem failed"),
                                             QStringLiteral("Not connected")}));
    QVERIFY(rig.reporter.log.endsWith(
        QStringLiteral("Initialize modem ... failed\r\nPlease check modem.\r\nNot connected\r\n")));
    QVERIFY(rig.prompter.questions.isEmpty());
    QCOMPARE(rig.line.closes, 1);
    QVERIFY(!rig.state.AutoAnswerOn);
    QCOMPARE(rig.controls.busyCount, 1);
    verifyStopped(rig);
}

void TestModemControl::autoAnswerFailureAtStart()
{
    ModemRig rig;
    rig.script.silent += Arm;
    rig.modem.InitializeModem();

    // Auto-answer was on, so the hang-up disarms it before closing.
    QCOMPARE(rig.line.writes, (QList<QByteArray>{Init, Arm, Disarm}));
    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(rig.reporter.redText(), PleaseCheck);
    QCOMPARE(rig.reporter.tips,
             (QStringList{QStringLiteral("Auto answer failed"), QStringLiteral("Not connected")}));
    QCOMPARE(rig.reporter.paneText(),
             QStringLiteral("Start auto answer ...") + PleaseCheck +
                 QStringLiteral("Stop auto answer ... OK\r\nNot connected\r\n"));
    QVERIFY(rig.state.AutoAnswerOn); // the hang-up reads it but leaves it
    QCOMPARE(rig.line.closes, 1);
    verifyStopped(rig);
}

void TestModemControl::autoAnswerFailureAfterCall()
{
    ModemRig rig;
    rig.startWaiting();
    rig.script.silent += Arm;
    rig.line.setMode(SerialLine::Mode::Idle);

    QVERIFY(!rig.modem.StartAutoAnswer());

    // Re-arming after a call has no busy indication and leaves the port as
    // it is: open, in job mode, the caption still "Stop".
    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Auto answer failed"));
    QVERIFY(rig.state.PortOpened);
    QVERIFY(rig.line.isOpen());
    QCOMPARE(rig.line.mode(), SerialLine::Mode::Job);
    QCOMPARE(rig.controls.startStop, QStringLiteral("Stop"));
    QCOMPARE(rig.controls.busyCount, 1); // only the start's
    QCOMPARE(rig.clock.sleeps() - rig.sent.first().polls, LineWait::MaxPolls);
}

// Stop from the waiting state, with or without a call, and what the modem
// answers on the way.
void TestModemControl::stop_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("carrier");
    QTest::addColumn<bool>("modemLines");
    QTest::addColumn<QList<QByteArray>>("silent");
    QTest::addColumn<int>("carrierDropsAfter"); // gone in this poll after DTR drop; -1 never
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<bool>("dtrDropped");
    QTest::addColumn<int>("polls");
    QTest::addColumn<QString>("pane");

    const QList<QByteArray> none;
    const QString tail = QStringLiteral("Stop auto answer ... OK\r\nNot connected\r\n");
    const QString hanging = QStringLiteral("Hanging up ...\r\n");
    const QString done = QStringLiteral("+++OK\r\nATH0 OK\r\nHang up done\r\n");

    QTest::newRow("no call") << false << false << true << none << -1 << false
                             << QList<QByteArray>{Disarm} << false << 3 << tail;
    QTest::newRow("call, modem obeys")
        << true << true << true << none << -1 << true << QList<QByteArray>{Escape, Hang, Disarm}
        << false << 9 << hanging + done + tail;
    QTest::newRow("carrier without a call seen")
        << false << true << true << none << -1 << true << QList<QByteArray>{Escape, Hang, Disarm}
        << false << 9 << hanging + done + tail;
    QTest::newRow("call on a line without modem lines")
        << true << false << false << none << -1 << true << QList<QByteArray>{Escape, Hang, Disarm}
        << false << 9 << hanging + done + tail;
    QTest::newRow("+++ unanswered, carrier drops")
        << true << true << true << QList<QByteArray>{Escape} << 51 << true
        << QList<QByteArray>{Escape, Disarm} << true << 1000 + 51 + 3 << hanging + tail;
    QTest::newRow("ATH0 unanswered, carrier drops")
        << true << true << true << QList<QByteArray>{Hang} << 8 << true
        << QList<QByteArray>{Escape, Hang, Disarm} << true << 3 + 1000 + 8 + 3
        << hanging + QStringLiteral("+++OK\r\n") + tail;
    QTest::newRow("+++ unanswered, carrier stays")
        << true << true << true << QList<QByteArray>{Escape} << -1 << true
        << QList<QByteArray>{Escape} << true << 2000
        << hanging + QStringLiteral("Not connected\r\n");
    QTest::newRow("+++ unanswered, no modem lines")
        << true << false << false << QList<QByteArray>{Escape} << -1 << true
        << QList<QByteArray>{Escape} << true << 1000
        << hanging + QStringLiteral("Not connected\r\n");
    QTest::newRow("ATS0=0 unanswered")
        << false << false << true << QList<QByteArray>{Disarm} << -1 << false
        << QList<QByteArray>{Disarm} << false << 1000 << QStringLiteral("Not connected\r\n");
}

void TestModemControl::stop()
{
    QFETCH(bool, connected);
    QFETCH(bool, carrier);
    QFETCH(bool, modemLines);
    QFETCH(QList<QByteArray>, silent);
    QFETCH(int, carrierDropsAfter);
    QFETCH(bool, asked);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(bool, dtrDropped);
    QFETCH(int, polls);
    QFETCH(QString, pane);

    ModemRig rig;
    rig.line.modemLines = modemLines;
    rig.startWaiting();
    rig.reporter.ClearStatus();
    rig.state.Connected = connected;
    rig.line.carrier = carrier;
    rig.script.silent = silent;
    rig.prompter.answers = {true};

    int droppedAt = -1;
    rig.clock.onEvents = [&] {
        if (!rig.line.dtrChanges.empty() && !rig.line.dtrChanges.back() && droppedAt < 0)
            droppedAt = rig.clock.sleeps();
        if (droppedAt >= 0 && carrierDropsAfter >= 0 &&
            rig.clock.sleeps() - droppedAt + 1 >= carrierDropsAfter)
            rig.line.carrier = false;
    };

    const int before = rig.clock.sleeps();
    rig.modem.HangUp();

    QCOMPARE(rig.prompter.questions.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(rig.prompter.questions.first(), QStringLiteral("Hang up (disconnect) modem?"));
    QCOMPARE(rig.line.writes, commands);
    // "+++" goes out the moment the question is answered, without a pause.
    if (commands.first() == Escape)
        QCOMPARE(rig.sent.first().polls, before);
    QCOMPARE(!rig.line.dtrChanges.empty() && !rig.line.dtrChanges.back(), dtrDropped);
    QCOMPARE(rig.clock.sleeps() - before, polls);
    QCOMPARE(rig.reporter.paneText(), pane);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Not connected"));
    if (asked)
        QVERIFY(rig.reporter.tips.contains(QStringLiteral("Hanging up ...")));
    QCOMPARE(rig.prompter.beeps, 0);
    QVERIFY(rig.reporter.redText().isEmpty());
    QCOMPARE(rig.line.closes, 1);
    verifyStopped(rig, false);
}

void TestModemControl::stopInCallAnsweredNo_data()
{
    QTest::addColumn<SerialLine::Mode>("modeBefore");
    QTest::newRow("waiting, call up") << SerialLine::Mode::Idle;
    QTest::newRow("inside a job") << SerialLine::Mode::Job;
}

void TestModemControl::stopInCallAnsweredNo()
{
    QFETCH(SerialLine::Mode, modeBefore);
    ModemRig rig;
    rig.startWaiting();
    rig.state.Connected = true;
    rig.line.carrier = true;
    rig.line.setMode(modeBefore);
    const QString tipBefore = rig.reporter.tip();
    const QString logBefore = rig.reporter.log;
    rig.prompter.answers = {false};

    rig.modem.HangUp();

    QCOMPARE(rig.prompter.questions, QStringList{QStringLiteral("Hang up (disconnect) modem?")});
    QVERIFY(rig.line.writes.isEmpty());
    QVERIFY(rig.line.dtrChanges.empty());
    QCOMPARE(rig.reporter.log, logBefore);
    QCOMPARE(rig.reporter.tip(), tipBefore);
    QVERIFY(rig.state.PortOpened);
    QVERIFY(rig.state.Connected);
    QVERIFY(rig.state.AutoAnswerOn);
    QVERIFY(rig.line.isOpen());
    QCOMPARE(rig.line.closes, 0);
    QCOMPARE(rig.line.mode(), modeBefore);
    QCOMPARE(rig.controls.startStop, QStringLiteral("Stop"));
    QCOMPARE(rig.controls.close, QStringLiteral("Hide"));
    QVERIFY(rig.controls.startStopEnabled);
    QVERIFY(!rig.controls.busy);
}

// The device vanishes in the middle of a wait: the wait ends at once, the
// loss is reported once, and the server is stopped.
void TestModemControl::portLost_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("atPoll");
    QTest::addColumn<bool>("ownerReportsToo"); // the lost notification calls handlePortLost

    QTest::newRow("init wait") << "start" << 1 << false;
    QTest::newRow("init wait, owner reports") << "start" << 1 << true;
    QTest::newRow("auto-answer wait") << "start" << 4 << false;
    QTest::newRow("auto-answer wait, owner reports") << "start" << 4 << true;
    QTest::newRow("+++ wait") << "stop" << 1 << false;
    QTest::newRow("carrier watch, owner reports") << "stop" << 1001 << true;
}

void TestModemControl::portLost()
{
    QFETCH(QString, operation);
    QFETCH(int, atPoll);
    QFETCH(bool, ownerReportsToo);

    ModemRig rig;
    if (ownerReportsToo)
        rig.line.setLostHandler([&] { rig.modem.handlePortLost(); });
    if (operation == QLatin1String("stop")) {
        rig.startWaiting();
        rig.state.Connected = true;
        rig.line.carrier = true;
        rig.script.silent += Escape;
    }
    const int start = rig.clock.sleeps();
    rig.clock.onEvents = [&] {
        if (rig.clock.sleeps() - start == atPoll)
            rig.line.vanish();
    };

    if (operation == QLatin1String("start"))
        rig.modem.InitializeModem();
    else
        rig.modem.HangUp();

    QCOMPARE(rig.clock.sleeps() - start, atPoll + 1); // no further polls
    QCOMPARE(rig.reporter.redText(), LostText);
    QVERIFY(!rig.reporter.log.contains(QStringLiteral("Please check modem.")));
    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Modem port lost"));
    QCOMPARE(rig.line.closes, 1);
    verifyStopped(rig);

    // Whoever calls it again finds nothing left to do.
    const QString log = rig.reporter.log;
    rig.modem.handlePortLost();
    rig.modem.HangUp();
    QCOMPARE(rig.reporter.log, log);
    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(rig.line.closes, 1);

    // Start works again once the device is back.
    rig.script.silent.clear();
    rig.modem.InitializeModem();
    QVERIFY(rig.state.PortOpened);
    QCOMPARE(rig.controls.startStop, QStringLiteral("Stop"));
}

// Between operations only the lost notification tells: the owner passes it
// on and the server ends up stopped, ready for Start.
void TestModemControl::portLostWhileWaiting()
{
    ModemRig rig;
    rig.startWaiting();
    rig.line.setLostHandler([&] { rig.modem.handlePortLost(); });
    rig.line.vanish();

    QCOMPARE(rig.reporter.redText(), LostText);
    QCOMPARE(rig.prompter.beeps, 1);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Modem port lost"));
    QCOMPARE(rig.line.closes, 1);
    QVERIFY(rig.line.writes.isEmpty());
    verifyStopped(rig);
}

// Exit chosen from the tray while the initialisation waits: the nested
// hang-up closes the port, the outer wait then ends without reporting into
// a stopped server, and the busy indication clears only at the very end.
void TestModemControl::exitDuringInitWait()
{
    ModemRig rig;
    rig.script.silent += Init;
    bool busyInside = false;
    rig.clock.onEvents = [&] {
        if (rig.clock.sleeps() == 5) {
            rig.modem.HangUp();
            busyInside = rig.controls.busy && !rig.controls.startStopEnabled;
        }
    };
    rig.modem.InitializeModem();

    QVERIFY(busyInside);
    QCOMPARE(rig.prompter.beeps, 0);
    QVERIFY(rig.reporter.redText().isEmpty());
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Not connected"));
    QCOMPARE(rig.line.closes, 1);
    QVERIFY(rig.clock.sleeps() < 10);
    QVERIFY(!rig.controls.busy);
    QVERIFY(rig.controls.startStopEnabled);
    QVERIFY(!rig.state.PortOpened);
}

QTEST_GUILESS_MAIN(TestModemControl)
#include "test_modemcontrol.moc"
