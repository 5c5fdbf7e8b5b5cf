// Modem control against a scripted modem on the fake line: the command
// bytes, the reply wait and its bound, the failure paths and the state each
// leaves behind. The modem answers "\r\nOK\r\n" 30 ms after every command
// unless a test scripts other pieces for it (none: it stays silent).
#include "Configuration.h"
#include "FakeLine.h"
#include "ModemControl.h"

#include <QtTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

using Pieces = QList<QPair<QByteArray, int>>; // bytes, after so many ms
Q_DECLARE_METATYPE(Pieces)

namespace {

const QByteArray Init = "ATE0V1Q0S0=0\r";
const QByteArray Arm = "ATS0=1\r";
const QByteArray Disarm = "ATS0=0\r";
const QByteArray Escape = "+++";
const QByteArray Hang = "ATH0\r";
using Commands = QList<QByteArray>;

struct Rig
{
    Rig()
    {
        line.peer = [this](const QByteArray &command) {
            for (const auto &[bytes, delayMs] : replies.value(command, {{"\r\nOK\r\n", 30}}))
                line.deliver(bytes, delayMs);
        };
    }

    // Brings the server into the waiting state and forgets what that took.
    void startWaiting()
    {
        modem.InitializeModem();
        line.writes.clear();
        reporter.ClearStatus();
    }

    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};
    RecordingReporter reporter;
    ScriptedPrompter prompter;
    RecordingControls controls;
    ServerState state;
    Configuration config;
    ModemControl modem{wait, reporter, prompter, controls, state, config};
    QHash<QByteArray, Pieces> replies;
};

// Stopped after a Stop or a failed start: ready for the next Start.
void verifyStopped(const Rig &rig)
{
    QVERIFY(!rig.state.PortOpened && !rig.state.Connected && !rig.line.isOpen());
    QCOMPARE(rig.controls.startStop, QString("Start"));
    QCOMPARE(rig.controls.close, QString("Exit"));
    QVERIFY(rig.controls.startStopEnabled && !rig.controls.busy);
}

} // namespace

class TestModemControl : public QObject
{
    Q_OBJECT

private slots:
    // The reply to the initialisation decides the start; the polls counted
    // tell how long its wait took.
    void replyWait_data()
    {
        QTest::addColumn<Pieces>("reply");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("polls");

        QTest::newRow("plain OK") << Pieces{{"\r\nOK\r\n", 30}} << true << 3;
        QTest::newRow("echoing modem") << Pieces{{Init, 1}, {"\r\nOK\r\n", 30}} << true << 3;
        QTest::newRow("OK split across polls")
            << Pieces{{"\r\nO", 10}, {"K\r", 20}, {"\n", 40}} << true << 4;
        QTest::newRow("CR LF late") << Pieces{{"\r\nOK", 10}, {"\r\n", 2000}} << true << 200;
        QTest::newRow("CR LF never") << Pieces{{"\r\nOK", 10}} << false << 1000;
        QTest::newRow("ERROR") << Pieces{{"\r\nERROR\r\n", 10}} << false << 1000;
        QTest::newRow("in the last poll") << Pieces{{"\r\nOK\r\n", 10000}} << true << 1000;
        QTest::newRow("just too late") << Pieces{{"\r\nOK\r\n", 10001}} << false << 1000;
    }

    void replyWait()
    {
        QFETCH(Pieces, reply);
        QFETCH(bool, accepted);
        QFETCH(int, polls);

        Rig rig;
        rig.replies.insert(Init, reply);
        rig.modem.InitializeModem();

        QCOMPARE(rig.state.AutoAnswerOn, accepted);
        // "ATS0=0" only follows an armed auto-answer, so a failure sends nothing more.
        QCOMPARE(rig.line.writes, accepted ? (Commands{Init, Arm}) : (Commands{Init}));
        QCOMPARE(rig.clock.sleeps(), accepted ? polls + 3 : polls); // "ATS0=1" takes 3
        QCOMPARE(rig.controls.startStop, QString(accepted ? "Stop" : "Start"));
        if (accepted) { // waiting for calls
            QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
            QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
            QCOMPARE(rig.controls.close, QString("Hide"));
            QVERIFY(!rig.controls.settingsEnabled && rig.controls.startStopEnabled);
        }
    }

    // Each failed start beeps once, reports in red, leaves its tips and ends
    // stopped, ready for Start. A device pulled mid-wait ends the wait at once
    // and is reported once, though the lost notification tells as well.
    void failedStart_data()
    {
        QTest::addColumn<bool>("portBusy");
        QTest::addColumn<QByteArray>("silent");
        QTest::addColumn<int>("pulledAt"); // the poll at which the device goes; -1 never
        QTest::addColumn<Commands>("commands");
        QTest::addColumn<int>("polls");
        QTest::addColumn<QString>("red");
        QTest::addColumn<QStringList>("tips");

        const QString check = " failed\r\nPlease check modem.\r\n";
        QTest::newRow("port busy")
            << true << QByteArray() << -1 << Commands{} << 0
            << " failed\r\nDevice busy\r\nPlease change your modem port, then click Start to "
               "retry.\r\n"
            << QStringList{"Open COM failed"};
        QTest::newRow("init unanswered") << false << Init << -1 << Commands{Init} << 1000 << check
                                         << QStringList{"Initialize modem failed", "Not connected"};
        // Auto-answer was on, so the hang-up disarms it before closing.
        QTest::newRow("auto-answer unanswered")
            << false << Arm << -1 << Commands{Init, Arm, Disarm} << 3 + 1000 + 3 << check
            << QStringList{"Auto answer failed", "Not connected"};
        QTest::newRow("device pulled in the init wait")
            << false << Init << 2 << Commands{Init} << 3
            << "Modem port lost: Input/output error\r\n"
               "Please check the modem and its cable, then click Start to retry.\r\n"
            << QStringList{"Modem port lost"};
    }

