// Paths given to a server that runs without anybody logged in: how one path
// is judged (mapped drive letters, relative forms, the network path put in
// its place), and what the configuration window does with them at OK.
#include "Columns.h"
#include "EntryEditor.h"
#include "Prompter.h"
#include "ServicePaths.h"
#include "SettingsAccess.h"
#include "frmMain.h"

#include <QtTest>
#include <QtWidgets>

using namespace Tarvo;
using namespace Tarvo::Testing;
using Verdict = ServicePath::Verdict;

namespace {
// S: and T: are mapped with their shares known; U: is mapped, its share not.
const DriveShares Drives{{QChar('S'), QStringLiteral("\\\\srv\\share")},
                         {QChar('T'), QStringLiteral("\\\\nas\\data\\")},
                         {QChar('U'), QString()}};

struct RecordingPrompter final : Prompter
{
    bool askYesNo(const QString &question) override
    {
        questions += question;
        return answers.isEmpty() || answers.takeFirst();
    }
    void inform(const QString &text) override { informs += text; }
    void warn(const QString &text) override { warnings += text; }
    void beep() override {}

    QList<bool> answers;
    QStringList questions, informs, warnings;
};

struct NoEditor final : EntryEditor
{
    void editDownload(QWidget *, DownloadEditHandOver &) override {}
    void editUpload(QWidget *, UploadEditHandOver &) override {}
};

// Settings in memory: what the window loads, and what it saved, if it did.
struct MemorySettings final : SettingsAccess
{
    void LoadSettings(Configuration &model) override { model = stored; }
    bool SaveSettings(const Configuration &model, QString &) override
    {
        saved = model;
        ++saves;
        return true;
    }
    QString portDevice(int) const override { return QStringLiteral("COM"); }
    QString location() const override { return QStringLiteral("memory"); }
    bool readByService() const override { return service; }

    Configuration stored{.ModemPort = 1, .JobType = DownloadAndUpload};
    Configuration saved;
    int saves = 0;
    bool service = true;
};
} // namespace

class TestServicePaths : public QObject
{
    Q_OBJECT
private slots:
    void judge_data();
    void judge();
    void networkPathsPutInPlace();
    void windowAtOk_data();
    void windowAtOk();
};

void TestServicePaths::judge_data()
{
    const auto row = columns<QString, bool, Verdict, QString>("path", "windows", "verdict", "unc");
    const QString none;
    row("local drive", "C:\\data\\a.txt", true, Verdict::Fine, none);
    row("mapped letter in lower case", "s:\\orders\\a.txt", true, Verdict::MappedDrive,
        "\\\\srv\\share\\orders\\a.txt");
    row("mapped, forward slashes", "S:/orders/a.txt", true, Verdict::MappedDrive,
        "\\\\srv\\share\\orders\\a.txt");
    row("share given with a separator", "T:\\x.txt", true, Verdict::MappedDrive,
        "\\\\nas\\data\\x.txt");
    row("root of a mapped drive", "S:\\", true, Verdict::MappedDrive, "\\\\srv\\share\\");
    row("share not known", "U:\\x.txt", true, Verdict::MappedDrive, none);
    row("long form of a mapped drive", "\\\\?\\S:\\x.txt", true, Verdict::MappedDrive,
        "\\\\srv\\share\\x.txt");
    row("long form of a local drive", "\\\\?\\C:\\x.txt", true, Verdict::Fine, none);
    row("UNC path", "\\\\srv\\share\\x.txt", true, Verdict::Fine, none);
    row("UNC path, forward slashes", "//srv/share/x.txt", true, Verdict::Fine, none);
    row("long form of a UNC path", "\\\\?\\UNC\\srv\\share\\x.txt", true, Verdict::Fine, none);
    row("bare name", "orders.txt", true, Verdict::Relative, none);
    row("up a folder", "..\\orders.txt", true, Verdict::Relative, none);
    row("root of the current drive", "\\orders\\a.txt", true, Verdict::Relative, none);
    row("current folder of a drive", "C:orders.txt", true, Verdict::Relative, none);
    row("current folder of a mapped drive", "S:orders.txt", true, Verdict::Relative, none);
    row("drive alone", "S:", true, Verdict::Relative, none);
    row("not a drive letter", QString::fromUtf8("\xc3\x84:\\x.txt"), true, Verdict::Relative, none);
    row("empty", "", true, Verdict::Fine, none);
    row("unix absolute", "/srv/orders.txt", false, Verdict::Fine, none);
    row("unix relative", "srv/orders.txt", false, Verdict::Relative, none);
    row("unix dot", "./orders.txt", false, Verdict::Relative, none);
    row("unix home is the shell's", "~/orders.txt", false, Verdict::Relative, none);
    row("a drive means nothing on unix", "S:\\x.txt", false, Verdict::Relative, none);
}

void TestServicePaths::judge()
{
    auto [path, windows] = fetch<QString, bool>("path", "windows");
    const ServicePath judged =
        judgeServicePath(path, Drives, windows ? PathStyle::Windows : PathStyle::Unix);
    QTEST(judged.verdict, "verdict");
    QTEST(judged.unc, "unc");
}

