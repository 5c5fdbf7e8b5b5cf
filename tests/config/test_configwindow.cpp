// The configuration window on a real INI store, with the entry dialogs and
// the message boxes scripted: opening with odd stored values, the list
// buttons on both twin pages, the OK checks and what reaches the store, and
// Ctrl+Tab.
#include "EntryEditor.h"
#include "FakeLine.h"
#include "SettingsStore.h"
#include "frmMain.h"

#include <QComboBox>
#include <QLabel>
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

// Accepts every dialog with the next scripted name (path "/h/<name>"); an
// empty name cancels. Both pages share the script.
class ScriptedEditor final : public EntryEditor
{
public:
    void editDownload(QWidget *, DownloadEditHandOver &h) override
    {
        shown += h.DownloadEditEntry.Name;
        h.DownloadEditAccepted = next(h.DownloadEditEntry.Name, h.DownloadEditEntry.OpenFrom);
    }
    void editUpload(QWidget *, UploadEditHandOver &h) override
    {
        shown += h.UploadEditEntry.Name;
        h.UploadEditAccepted = next(h.UploadEditEntry.Name, h.UploadEditEntry.SaveAs);
    }
    QStringList names; // script
    QStringList shown; // the names the window handed in

private:
    bool next(QString &name, QString &path)
    {
        const QString answer = names.isEmpty() ? QString() : names.takeFirst();
        if (!answer.isEmpty()) {
            name = answer;
            path = "/h/" + answer;
        }
        return !answer.isEmpty();
    }
};
} // namespace

class TestConfigWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_ini;
    Configuration m_model;
    Testing::ScriptedPrompter m_prompter;
    ScriptedEditor m_editor;
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
    void storeNames(const QString &prefix, const QStringList &names)
    {
        for (int i = 0; i < names.size(); ++i)
            store(prefix + QString::number(i + 1) + "/Name", names[i]);
    }
    void open()
    {
        w.reset();
        m_store = std::make_unique<SettingsStore>(m_ini);
        w = std::make_unique<frmMain>(m_model, *m_store, m_prompter, m_editor);
    }
    template <typename T = QWidget> T *ctl(const QString &name) { return w->findChild<T *>(name); }
    QStringList rows(const QString &list)
    {
        QStringList texts;
        for (int i = 0; i < ctl<QListWidget>(list)->count(); ++i)
            texts += ctl<QListWidget>(list)->item(i)->text();
        return texts;
    }
    void click(const QString &name) { ctl<QPushButton>(name)->click(); }
    int tab() { return ctl<QTabWidget>("TabStrip1")->currentIndex(); }

