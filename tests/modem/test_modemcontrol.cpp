// Modem control against a scripted modem on the fake line: command bytes, the reply wait and its
// bound, failure paths and the state left. The modem answers "\r\nOK\r\n" 30 ms after each command
// unless scripted (none: silence; a piece at -1 ms: device pulled as the command goes out; -2 ms:
// silence, Stop 500 ms in; -3 ms: silence, device pulled 500 ms in).
#include "Columns.h"
#include "FakeLine.h"
#include "ModemControl.h"

#include <QtTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

using Pieces = QList<QPair<QByteArray, int>>; // bytes, after so many ms
Q_DECLARE_METATYPE(Pieces)

namespace {

const QByteArray Init = "ATE0V1Q0S0=0\r", Arm = "ATS0=1\r", Disarm = "ATS0=0\r", Escape = "+++";
using Commands = QList<QByteArray>;

struct Rig : Recorders
{
    Rig()
    {
        line.peer = [this](const QByteArray &command) {
            for (const auto &[bytes, delayMs] : replies.value(command, {{"\r\nOK\r\n", 30}}))
                delayMs < 0 ? line.vanish() : line.deliver(bytes, delayMs);
        };
        line.setLostHandler([this] { modem.handlePortLost(); });
    }

    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};
    ModemControl modem{wait, reporter, prompter, controls, state, config};
    QHash<QByteArray, Pieces> replies;
};

// Stopped after a Stop or a failed start: ready for the next Start.
void verifyStopped(const Rig &rig)
{
    QVERIFY(!rig.state.PortOpened && !rig.state.Connected && !rig.line.isOpen());
    QCOMPARE(rig.controls.startStop, ServerControls::StartStop::Start);
    QCOMPARE(rig.controls.close, QString("Exit"));
    QVERIFY(rig.controls.startStopEnabled && !rig.controls.busy);
}

} // namespace

class TestModemControl : public QObject
{
    Q_OBJECT

private slots:
    // One command's reply decides a start; polls tell how long the waits took. A failed start beeps
    // once, reports in red, leaves its tips, ends stopped. Exit or Stop in a wait cuts it short and
    // the hang-up does the rest: no failure, no Stop, the step line ended first.
    void start_data()
    {
        const auto row = columns<QByteArray, Pieces, Commands, int, QString, QStringList>(
            "command", "reply", "commands", "polls", "red", "tips"); // no commands: port busy
        const Commands both{Init, Arm};
        const QString check = " failed\r\nPlease check modem.\r\n", waiting = "Waiting call ...";
        row("plain OK", Init, {{"\r\nOK\r\n", 30}}, both, 6, "", {waiting});
        row("echoing modem", Init, {{Init, 1}, {"\r\nOK\r\n", 30}}, both, 6, "", {waiting});
        row("CR LF late", Init, {{"\r\nOK", 10}, {"\r\n", 2000}}, both, 203, "", {waiting});
        row("OK in the last poll", Init, {{"\r\nOK\r\n", 10000}}, both, 1003, "", {waiting});
        row("ERROR", Init, {{"\r\nERROR\r\n", 10}}, {Init}, 1000, check,
            {"Initialize modem failed", "Not connected"});
        // Auto-answer was on, so the hang-up disarms it before closing.
        row("auto-answer unanswered", Arm, {}, {Init, Arm, Disarm}, 3 + 1000 + 3, check,
            {"Auto answer failed", "Not connected"});
        row("port busy", Init, {}, {}, 0,
            " failed\r\nPermission error while locking the device\r\n"
            "Please change your modem port, then click Start to retry.\r\n",
            {"Open COM failed"});
        const QString lost = "Modem port lost: Input/output error\r\n"
                             "Please check the modem and its cable, then click Start to retry.\r\n";
        const QStringList gone{"Modem port lost"};
        row("device pulled as the command goes out", Init, {{"", -1}}, {Init}, 0, lost, gone);
        row("device pulled in the wait", Init, {{"", -3}}, {Init}, 51, lost, gone);
        row("device pulled while arming", Arm, {{"", -1}}, {Init, Arm}, 3, lost, gone);
        row("Stop while initialising", Init, {{"", -2}}, {Init}, 51, "", {});
        row("Stop while arming", Arm, {{"", -2}}, {Init, Arm}, 51, "", {});
    }

