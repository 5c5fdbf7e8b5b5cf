// The configuration: where the store lives, all 34 values travelling
// unchanged, odd stored numbers, the derived list counts, host paths taken
// apart with either separator; then the windows on a real INI store with the
// entry dialogs and message boxes scripted, and the About box's title line.
#include "EntryEditor.h"
#include "FakeLine.h"
#include "FileChooser.h"
#include "PathHelpers.h"
#include "SettingsStore.h"
#include "frmAbout.h"
#include "frmMain.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

namespace {
const QString NoDownloads = QStringLiteral("No download file has been defined. Please add files.");
const QString NoUploads = QStringLiteral("No upload file has been defined. Please add files.");

// Every Browse picks the same host file.
struct OneFileChooser final : FileChooser
{
    QString chosen;
    QString chooseOpenFile(QWidget *, const FileRequest &) override { return chosen; }
    QString chooseSaveFile(QWidget *, const FileRequest &) override { return chosen; }
};

// Every Add or Edit on the upload page is accepted as "H"; downloads are cancelled.
struct AcceptingEditor final : EntryEditor
{
    void editDownload(QWidget *, DownloadEditHandOver &) override {}
    void editUpload(QWidget *, UploadEditHandOver &h) override
    {
        h.UploadEditEntry.Name = QStringLiteral("H");
        h.UploadEditAccepted = true;
    }
};
} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_ini;
    Configuration m_model;
    Testing::ScriptedPrompter m_prompter;
    AcceptingEditor m_editor;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<frmMain> w;

    void store(const QString &key, const QString &value)
    {
        QSettings(m_ini, QSettings::IniFormat).setValue(key, value);
    }
    QString stored(const QString &key) const
    {
        return QSettings(m_ini, QSettings::IniFormat).value(key).toString();
    }
    // Names the first slots of a list "A", "B", ...
    void storeNames(const QString &prefix, int count)
    {
        for (int i = 0; i < count; ++i)
            store(prefix + QString::number(i + 1) + "/Name", QString(QChar('A' + i)));
    }
    void open()
    {
        w.reset();
        m_store = std::make_unique<SettingsStore>(m_ini);
        w = std::make_unique<frmMain>(m_model, *m_store, m_prompter, m_editor);
    }
    template <typename T = QWidget> T *ctl(const QString &name) { return w->findChild<T *>(name); }
    void click(const QString &name) { ctl<QPushButton>(name)->click(); }

