// The offer of a tray attached to the service to copy the user's own
// settings to it: when it comes, what reaches the server, and that the
// answer is remembered. Paths are judged by Windows' rules with S: mapped,
// on every platform.
#include "AttachRig.h"
#include "SettingsMove.h"
#include "SettingsStore.h"
#include "UploadJournal.h"

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {
const DriveShares Drives{{QChar('S'), QStringLiteral("\\\\srv\\share")}};
DriveShares drives(const QStringList &)
{
    return Drives;
}
} // namespace

class TestSettingsMove : public QObject
{
    Q_OBJECT
private slots:
    void offeredOnceAttached_data();
    void offeredOnceAttached();
};

void TestSettingsMove::offeredOnceAttached_data()
{
    // own: the user's download path (none: no entries of one's own);
    // served: the server's download path afterwards
    const auto row = columns<QString, bool, QList<bool>, bool, bool, QString, bool>(
        "own", "journalEntry", "answers", "windowOk", "asked", "served", "remembered");
    const QString before = servedPath("d");
    row("copied, the mapped drive on its share", "S:\\out\\a.txt", false, QList<bool>{true}, true,
        true, "\\\\srv\\share\\out\\a.txt", true);
    row("declined", "C:\\out\\a.txt", false, QList<bool>{false}, false, true, before, true);
    row("window cancelled", "C:\\out\\a.txt", false, QList<bool>{true}, false, true, before, false);
    row("an upload still to undo", "C:\\out\\a.txt", true, QList<bool>{}, false, false, before,
        false);
    row("nothing of one's own", "", false, QList<bool>{}, false, false, before, false);
    row("the server has them already", before, false, QList<bool>{}, false, false, before, true);
}

void TestSettingsMove::offeredOnceAttached()
{
    auto [own, journalEntry, answers, windowOk, asked, remembered] =
        fetch<QString, bool, QList<bool>, bool, bool, bool>("own", "journalEntry", "answers",
                                                            "windowOk", "asked", "remembered");
    Rig rig;
    SettingsStore ownStore(rig.dir.filePath("own/Tarvo.conf"));
    Configuration ownModel{.ModemPort = 1, .JobType = DownloadAndUpload};
    if (!own.isEmpty()) {
        ownModel.DownloadList[0] = {"D", own};
        // The server's own upload where the test means the same settings.
        ownModel.UploadList[0] = {"U", own == servedPath("d") ? servedPath("u") : "C:\\in\\u.txt"};
    }
    QString error;
    QVERIFY(ownStore.SaveSettings(ownModel, error));
    const QString state = rig.dir.filePath("state");
    if (journalEntry) {
        UploadJournal journal(state);
        QCOMPARE(journal.acquire(error), FileLock::Result::Locked);
        QVERIFY2(
            journal.note({rig.dir.filePath("u"), rig.dir.filePath("u.BAK"), {}, {}, false}, error),
            qPrintable(error));
    }
    SettingsMove move(ownStore, state);
    move.setPathRules(PathStyle::Windows, drives);
    rig.tray.offerSettingsMove(move);
    bool windowSeen = false;
    rig.inWindow = [&, windowOk = windowOk](frmMain *window) {
        QVERIFY(window);
        windowSeen = true;
        window->setPathRules(PathStyle::Windows, drives);
        window->findChild<QPushButton *>(windowOk ? "cmdOK" : "cmdCancel")->click();
        if (window->isVisible()) // an OK refused: the test fails below, not here
            window->findChild<QPushButton *>("cmdCancel")->click();
    };
    rig.prompter.answers = answers;
    QVERIFY(rig.listen());
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.settle();
    QTest::qWait(100); // the offer runs after the first status
    rig.settle();

    QCOMPARE(rig.prompter.questions, asked ? QStringList(SettingsMove::question()) : QStringList());
    QCOMPARE(windowSeen, asked && answers.value(0));
    QTEST(rig.target.values.value("Dnld1/Open From"), "served");
    QCOMPARE(rig.pane().contains("Your own settings have been copied"), asked && windowOk);
    QCOMPARE(QFile::exists(move.markPath()), remembered);
    // Asked once: remembered answers are not asked again.
    QCOMPARE(move.due(), !remembered && !journalEntry);
}

QTEST_MAIN(TestSettingsMove)
#include "test_settingsmove.moc"