    void start()
    {
        auto [command, reply, commands, polls, red, tips] =
            fetch<QByteArray, Pieces, Commands, int, QString, QStringList>(
                "command", "reply", "commands", "polls", "red", "tips");

        Rig rig;
        rig.line.openFails = commands.isEmpty();
        const int special = reply.value(0).second;
        const bool cut = special == -2;
        rig.replies.insert(command, special < -1 ? Pieces{} : reply);
        bool idleInWait = false; // Start/Stop clickable, or the pointer not busy, mid-wait
        rig.clock.onEvents = [&rig, cut, special, &idleInWait] {
            if (!rig.line.failed())
                idleInWait |= rig.controls.startStopEnabled || !rig.controls.busy;
            if (rig.clock.now() >= 500 && special < -1)
                cut ? rig.wait.requestAbort() : rig.line.vanish();
        };
        rig.reporter.AppendStatus("from before\r\n"); // a start begins on a clean pane
        rig.modem.InitializeModem();
        QVERIFY(!idleInWait);
        QCOMPARE(!rig.line.dtrChanges.empty() && rig.line.dtrChanges[0],
                 !commands.isEmpty()); // up first
        const bool started = red.isEmpty();
        if (!started) {
            QCOMPARE(rig.line.writes, commands);
            QVERIFY(!rig.line.isOpen()); // closed by the start itself
            rig.modem.HangUp();          // a Stop coming late finds nothing to do
        }

        QCOMPARE(rig.line.writes, commands);
        QCOMPARE(rig.clock.sleeps(), polls);
        QCOMPARE(rig.reporter.redText(), red);
        QString pane = rig.reporter.paneText();
        if (command == Init) // the port opened, its line still shown
            QCOMPARE(pane.section("\r\n", 0, 0).endsWith(" ... OK"), !commands.isEmpty());
        if (red.startsWith(" failed")) // on the line of the step that failed
            QVERIFY2(pane.contains("..." + red), qPrintable(pane));
        QCOMPARE(rig.reporter.tips, tips);
        QCOMPARE(rig.prompter.beeps, started ? 0 : 1);
        QVERIFY(rig.prompter.questions.isEmpty());
        QCOMPARE(rig.line.closes, started || commands.isEmpty() ? 0 : 1);
        if (cut) {
            QCOMPARE(rig.controls.startStop, ServerControls::StartStop::Start);
            QVERIFY(rig.line.isOpen() && rig.state.PortOpened);
            rig.clock.onEvents = nullptr;
            rig.wait.clearAbort();
            rig.modem.HangUp();
            pane = rig.reporter.paneText();
            const QString open = command == Init ? "Initialize modem ..." : "Start auto answer ...";
            QVERIFY2(pane.contains(open + "\r\n") && pane.endsWith("\nNot connected\r\n"),
                     qPrintable(pane));
            return;
        }
        if (!started) {
            QVERIFY(rig.controls.settingsEnabled);
            return verifyStopped(rig);
        }
        QVERIFY(rig.state.AutoAnswerOn && rig.line.isOpen());
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
        QCOMPARE(rig.controls.startStop, ServerControls::StartStop::Stop);
        QCOMPARE(rig.controls.close, QString("Hide"));
        QVERIFY(!rig.controls.settingsEnabled && rig.controls.startStopEnabled);
    }

    // Stop from the waiting state, with or without a call, and what the modem answers on the way.
    void stop_data()
    {
        // silent: the command the modem leaves unanswered; "lost": the device gone before the Stop,
        // unheard; "pulled": gone as the disarm goes out. drops: carrier low so many polls after
        // DTR drops, -1 never; asked: asked during a job
        const auto row = columns<bool, bool, bool, QByteArray, int, Commands, int, bool>(
            "connected", "lines", "answer", "silent", "drops", "commands", "polls", "asked");
        const Commands obeyed{Escape, "ATH0\r", Disarm};
        row("no call: disarm, nothing asked", false, true, true, {}, -1, {Disarm}, 3, false);
        row("call, No: everything stays", true, true, false, {}, -1, {}, 0, false);
        row("call, modem obeys", true, true, true, {}, -1, obeyed, 9, false);
        row("call, carrier up before CONNECT", true, true, true, {}, -1, obeyed, 9, false);
        row("+++ unanswered, carrier drops", true, true, true, Escape, 51, {Escape, Disarm},
            1000 + 51 + 3, false);
        row("+++ unanswered, carrier stays", true, true, true, Escape, -1, {Escape}, 2000, false);
        row("call, Yes given before", true, true, true, {}, -1, obeyed, 9, true);
        row("call, No given before", true, true, false, {}, -1, {}, 0, true);
        // Nothing to watch: the close ends the call.
        row("+++ unanswered, no modem lines", true, false, true, Escape, -1, {Escape}, 1000, false);
        row("device lost unheard", false, true, true, "lost", -1, {}, 0, false);
        row("device pulled at the disarm", false, true, true, "pulled", -1, {Disarm}, 0, false);
    }