private slots:
    void init()
    {
        m_ini = m_dir.filePath(QTest::currentTestFunction() + QString(QTest::currentDataTag()));
        m_model = {};
        m_prompter = {};
        m_editor = {};
        SettingsAccepted = true; // opening must clear it
    }

    void badStoredValuesOpenAsDefaults_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<int>("jobIndex");
        QTest::newRow("valid") << "3"
                               << "1" << 2 << 1;
        QTest::newRow("port 7, job -1") << "7"
                                        << "-1" << 0 << 2;
        QTest::newRow("abc, 99999") << "abc"
                                    << "99999" << 0 << 2;
    }

    void badStoredValuesOpenAsDefaults()
    {
        QFETCH(QString, port);
        QFETCH(QString, job);
        QFETCH(int, portIndex);
        QFETCH(int, jobIndex);
        store("Settings/Modem Port", port);
        store("Settings/Job", job);
        storeNames("Dnld", {"A"});
        storeNames("File", {"B"});
        open();
        QCOMPARE(ctl<QComboBox>("cboModemPort")->currentIndex(), portIndex);
        QCOMPARE(ctl<QComboBox>("cboResponsibility")->currentIndex(), jobIndex);
        QVERIFY(!SettingsAccepted);
        click("cmdOK");
        QVERIFY(SettingsAccepted);
        QCOMPARE(stored("Settings/Modem Port"), QString::number(portIndex + 1));
        QCOMPARE(stored("Settings/Job"), QString::number(jobIndex));
    }

    // Remove on either page: the slots behind move up, the last is cleared.
    void remove_data()
    {
        QTest::addColumn<QString>("page"); // "Dnld" or "Upld"
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("download first") << "Dnld" << 0 << QStringList{"B", "C"};
        QTest::newRow("download last") << "Dnld" << 2 << QStringList{"A", "B"};
        QTest::newRow("upload first") << "Upld" << 0 << QStringList{"B", "C"};
    }

    void remove()
    {
        QFETCH(QString, page);
        QFETCH(int, row);
        QFETCH(QStringList, left);
        const bool down = page == "Dnld";
        storeNames(down ? "Dnld" : "File", {"A", "B", "C"});
        open();
        ctl<QListWidget>("List" + page + "s")->setCurrentRow(row);
        m_prompter.answers = {true};
        click("cmdRmv" + page + "File");

        QCOMPARE(m_prompter.questions,
                 QStringList{"Remove " + QString(QChar('A' + row)) + " from list?"});
        QCOMPARE(rows("List" + page + "s"), left);
        QCOMPARE(int(down ? m_model.DownloadCount : m_model.UploadCount), 2);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(down ? m_model.DownloadList[i].Name : m_model.UploadList[i].Name,
                     left.value(i));
        QVERIFY(!ctl("cmdEdit" + page + "File")->isEnabled());
        QVERIFY(ctl(down ? "lblOpenPath" : "lblSavePath")->isHidden());
    }

    void addDisabledAtEightAndEditKeepsSelection()
    {
        storeNames("File", {"A", "B", "C", "D", "E", "F", "G"});
        open();
        m_editor.names = {"", "H", "B2"}; // cancel, then accept twice
        click("cmdAddUpldFile");
        QCOMPARE(int(m_model.UploadCount), 7);
        click("cmdAddUpldFile");
        QCOMPARE(m_editor.shown, (QStringList{"", ""})); // Add hands in an empty entry
        QCOMPARE(int(m_model.UploadCount), 8);
        QCOMPARE(m_model.UploadList[7].SaveAs, QStringLiteral("/h/H"));
        QVERIFY(!ctl("cmdAddUpldFile")->isEnabled());

        ctl<QListWidget>("ListUplds")->setCurrentRow(1);
        click("cmdEditUpldFile");
        QCOMPARE(m_editor.shown.last(), QStringLiteral("B"));
        QCOMPARE(rows("ListUplds").at(1), QStringLiteral("B2"));
        QCOMPARE(ctl<QLabel>("lblSavePath")->text(), QStringLiteral("/h/B2"));
        QVERIFY(ctl("cmdRmvUpldFile")->isEnabled());

        m_prompter.answers = {true};
        click("cmdRmvUpldFile");
        QVERIFY(ctl("cmdAddUpldFile")->isEnabled());
    }

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
        storeNames("Dnld", QStringList{"A", "B"}.mid(0, downloads));
        storeNames("File", QStringList{"A", "B"}.mid(0, uploads));
        store("Settings/Job", "2");
        open();
        ctl<QComboBox>("cboModemPort")->setCurrentIndex(2);
        ctl<QComboBox>("cboResponsibility")->setCurrentIndex(job);
        click("cmdOK");

        QCOMPARE(int(m_model.JobType), job); // taken before the check, either way
        QTEST(tab(), "tab");
        QCOMPARE(m_prompter.informs, message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(SettingsAccepted, message.isEmpty());
        QCOMPARE(int(m_model.ModemPort), message.isEmpty() ? 3 : 1);
        QCOMPARE(stored("Settings/Job"), message.isEmpty() ? QString::number(job) : "2");
    }

    void refusedOkThenCancelLeavesJobInMemoryOnly()
    {
        store("Settings/Job", "2");
        open();
        ctl<QComboBox>("cboResponsibility")->setCurrentIndex(DownloadOnly);
        click("cmdOK");
        click("cmdCancel");
        QVERIFY(!SettingsAccepted);
        QCOMPARE(int(m_model.JobType), int(DownloadOnly));
        QCOMPARE(stored("Settings/Job"), QStringLiteral("2"));
        open();
        QCOMPARE(ctl<QComboBox>("cboResponsibility")->currentIndex(), 2);
    }

    void ctrlTabCyclesPages_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("expected");
        const int ctrl = Qt::ControlModifier;
        QTest::newRow("General to Download")
            << 0 << "cboModemPort" << int(Qt::Key_Tab) << ctrl << 1;
        QTest::newRow("Upload wraps") << 2 << "ListUplds" << int(Qt::Key_Tab) << ctrl << 0;
        QTest::newRow("on the tab strip, once")
            << 0 << "TabStrip1" << int(Qt::Key_Tab) << ctrl << 1;
        QTest::newRow("Ctrl+Shift+Tab ignored")
            << 1 << "ListDnlds" << int(Qt::Key_Backtab) << int(ctrl | Qt::ShiftModifier) << 1;
    }

    void ctrlTabCyclesPages()
    {
        QFETCH(int, start);
        QFETCH(QString, target);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        ctl<QTabWidget>("TabStrip1")->setCurrentIndex(start);
        QTest::keyClick(ctl(target), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTEST(tab(), "expected");
    }
};

QTEST_MAIN(TestConfigWindow)
#include "test_configwindow.moc"