    void failedStart()
    {
        QFETCH(bool, portBusy);
        QFETCH(QByteArray, silent);
        QFETCH(int, pulledAt);
        QFETCH(Commands, commands);
        QFETCH(int, polls);
        QFETCH(QString, red);
        QFETCH(QStringList, tips);

        Rig rig;
        rig.line.openFails = portBusy;
        rig.line.openError = "Device busy";
        rig.replies.insert(silent, {});
        rig.line.setLostHandler([&] { rig.modem.handlePortLost(); });
        rig.clock.onEvents = [&] {
            if (rig.clock.sleeps() == pulledAt)
                rig.line.vanish();
        };
        rig.modem.InitializeModem();
        rig.modem.HangUp(); // a Stop coming late finds nothing to do

        QCOMPARE(rig.line.writes, commands);
        QCOMPARE(rig.clock.sleeps(), polls);
        QCOMPARE(rig.reporter.redText(), red);
        QCOMPARE(rig.reporter.tips, tips);
        QCOMPARE(rig.prompter.beeps, 1);
        QVERIFY(rig.prompter.questions.isEmpty());
        QCOMPARE(rig.line.closes, portBusy ? 0 : 1);
        QVERIFY(rig.controls.settingsEnabled);
        verifyStopped(rig);
    }

    // Stop from the waiting state, with or without a call, and what the modem
    // answers on the way.
    void stop_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("modemLines");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QByteArray>("silent");
        QTest::addColumn<int>("carrierDropsAfter"); // polls after the DTR drop; -1 never
        QTest::addColumn<Commands>("commands");
        QTest::addColumn<int>("polls");

        QTest::newRow("no call: disarm, nothing asked")
            << false << true << true << QByteArray() << -1 << Commands{Disarm} << 3;
        QTest::newRow("call, No: everything stays")
            << true << true << false << QByteArray() << -1 << Commands{} << 0;
        QTest::newRow("call, modem obeys")
            << true << true << true << QByteArray() << -1 << Commands{Escape, Hang, Disarm} << 9;
        QTest::newRow("+++ unanswered, carrier drops")
            << true << true << true << Escape << 51 << Commands{Escape, Disarm} << 1000 + 51 + 3;
        QTest::newRow("+++ unanswered, carrier stays")
            << true << true << true << Escape << -1 << Commands{Escape} << 2000;
        // Nothing to watch: the close ends the call.
        QTest::newRow("+++ unanswered, no modem lines")
            << true << false << true << Escape << -1 << Commands{Escape} << 1000;
    }

    void stop()
    {
        QFETCH(bool, connected);
        QFETCH(bool, modemLines);
        QFETCH(bool, answer);
        QFETCH(QByteArray, silent);
        QFETCH(int, carrierDropsAfter);
        QFETCH(Commands, commands);
        QFETCH(int, polls);

        Rig rig;
        rig.line.modemLines = modemLines;
        rig.startWaiting();
        rig.state.Connected = rig.line.carrier = connected;
        rig.replies.insert(silent, {});
        rig.prompter.answers = {answer};
        int droppedAt = -1;
        rig.clock.onEvents = [&] {
            if (droppedAt < 0 && !rig.line.dtrChanges.empty() && !rig.line.dtrChanges.back())
                droppedAt = rig.clock.sleeps();
            if (droppedAt >= 0 && carrierDropsAfter >= 0 &&
                rig.clock.sleeps() - droppedAt + 1 >= carrierDropsAfter)
                rig.line.carrier = false;
        };
        const int before = rig.clock.sleeps();

        rig.modem.HangUp();

        QCOMPARE(rig.prompter.questions,
                 QStringList(connected ? 1 : 0, "Hang up (disconnect) modem?"));
        QCOMPARE(rig.line.writes, commands);
        QCOMPARE(rig.clock.sleeps() - before, polls); // "+++" goes without a pause
        // DTR drops only to force the hang-up.
        QCOMPARE(!rig.line.dtrChanges.empty() && !rig.line.dtrChanges.back(), silent == Escape);
        QVERIFY(rig.reporter.redText().isEmpty());
        if (answer) {
            QCOMPARE(rig.reporter.tip(), QString("Not connected"));
            QCOMPARE(rig.line.closes, 1);
            verifyStopped(rig);
            return;
        }
        QVERIFY(rig.state.PortOpened && rig.state.Connected && rig.state.AutoAnswerOn);
        QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle); // still hears calls
        QCOMPARE(rig.controls.startStop, QString("Stop"));
        QVERIFY(rig.line.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestModemControl)
#include "test_modemcontrol.moc"