// Only the entries in use change, each to its own network path, and the
// counts and names stay.
void TestServicePaths::networkPathsPutInPlace()
{
    Configuration model;
    model.DownloadList[0] = {"A", "S:\\out\\a.txt"};
    model.DownloadList[1] = {"B", "C:\\out\\b.txt"};
    model.DownloadList[2] = {"C", "S:\\out\\c.txt"}; // not in use
    model.UploadList[0] = {"D", "U:\\in\\d.txt"};    // share unknown: kept
    model.UploadList[1] = {"E", "t:\\in\\e.txt"};
    model.DownloadCount = 2;
    model.UploadCount = 2;
    QCOMPARE(entryPaths(model),
             QStringList({"S:\\out\\a.txt", "C:\\out\\b.txt", "U:\\in\\d.txt", "t:\\in\\e.txt"}));
    QCOMPARE(useNetworkPaths(model, Drives, PathStyle::Windows), 2);
    QCOMPARE(entryPaths(model), QStringList({"\\\\srv\\share\\out\\a.txt", "C:\\out\\b.txt",
                                             "U:\\in\\d.txt", "\\\\nas\\data\\in\\e.txt"}));
    QCOMPARE(model.DownloadList[2].OpenFrom, QStringLiteral("S:\\out\\c.txt"));
    QCOMPARE(model.DownloadList[0].Name, QStringLiteral("A"));
    QCOMPARE(int(model.DownloadCount), 2);
}

void TestServicePaths::windowAtOk_data()
{
    // saved: the paths the save got, empty when the window refused the OK;
    // asked/warned/informed: what the window said, by a part of its text
    const auto row =
        columns<bool, QString, QString, QList<bool>, QStringList, QString, QString, QString>(
            "service", "download", "upload", "answers", "saved", "asked", "warned", "informed");
    const QString none;
    const QList<bool> noAnswer;
    row("reachable paths", true, "C:\\d.txt", "\\\\srv\\share\\u.txt", noAnswer,
        QStringList{"C:\\d.txt", "\\\\srv\\share\\u.txt"}, none, none, none);
    row("mapped, network path taken", true, "S:\\d.txt", "C:\\u.txt", QList<bool>{true},
        QStringList{"\\\\srv\\share\\d.txt", "C:\\u.txt"}, "S:\\d.txt -> \\\\srv\\share\\d.txt",
        none, none);
    row("mapped, kept as typed", true, "S:\\d.txt", "T:\\u.txt", QList<bool>{false},
        QStringList{"S:\\d.txt", "T:\\u.txt"}, "T:\\u.txt -> \\\\nas\\data\\u.txt", none, none);
    row("mapped, share not known", true, "U:\\d.txt", "C:\\u.txt", noAnswer,
        QStringList{"U:\\d.txt", "C:\\u.txt"}, none, none, "U:\\d.txt");
    row("relative refused", true, "C:\\d.txt", "u.txt", noAnswer, QStringList{}, none, "UP: u.txt",
        none);
    row("relative refused before the mapped are offered", true, "S:\\d.txt", "\\u.txt", noAnswer,
        QStringList{}, none, "UP: \\u.txt", none);
    row("the user's own settings as typed", false, "S:\\d.txt", "u.txt", noAnswer,
        QStringList{"S:\\d.txt", "u.txt"}, none, none, none);
}

void TestServicePaths::windowAtOk()
{
    auto [service, download, upload, answers, saved, asked, warned, informed] =
        fetch<bool, QString, QString, QList<bool>, QStringList, QString, QString, QString>(
            "service", "download", "upload", "answers", "saved", "asked", "warned", "informed");
    MemorySettings settings;
    settings.service = service;
    settings.stored.DownloadList[0] = {"DOWN", download};
    settings.stored.UploadList[0] = {"UP", upload};
    RecordingPrompter prompter;
    prompter.answers = answers;
    NoEditor editor;
    Configuration model;
    frmMain window(model, settings, prompter, editor);
    window.setPathRules(PathStyle::Windows, [](const QStringList &) { return Drives; });
    window.show();
    window.findChild<QPushButton *>("cmdOK")->click();

    const auto said = [](const QStringList &texts, const QString &part) {
        return part.isEmpty() ? texts.isEmpty() : texts.size() == 1 && texts[0].contains(part);
    };
    QVERIFY2(said(prompter.questions, asked), qPrintable(prompter.questions.join('|')));
    QVERIFY2(said(prompter.warnings, warned), qPrintable(prompter.warnings.join('|')));
    QVERIFY2(said(prompter.informs, informed), qPrintable(prompter.informs.join('|')));
    QCOMPARE(window.isVisible(), saved.isEmpty());
    QCOMPARE(SettingsAccepted, !saved.isEmpty());
    QCOMPARE(settings.saves, saved.isEmpty() ? 0 : 1);
    if (!saved.isEmpty())
        QCOMPARE(entryPaths(settings.saved), saved);
}

QTEST_MAIN(TestServicePaths)
#include "test_servicepaths.moc"
