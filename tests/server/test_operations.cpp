// The operation controller alone with the clicks a call's job can meet: what waits for the job's
// end, how often it hangs up, whether the hang-up still reaches the modem, when Settings is back.
#include "Columns.h"
#include "FakeLine.h"
#include "LineWait.h"
#include "OperationController.h"

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

// A window that closes as the real one does: unloading hangs up.
struct RecordingView final : OperationController::View
{
    void closeByProgram() override
    {
        ++closes;
        if (controller)
            controller->unload();
    }
    void setSettingsEnabled(bool enabled) override { settings += enabled; }

    OperationController *controller = nullptr;
    int closes = 0;
    QList<bool> settings;
};

// Notes each hang-up and whether the waits were still told to end then.
struct CallModem final : ModemService
{
    CallModem(LineWait &lineWait, Prompter &questions) : wait(lineWait), prompter(questions) {}
    void InitializeModem() override {}
    using ModemService::HangUp;
    void HangUp(CallAnswer answer) override
    {
        abortedAtHangUp += wait.aborted();
        if (answer != CallAnswer::KeepCall)
            call = false;
    }
    bool callUp() const override { return call; }
    void askHangUpLater(std::function<void(bool)> answered) override
    {
        prompter.askYesNoLater(QStringLiteral("Hang up (disconnect) modem?"), std::move(answered));
    }

    LineWait &wait;
    Prompter &prompter;
    bool call = false;
    QList<bool> abortedAtHangUp;
};

} // namespace

class OperationsTest : public QObject
{
    Q_OBJECT

private slots:
    // Clicks in a job: S Stop, T tray Exit, L port lost, W close when idle, N the call ends (its
    // "NO CARRIER" handled as an operation); + or - answers the next question. After "/" the job
    // has ended: the rest, and answers to questions earlier answers led to, come later.
    void clicksDuringAJob_data()
    {
        // jobCut: its waits told to end
        const auto row = columns<QString, bool, int, int, bool, bool, bool>(
            "clicks", "call", "hangUps", "closes", "settingsAfter", "callAfter", "jobCut");
        row("Stop, no call", "S+", false, 1, 0, true, false, true);
        row("Stop in a call, keep it", "S+-", true, 0, 0, true, true, false);
        row("Stop in a call, hang up", "S++", true, 1, 0, true, false, true);
        // The exit hangs up; the stop left pending must not do it again.
        row("Stop and Exit in a call, hang up", "S++T++", true, 1, 1, false, false, true);
        row("Exit in a call, keep it", "T+-", true, 1, 1, false, true, false);
        row("Stop answered No", "S-", true, 0, 0, false, true, false);
        row("Exit in a call, hang up after the job", "T+/+", true, 1, 1, false, false, false);
        row("Stop in a call, keep it after the job", "S+/-", true, 0, 0, true, true, false);
        row("Stop in a call, hang up after the job", "S+/+", true, 1, 0, true, false, false);
        // A lost port is dealt with once, never under the job.
        row("port lost in a job", "L", false, 0, 0, false, false, true);
        row("port lost after the job", "/L", false, 0, 0, false, false, false);
        // An installer's request: nothing asked, once the job is done and no call is connected.
        row("close when idle, in the job, no call", "W", false, 1, 1, false, false, false);
        row("close when idle, in the job, the call ends later", "W/N", true, 1, 1, false, false,
            false);
        row("close when idle, after the job, the call up", "/W", true, 0, 0, false, true, false);
        row("close when idle, after the job, the call ends", "/WN", true, 1, 1, false, false,
            false);
    }

    void clicksDuringAJob()
    {
        auto [clicks, call, hangUps, closes, settingsAfter, callAfter, jobCut] =
            fetch<QString, bool, int, int, bool, bool, bool>(
                "clicks", "call", "hangUps", "closes", "settingsAfter", "callAfter", "jobCut");
        VirtualClock clock;
        FakeLine line{clock};
        LineWait wait{line, clock};
        ScriptedPrompter prompter;
        CallModem modem{wait, prompter};
        RecordingView view;
        OperationController operations{prompter, view};
        view.controller = &operations;
        operations.attachModem(modem, &wait);
        operations.setStopOffered(true);
        int lost = 0;
        operations.setPortLostHandler([&] { ++lost; });
        modem.call = call;
        for (QChar c : clicks)
            if (c == '+' || c == '-')
                prompter.answers += c == '+';
        const QStringList parts = clicks.split('/');
        prompter.holdAnswers = parts.size() > 1;
        const QHash<QChar, void (OperationController::*)()> actions{
            {'S', &OperationController::startStopClicked},
            {'T', &OperationController::exitChosen},
            {'L', &OperationController::portLost},
            {'W', &OperationController::closeWhenIdle}};
        const auto play = [&](const QString &part) {
            for (QChar c : part)
                if (c == 'N')
                    operations.runOperation([&] { modem.call = false; });
                else if (const auto action = actions.value(c)) {
                    (operations.*action)();
                    prompter.answerHeld(); // the question this click asked
                }
        };

        bool cutShort = false;
        operations.runOperation([&] {
            play(parts.first());
            cutShort = wait.aborted();
            QVERIFY(!view.settings.contains(true)); // the job's lists must not change under it
            QCOMPARE(lost, 0);
        });
        if (parts.size() > 1)
            play(parts.last());
        prompter.answerHeld();

        QCOMPARE(lost, clicks.count('L'));
        QCOMPARE(modem.abortedAtHangUp.size(), qsizetype(hangUps));
        QVERIFY2(!modem.abortedAtHangUp.contains(true), "a hang-up ran with the waits cut short");
        QCOMPARE(view.closes, closes);
        QCOMPARE(modem.call, callAfter);
        QCOMPARE(cutShort, jobCut);
        QCOMPARE(!view.settings.isEmpty() && view.settings.last(), settingsAfter);
        QVERIFY(!operations.operationRunning() && !operations.exitPending());
    }
};

QTEST_GUILESS_MAIN(OperationsTest)
#include "test_operations.moc"