    void stop()
    {
        auto [connected, modemLines, answer, silent, drops, commands, polls, asked] =
            fetch<bool, bool, bool, QByteArray, int, Commands, int, bool>(
                "connected", "lines", "answer", "silent", "drops", "commands", "polls", "asked");

        Rig rig;
        rig.line.modemLines = modemLines;
        rig.modem.InitializeModem();
        rig.line.writes.clear();
        rig.line.carrier = connected;
        rig.state.Connected = connected && !QByteArray(QTest::currentDataTag()).contains("CONNECT");
        if (silent == "lost")
            rig.line.vanish();
        else if (silent == "pulled")
            rig.replies.insert(Disarm, {{"", -1}});
        else
            rig.replies.insert(silent, {});
        rig.prompter.answers = {answer};
        rig.clock.onEvents = [&, &drops = drops] {
            if (drops > 0 && !rig.line.dtrChanges.back() && --drops == 0)
                rig.line.carrier = false;
        };
        const int before = rig.clock.sleeps();

        using Answer = ModemService::CallAnswer;
        rig.modem.HangUp(!asked ? Answer::Ask : answer ? Answer::EndCall : Answer::KeepCall);

        QCOMPARE(rig.prompter.questions,
                 QStringList(connected && !asked ? 1 : 0, "Hang up (disconnect) modem?"));
        QCOMPARE(rig.line.writes, commands);
        QCOMPARE(rig.clock.sleeps() - before, polls);             // "+++" goes without a pause
        QCOMPARE(!rig.line.dtrChanges.back(), silent == Escape);  // only to force a hang-up
        const bool lost = silent == "lost" || silent == "pulled"; // told at once, port closed
        QCOMPARE(rig.reporter.redText().startsWith("Modem port lost"), lost);
        QCOMPARE(rig.reporter.paneText().contains("Stop auto answer ... OK"),
                 commands.contains(Disarm) && !lost);
        if (answer) {
            QCOMPARE(rig.reporter.tip(), lost ? "Modem port lost" : "Not connected");
            QCOMPARE(rig.line.closes, 1);
            return verifyStopped(rig);
        }
        QVERIFY(rig.state.Connected && rig.state.AutoAnswerOn && rig.line.isOpen());
        QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle); // still hears calls
        QCOMPARE(rig.controls.startStop, ServerControls::StartStop::Stop);
    }

    // The modem's "NO CARRIER" during a job ends the call, also after a frame cut short (a frame
    // never holds a raw CR or LF); a file's words, escaped inside their frame, do not.
    void hangUpWatch_data()
    {
        const auto row = columns<QByteArray, bool>("received", "lost");
        row("the modem's words", "\r\nNO CARRIER\r\n", true);
        const QByteArray start = "\x02\x1b";    // STX ESC
        const QByteArray crLf = "\\\x8d\\\x8a"; // escaped
        row("a file's words inside a frame", start + "D" + crLf + "NO CARRIER" + crLf, false);
        row("a frame cut before its ETX", start + "DAB\r\nNO CARRIER\r\n", true);
        row("after a frame", start + "DAB\x03\r\nNO CARRIER\r\n", true);
    }

    void hangUpWatch()
    {
        auto [received, lost] = fetch<QByteArray, bool>("received", "lost");
        Rig rig;
        QVERIFY(rig.line.open(1, nullptr));
        rig.wait.beginHangUpWatch();
        rig.line.deliver(received);
        QByteArray got;
        QCOMPARE(rig.wait.poll(got), !lost); // a hang-up cuts the wait short
        QCOMPARE(got, received);
        QCOMPARE(rig.wait.endHangUpWatch() == LineWait::CallEnd::NoCarrier, lost);
    }
};

QTEST_GUILESS_MAIN(TestModemControl)
#include "test_modemcontrol.moc"
