// The operation controller alone, with the clicks a call's job can meet:
// what it leaves for after the job, how often it hangs up, whether the
// hang-up can still talk to the modem, and when Settings comes back.
#include "FakeLine.h"
#include "LineWait.h"
#include "ModemService.h"
#include "OperationController.h"

#include <QTest>

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
    // Clicks during a job: S Stop, T the tray's Exit; each + or - after one
    // answers the next question Yes or No.
    void clicksDuringAJob_data()
    {
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<bool>("call");
        QTest::addColumn<int>("hangUps");
        QTest::addColumn<int>("closes");
        QTest::addColumn<bool>("settingsAfter");
        QTest::addColumn<bool>("callAfter");
        QTest::addColumn<bool>("jobCut"); // its waits told to end

        QTest::newRow("Stop, no call") << "S+" << false << 1 << 0 << true << false << true;
        QTest::newRow("Stop in a call, keep it")
            << "S+-" << true << 0 << 0 << true << true << false;
        QTest::newRow("Stop in a call, hang up")
            << "S++" << true << 1 << 0 << true << false << true;
        // The exit hangs up; the stop left pending must not do it again.
        QTest::newRow("Stop and Exit in a call, hang up")
            << "S++T++" << true << 1 << 1 << false << false << true;
        QTest::newRow("Exit in a call, keep it")
            << "T+-" << true << 1 << 1 << false << true << false;
        QTest::newRow("Stop answered No") << "S-" << true << 0 << 0 << false << true << false;
    }

    void clicksDuringAJob()
    {
        QFETCH(QString, clicks);
        QFETCH(bool, call);
        QFETCH(int, hangUps);
        QFETCH(int, closes);
        QFETCH(bool, settingsAfter);
        QFETCH(bool, callAfter);
        QFETCH(bool, jobCut);

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
        modem.call = call;
        for (QChar c : clicks)
            if (c == '+' || c == '-')
                prompter.answers += c == '+';

        bool settingsDuringJob = false;
        bool cutShort = false;
        operations.runOperation([&] {
            for (QChar c : clicks) {
                if (c == 'S')
                    operations.startStopClicked();
                else if (c == 'T')
                    operations.exitChosen();
            }
            settingsDuringJob = view.settings.contains(true);
            cutShort = wait.aborted();
        });

        // The job's lists must not change under it.
        QVERIFY(!settingsDuringJob);
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