private slots:
    void init()
    {
        m_ini = m_dir.filePath(QTest::currentTestFunction() + QString(QTest::currentDataTag()));
        m_model = {};
        m_prompter = {};
        SettingsAccepted = true; // opening must clear it
    }

    // Runs first: Qt fixes the per-user folder when the first QSettings is made.
    void platformStoreLivesUnderXdgConfigHome()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        Configuration m;
        m.DownloadList[0].OpenFrom = QStringLiteral("/data/inv.csv");
        SettingsStore().SaveSettings(m);
        const QSettings file(m_dir.filePath(QStringLiteral("Tarvo/Tarvo.conf")),
                             QSettings::IniFormat);
        QCOMPARE(file.value("Dnld1/Open From").toString(), QStringLiteral("/data/inv.csv"));
    }

    void roundTripKeepsAll34Values()
    {
        Configuration saved;
        saved.ModemPort = 3;
        saved.JobType = 1;
        for (int i = 0; i < MaxEntries; ++i) {
            saved.DownloadList[i] = {QString(" D%1 x ").arg(i), QString("/d %1").arg(i)};
            saved.UploadList[i] = {QString("U%1").arg(i), QString(" /u%1 ").arg(i)};
        }
        saved.DownloadList[4] = {}; // a gap with stale entries behind it
        SettingsStore(m_ini).SaveSettings(saved);
        Configuration loaded;
        SettingsStore(m_ini).LoadSettings(loaded);
        QVERIFY(loaded == saved);
        QCOMPARE(QSettings(m_ini, QSettings::IniFormat).allKeys().size(), 34);
    }

    void storedNumbers_data()
    {
        QTest::addColumn<QStringList>("stored"); // port, job; "-": key missing
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("job");
        QTest::newRow("missing") << QStringList{"-", "-"} << 1 << 2;
        QTest::newRow("plain, blanks") << QStringList{" 4 ", "0"} << 4 << 0;
        QTest::newRow("out of range kept") << QStringList{"7", "-1"} << 7 << -1;
        QTest::newRow("not numbers") << QStringList{"abc", "1.5"} << 1 << 2;
        QTest::newRow("beyond 16 bits") << QStringList{"99999", "-40000"} << 1 << 2;
    }

    void storedNumbers()
    {
        QFETCH(QStringList, stored);
        for (int i = 0; i < 2; ++i)
            if (stored[i] != "-")
                store(i ? "Settings/Job" : "Settings/Modem Port", stored[i]);
        Configuration m;
        m.DownloadList[0].Name = QStringLiteral("overwritten");
        SettingsStore(m_ini).LoadSettings(m);
        QTEST(int(m.ModemPort), "port");
        QTEST(int(m.JobType), "job");
        QVERIFY(m.DownloadList[0].Name.isEmpty());
    }

    void derivedCounts_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("count");
        QTest::newRow("gap ends the list") << QStringList{"A", "", "C"} << 1;
        QTest::newRow("blank name counts") << QStringList{" ", "B"} << 2;
        QTest::newRow("all eight") << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"} << 8;
    }

    void derivedCounts()
    {
        QFETCH(QStringList, names);
        Configuration m;
        for (int i = 0; i < names.size(); ++i)
            m.UploadList[i].Name = m.DownloadList[i].Name = names[i];
        m.deriveCounts();
        QTEST(int(m.DownloadCount), "count");
        QTEST(int(m.UploadCount), "count");
    }

    void pathParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QChar>("sep");
        QTest::addColumn<QStringList>("parts"); // directory, name, bare name, extension
        const QChar bs('\\');
        QTest::newRow("first dot") << "C:\\d\\report.old.txt" << bs
                                   << QStringList{"C:\\d", "report.old.txt", "report", "old.txt"};
        QTest::newRow("drive root")
            << "C:\\in.txt" << bs << QStringList{"C:", "in.txt", "in", "txt"};
        QTest::newRow("no separator") << "in.txt" << bs << QStringList{"", "in.txt", "in", "txt"};
        QTest::newRow("dot in folder")
            << "C:\\my.dir\\readme" << bs << QStringList{"C:\\my.dir", "readme", "readme", ""};
        QTest::newRow("slash") << "/home/ann/in.txt" << QChar('/')
                               << QStringList{"/home/ann", "in.txt", "in", "txt"};
    }

    void pathParts()
    {
        QFETCH(QString, path);
        QFETCH(QChar, sep);
        QTEST((QStringList{GetDirectory(path, sep), GetFileName(path, true, sep),
                           GetFileName(path, false, sep), GetExtension(path, sep)}),
              "parts");
    }

    void canOpenFile_data()
    {
        QTest::addColumn<QString>("path"); // "@" is the temporary folder
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("described"); // part of the failure text
        QTest::newRow("readable") << "@/host.txt" << true << "";
        QTest::newRow("missing") << "@/none.txt" << false << "No such file";
        QTest::newRow("empty path") << "" << false << "";
        QTest::newRow("folder") << "@" << false << "";
    }

    void canOpenFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, opens);
        QFETCH(QString, described);
        QFile(m_dir.filePath(QStringLiteral("host.txt"))).open(QIODevice::WriteOnly);
        Testing::ScriptedPrompter prompter;
        QCOMPARE(CanOpenFile(path.replace('@', m_dir.path()), prompter), opens);
        QCOMPARE(prompter.warnings.size(), opens ? 0 : 1);
        const QString shown = prompter.warnings.value(0);
        QVERIFY2(opens || (!shown.trimmed().isEmpty() && shown.contains(described)),
                 qPrintable(shown));
    }

    void proposedPortableName_data()
    {
        QTest::addColumn<QStringList>("row"); // chosen file, typed name, expected name
        QTest::newRow("long base") << QStringList{"/data/Inventories.csv", "", "Inventor.csv"};
        QTest::newRow("two dots") << QStringList{"/data/Orders.backup.txt", "", "Orders.bac"};
        QTest::newRow("no dot") << QStringList{"/data/README_FIRST", "", "README_F"};
        QTest::newRow("typed name kept")
            << QStringList{"/data/Inventories.csv", "VeryLongName.text", "VeryLongName.text"};
    }

    void proposedPortableName()
    {
        QFETCH(QStringList, row);
        DownloadEditHandOver handOver;
        OneFileChooser chooser;
        chooser.chosen = row[0];
        frmDnldEdit dialog(handOver, chooser, m_prompter);
        auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("txtName"));
        name->setText(row[1]);
        dialog.findChild<QPushButton *>(QStringLiteral("cmdBrowse"))->click();
        QCOMPARE(name->text(), row[2]);
    }

    // A port or job the drop-downs cannot show opens as the default, and OK
    // stores that valid value again.
    void badStoredNumbersAreRepairedByOk()
    {
        store("Settings/Modem Port", "7");
        store("Settings/Job", "-1");
        storeNames("Dnld", 1);
        storeNames("File", 1);
        open();
        QVERIFY(!SettingsAccepted);
        QCOMPARE(ctl<QComboBox>("cboModemPort")->currentIndex(), 0);
        QCOMPARE(ctl<QComboBox>("cboResponsibility")->currentIndex(), int(DownloadAndUpload));
        click("cmdOK");
        QVERIFY(SettingsAccepted);
        QCOMPARE(stored("Settings/Modem Port"), QStringLiteral("1"));
        QCOMPARE(stored("Settings/Job"), QStringLiteral("2"));
    }

    void removeFirstOfThreeShiftsSlotsAndClearsTheLast()
    {
        storeNames("Dnld", 3);
        open();
        ctl<QListWidget>("ListDnlds")->setCurrentRow(0);
        m_prompter.answers = {true};
        click("cmdRmvDnldFile");
        QCOMPARE(m_prompter.questions, QStringList{"Remove A from list?"});
        QCOMPARE(int(m_model.DownloadCount), 2);
        QCOMPARE(ctl<QListWidget>("ListDnlds")->item(0)->text(), QStringLiteral("B"));
        const QStringList left{"B", "C", ""};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(m_model.DownloadList[i].Name, left[i]);
    }

    void addDisabledAtEightAndEnabledAfterRemove()
    {
        storeNames("File", 7);
        open();
        QVERIFY(ctl("cmdAddUpldFile")->isEnabled());
        click("cmdAddUpldFile");
        QCOMPARE(int(m_model.UploadCount), 8);
        QCOMPARE(m_model.UploadList[7].Name, QStringLiteral("H"));
        QVERIFY(!ctl("cmdAddUpldFile")->isEnabled());
        ctl<QListWidget>("ListUplds")->setCurrentRow(1);
        m_prompter.answers = {true};
        click("cmdRmvUpldFile");
        QVERIFY(ctl("cmdAddUpldFile")->isEnabled());
    }

    // A refused OK keeps the new job in memory but stores nothing; the port
    // is taken only once the lists pass.
    void okChecksTheListsTheJobNeeds_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<int>("uploads");
        QTest::addColumn<QString>("message"); // empty: OK goes through
        QTest::addColumn<int>("tab");
        QTest::newRow("both, none") << 2 << 0 << 0 << NoDownloads << 1;
        QTest::newRow("both, no uploads") << 2 << 1 << 0 << NoUploads << 2;
        QTest::newRow("both, both") << 2 << 1 << 1 << "" << 0;
        QTest::newRow("upload only, no downloads") << 1 << 0 << 1 << "" << 0;
        QTest::newRow("download only, none") << 0 << 0 << 2 << NoDownloads << 1;
    }

    void okChecksTheListsTheJobNeeds()
    {
        QFETCH(int, job);
        QFETCH(int, downloads);
        QFETCH(int, uploads);
        QFETCH(QString, message);
        storeNames("Dnld", downloads);
        storeNames("File", uploads);
        store("Settings/Job", "2");
        open();
        ctl<QComboBox>("cboModemPort")->setCurrentIndex(2);
        ctl<QComboBox>("cboResponsibility")->setCurrentIndex(job);
        click("cmdOK");
        QCOMPARE(int(m_model.JobType), job);
        QTEST(ctl<QTabWidget>("TabStrip1")->currentIndex(), "tab");
        QCOMPARE(m_prompter.informs, message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(SettingsAccepted, message.isEmpty());
        QCOMPARE(int(m_model.ModemPort), message.isEmpty() ? 3 : 1);
        QCOMPARE(stored("Settings/Job"), message.isEmpty() ? QString::number(job) : "2");
    }

    void aboutTitleLine()
    {
        frmAbout about;
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("lblTitle"))->text(),
                 QStringLiteral("Tarvo Version 2.1.0"));
    }
};

QTEST_MAIN(TestConfig)
#include "test_config.moc"
