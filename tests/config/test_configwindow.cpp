// The configuration window on a real INI store, with the entry dialogs and
// the message boxes scripted: opening, the list buttons on both twin pages,
// the OK checks and what reaches the store, Cancel, and Ctrl+Tab.
#include "EntryEditor.h"
#include "FakeLine.h"
#include "SettingsStore.h"
#include "frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

using namespace Tarvo;
using Testing::ScriptedPrompter;

namespace {
const QString NoDownloads = QStringLiteral("No download file has been defined. Please add files.");
const QString NoUploads = QStringLiteral("No upload file has been defined. Please add files.");

// Answers each entry dialog from a script: an entry accepts it, nullopt
// cancels. Records the entries the window handed in.
class ScriptedEditor final : public EntryEditor
{
public:
    void editDownload(QWidget *, DownloadEditHandOver &handOver) override
    {
        downloadsShown += handOver.DownloadEditEntry;
        handOver.DownloadEditAccepted = false;
        const std::optional<DownloadEntry> next = take(downloads);
        if (next) {
            handOver.DownloadEditEntry = *next;
            handOver.DownloadEditAccepted = true;
        }
    }
    void editUpload(QWidget *, UploadEditHandOver &handOver) override
    {
        uploadsShown += handOver.UploadEditEntry;
        handOver.UploadEditAccepted = false;
        const std::optional<UploadEntry> next = take(uploads);
        if (next) {
            handOver.UploadEditEntry = *next;
            handOver.UploadEditAccepted = true;
        }
    }

    QList<std::optional<DownloadEntry>> downloads;
    QList<std::optional<UploadEntry>> uploads;
    QList<DownloadEntry> downloadsShown;
    QList<UploadEntry> uploadsShown;

private:
    template <typename T> static std::optional<T> take(QList<std::optional<T>> &list)
    {
        return list.isEmpty() ? std::nullopt : list.takeFirst();
    }
};

// Which of the twin list pages a data row exercises, with its names.
struct Page
{
    bool download;
    const char *prefix() const { return download ? "Dnld" : "File"; }
    const char *pathKey() const { return download ? "Open From" : "Save As"; }
    QString list() const { return download ? "ListDnlds" : "ListUplds"; }
    QString add() const { return download ? "cmdAddDnldFile" : "cmdAddUpldFile"; }
    QString edit() const { return download ? "cmdEditDnldFile" : "cmdEditUpldFile"; }
    QString remove() const { return download ? "cmdRmvDnldFile" : "cmdRmvUpldFile"; }
    QString caption() const { return download ? "lblOpenFrom" : "lblSaveAs"; }
    QString path() const { return download ? "lblOpenPath" : "lblSavePath"; }
    int tab() const { return download ? frmMain::DownloadTab : frmMain::UploadTab; }

    // Name and path of a slot of the model, whichever table it is.
    QStringList slot(const Configuration &m, int i) const
    {
        return download ? QStringList{m.DownloadList[i].Name, m.DownloadList[i].OpenFrom}
                        : QStringList{m.UploadList[i].Name, m.UploadList[i].SaveAs};
    }
    int count(const Configuration &m) const { return download ? m.DownloadCount : m.UploadCount; }
};

QString section(const char *prefix, int slot)
{
    return QLatin1String(prefix) + QString::number(slot + 1);
}
} // namespace

class TestConfigWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_ini;
    Configuration m_model;
    ScriptedPrompter m_prompter;
    ScriptedEditor m_editor;
    std::unique_ptr<SettingsStore> m_store;

    void writeStore(const QString &key, const QString &value)
    {
        QSettings raw(m_ini, QSettings::IniFormat);
        raw.setValue(key, value);
    }
    QString stored(const QString &key) const
    {
        return QSettings(m_ini, QSettings::IniFormat).value(key).toString();
    }
    // Entries "<letter>" with path "/host/<letter>.txt" in the first slots.
    void storeEntries(const Page &page, const QStringList &names)
    {
        QSettings raw(m_ini, QSettings::IniFormat);
        for (int i = 0; i < names.size(); ++i) {
            raw.setValue(section(page.prefix(), i) + "/Name", names[i]);
            raw.setValue(section(page.prefix(), i) + "/" + page.pathKey(),
                         names[i].isEmpty() ? QString() : "/host/" + names[i] + ".txt");
        }
    }
    std::unique_ptr<frmMain> open()
    {
        m_store = std::make_unique<SettingsStore>(m_ini);
        return std::make_unique<frmMain>(m_model, *m_store, m_prompter, m_editor);
    }
    template <typename T> static T *control(frmMain &w, const QString &name)
    {
        T *found = w.findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    static QStringList rows(frmMain &w, const Page &page)
    {
        QStringList texts;
        auto *list = control<QListWidget>(w, page.list());
        for (int i = 0; i < list->count(); ++i)
            texts += list->item(i)->text();
        return texts;
    }
    static void selectRow(frmMain &w, const Page &page, int row)
    {
        control<QListWidget>(w, page.list())->setCurrentRow(row);
    }
    static void click(frmMain &w, const QString &name) { control<QPushButton>(w, name)->click(); }
    // The control states a list page must show with no row selected.
    static void verifyNoSelection(frmMain &w, const Page &page)
    {
        QVERIFY(control<QListWidget>(w, page.list())->selectedItems().isEmpty());
        QVERIFY(!control<QPushButton>(w, page.edit())->isEnabled());
        QVERIFY(!control<QPushButton>(w, page.remove())->isEnabled());
        QVERIFY(control<QLabel>(w, page.caption())->isHidden());
        QVERIFY(control<QLabel>(w, page.path())->isHidden());
    }
    static void addPageRows(const char *what)
    {
        QTest::newRow(qPrintable(QStringLiteral("download %1").arg(what))) << true;
        QTest::newRow(qPrintable(QStringLiteral("upload %1").arg(what))) << false;
    }

private slots:
    void init()
    {
        m_ini = m_dir.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()) +
                               QTest::currentDataTag());
        QFile::remove(m_ini);
        m_model = Configuration{};
        m_prompter = ScriptedPrompter{};
        m_editor = ScriptedEditor{};
        SettingsAccepted = true; // the window must clear it when it opens
    }

    void opensWithStoredState_data()
    {
        QTest::addColumn<QString>("port"); // empty: key missing
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("portIndex");
        QTest::addColumn<int>("jobIndex");
        QTest::addColumn<int>("modelPort"); // as loaded, before any OK
        QTest::addColumn<int>("modelJob");

        QTest::newRow("empty store") << ""
                                     << "" << 0 << 2 << 1 << 2;
        QTest::newRow("Com3, download only") << "3"
                                             << "0" << 2 << 0 << 3 << 0;
        QTest::newRow("Com4, upload only") << "4"
                                           << "1" << 3 << 1 << 4 << 1;
        QTest::newRow("port 7, job -1") << "7"
                                        << "-1" << 0 << 2 << 7 << -1;
        QTest::newRow("port 0, job 3") << "0"
                                       << "3" << 0 << 2 << 0 << 3;
        QTest::newRow("not numbers") << "abc"
                                     << "99999" << 0 << 2 << 1 << 2;
    }

    void opensWithStoredState()
    {
        QFETCH(QString, port);
        QFETCH(QString, job);
        QFETCH(int, portIndex);
        QFETCH(int, jobIndex);
        QFETCH(int, modelPort);
        QFETCH(int, modelJob);
        if (!port.isEmpty())
            writeStore("Settings/Modem Port", port);
        if (!job.isEmpty())
            writeStore("Settings/Job", job);
        storeEntries(Page{true}, {"A"});
        storeEntries(Page{false}, {"B"});

        auto w = open();
        QCOMPARE(w->windowTitle(), QStringLiteral("Tarvo Configuration"));
        QCOMPARE(control<QComboBox>(*w, "cboModemPort")->currentIndex(), portIndex);
        QCOMPARE(control<QComboBox>(*w, "cboResponsibility")->currentIndex(), jobIndex);
        QCOMPARE(int(m_model.ModemPort), modelPort);
        QCOMPARE(int(m_model.JobType), modelJob);
        QCOMPARE(control<QTabWidget>(*w, "TabStrip1")->currentIndex(), frmMain::GeneralTab);
        QVERIFY(!SettingsAccepted);
        for (const Page page : {Page{true}, Page{false}}) {
            verifyNoSelection(*w, page);
            QVERIFY(control<QPushButton>(*w, page.add())->isEnabled());
        }

        // Whatever was stored, OK writes what the lists show.
        click(*w, "cmdOK");
        QVERIFY(SettingsAccepted);
        QCOMPARE(stored("Settings/Modem Port"), QString::number(portIndex + 1));
        QCOMPARE(stored("Settings/Job"), QString::number(jobIndex));
    }

    void portDeviceShown()
    {
        writeStore("Ports/COM2", "/dev/ttyUSB7");
        auto w = open();
        auto *device = control<QLabel>(*w, "lblPortDevice");
        auto *port = control<QComboBox>(*w, "cboModemPort");
        QCOMPARE(device->text(), SettingsStore::defaultPortDevice(1));
        port->setCurrentIndex(1);
        QCOMPARE(device->text(), QStringLiteral("/dev/ttyUSB7"));
        QVERIFY(port->toolTip().contains(QLatin1String("/dev/ttyUSB7")));
    }

    void countsStopAtFirstEmptyName_data()
    {
        QTest::addColumn<bool>("download");
        addPageRows("gap");
    }

    void countsStopAtFirstEmptyName()
    {
        QFETCH(bool, download);
        const Page page{download};
        storeEntries(page, {"A", "", "C"});
        writeStore("Settings/Job", download ? "0" : "1");
        auto w = open();
        QCOMPARE(rows(*w, page), QStringList{"A"});
        QCOMPARE(page.count(m_model), 1);

        // An Add fills the gap; the entry behind it was kept all along.
        if (download)
            m_editor.downloads = {DownloadEntry{"B", "/host/B.txt"}};
        else
            m_editor.uploads = {UploadEntry{"B", "/host/B.txt"}};
        click(*w, page.add());
        click(*w, "cmdOK");
        QVERIFY(SettingsAccepted);
        QCOMPARE(stored(section(page.prefix(), 2) + "/Name"), QStringLiteral("C"));

        auto reopened = open();
        QCOMPARE(rows(*reopened, page), (QStringList{"A", "B", "C"}));
        QCOMPARE(page.count(m_model), 3);
    }

    void selectingRowShowsPath_data()
    {
        QTest::addColumn<bool>("download");
        addPageRows("select");
    }

    void selectingRowShowsPath()
    {
        QFETCH(bool, download);
        const Page page{download};
        storeEntries(page, {"A", "B"});
        auto w = open();
        selectRow(*w, page, 1);
        QCOMPARE(control<QLabel>(*w, page.path())->text(), QStringLiteral("/host/B.txt"));
        QVERIFY(!control<QLabel>(*w, page.path())->isHidden());
        QVERIFY(!control<QLabel>(*w, page.caption())->isHidden());
        QVERIFY(control<QPushButton>(*w, page.edit())->isEnabled());
        QVERIFY(control<QPushButton>(*w, page.remove())->isEnabled());
    }

    void remove_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("left");

        for (const bool download : {true, false}) {
            const char *side = download ? "download" : "upload";
            QTest::addRow("%s first", side) << download << 0 << QStringList{"B", "C"};
            QTest::addRow("%s middle", side) << download << 1 << QStringList{"A", "C"};
            QTest::addRow("%s last", side) << download << 2 << QStringList{"A", "B"};
        }
    }

    void remove()
    {
        QFETCH(bool, download);
        QFETCH(int, row);
        QFETCH(QStringList, left);
        const Page page{download};
        storeEntries(page, {"A", "B", "C"});
        auto w = open();
        selectRow(*w, page, row);
        m_prompter.answers = {true};
        click(*w, page.remove());

        const QString name = QStringList{"A", "B", "C"}.at(row);
        QCOMPARE(m_prompter.questions, QStringList{"Remove " + name + " from list?"});
        QCOMPARE(rows(*w, page), left);
        QCOMPARE(page.count(m_model), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(page.slot(m_model, i), (QStringList{left[i], "/host/" + left[i] + ".txt"}));
        QCOMPARE(page.slot(m_model, 2), (QStringList{QString(), QString()}));
        verifyNoSelection(*w, page);
        QCOMPARE(stored(section(page.prefix(), 2) + "/Name"), QStringLiteral("C")); // not saved yet
    }

    void removeAnsweredNo_data()
    {
        QTest::addColumn<bool>("download");
        addPageRows("no");
    }

    void removeAnsweredNo()
    {
        QFETCH(bool, download);
        const Page page{download};
        storeEntries(page, {"A", "B"});
        auto w = open();
        const Configuration before = m_model;
        selectRow(*w, page, 0);
        m_prompter.answers = {false};
        click(*w, page.remove());
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY(m_model == before);
        QCOMPARE(rows(*w, page), (QStringList{"A", "B"}));
        QCOMPARE(control<QListWidget>(*w, page.list())->currentRow(), 0);
        QVERIFY(control<QPushButton>(*w, page.remove())->isEnabled());
    }

    void addDisabledAtEight_data()
    {
        QTest::addColumn<bool>("download");
        addPageRows("eight");
    }

    void addDisabledAtEight()
    {
        QFETCH(bool, download);
        const Page page{download};
        storeEntries(page, {"A", "B", "C", "D", "E", "F", "G"});
        auto w = open();
        auto *add = control<QPushButton>(*w, page.add());
        QVERIFY(add->isEnabled());

        // A cancelled dialog changes nothing; the next Add gets an empty entry.
        if (download)
            m_editor.downloads = {std::nullopt, DownloadEntry{"H", "/host/H.txt"}};
        else
            m_editor.uploads = {std::nullopt, UploadEntry{"H", "/host/H.txt"}};
        click(*w, page.add());
        QCOMPARE(page.count(m_model), 7);
        click(*w, page.add());
        QCOMPARE(page.count(m_model), 8);
        QCOMPARE(rows(*w, page).last(), QStringLiteral("H"));
        QCOMPARE(page.slot(m_model, 7), (QStringList{"H", "/host/H.txt"}));
        QVERIFY(!add->isEnabled());
        verifyNoSelection(*w, page);
        if (download)
            QVERIFY(m_editor.downloadsShown.last() == DownloadEntry{});
        else
            QVERIFY(m_editor.uploadsShown.last() == UploadEntry{});

        selectRow(*w, page, 3);
        m_prompter.answers = {true};
        click(*w, page.remove());
        QCOMPARE(page.count(m_model), 7);
        QVERIFY(add->isEnabled());
    }

    void editReplacesSlotAndKeepsSelection_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("download button") << true << false;
        QTest::newRow("upload button") << false << false;
        QTest::newRow("download double-click") << true << true;
        QTest::newRow("upload double-click") << false << true;
    }

    void editReplacesSlotAndKeepsSelection()
    {
        QFETCH(bool, download);
        QFETCH(bool, doubleClick);
        const Page page{download};
        storeEntries(page, {"A", "B", "C"});
        auto w = open();
        if (download)
            m_editor.downloads = {DownloadEntry{"B2", "/new/B2.txt"}};
        else
            m_editor.uploads = {UploadEntry{"B2", "/new/B2.txt"}};

        auto *list = control<QListWidget>(*w, page.list());
        if (doubleClick) {
            w->show();
            control<QTabWidget>(*w, "TabStrip1")->setCurrentIndex(page.tab());
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            const QRect rect = list->visualItemRect(list->item(1));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        } else {
            selectRow(*w, page, 1);
            click(*w, page.edit());
        }

        // The dialog was handed a copy of the selected slot.
        if (download)
            QVERIFY((m_editor.downloadsShown == QList<DownloadEntry>{{"B", "/host/B.txt"}}));
        else
            QVERIFY((m_editor.uploadsShown == QList<UploadEntry>{{"B", "/host/B.txt"}}));
        QCOMPARE(page.slot(m_model, 1), (QStringList{"B2", "/new/B2.txt"}));
        QCOMPARE(rows(*w, page), (QStringList{"A", "B2", "C"}));
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(control<QLabel>(*w, page.path())->text(), QStringLiteral("/new/B2.txt"));
        QVERIFY(control<QPushButton>(*w, page.edit())->isEnabled());
    }

    void okChecksTheListsTheJobNeeds_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<int>("uploads");
        QTest::addColumn<QString>("message"); // empty: OK goes through
        QTest::addColumn<int>("tab");

        QTest::newRow("both, none") << 2 << 0 << 0 << NoDownloads << int(frmMain::DownloadTab);
        QTest::newRow("both, no uploads") << 2 << 1 << 0 << NoUploads << int(frmMain::UploadTab);
        QTest::newRow("both, no downloads")
            << 2 << 0 << 1 << NoDownloads << int(frmMain::DownloadTab);
        QTest::newRow("both, both") << 2 << 1 << 1 << "" << int(frmMain::GeneralTab);
        QTest::newRow("download only, none")
            << 0 << 0 << 3 << NoDownloads << int(frmMain::DownloadTab);
        QTest::newRow("download only") << 0 << 2 << 0 << "" << int(frmMain::GeneralTab);
        QTest::newRow("upload only, none") << 1 << 3 << 0 << NoUploads << int(frmMain::UploadTab);
        QTest::newRow("upload only") << 1 << 0 << 1 << "" << int(frmMain::GeneralTab);
    }

    void okChecksTheListsTheJobNeeds()
    {
        QFETCH(int, job);
        QFETCH(int, downloads);
        QFETCH(int, uploads);
        QFETCH(QString, message);
        QFETCH(int, tab);
        const QStringList names{"A", "B", "C"};
        storeEntries(Page{true}, names.mid(0, downloads));
        storeEntries(Page{false}, names.mid(0, uploads));
        writeStore("Settings/Modem Port", "1");
        writeStore("Settings/Job", "2");

        auto w = open();
        control<QComboBox>(*w, "cboModemPort")->setCurrentIndex(2);
        control<QComboBox>(*w, "cboResponsibility")->setCurrentIndex(job);
        click(*w, "cmdOK");

        QCOMPARE(int(m_model.JobType), job); // taken before the check, either way
        QCOMPARE(control<QTabWidget>(*w, "TabStrip1")->currentIndex(), tab);
        if (message.isEmpty()) {
            QVERIFY(m_prompter.informs.isEmpty());
            QVERIFY(SettingsAccepted);
            QCOMPARE(w->result(), int(QDialog::Accepted));
            QCOMPARE(int(m_model.ModemPort), 3);
            QCOMPARE(stored("Settings/Modem Port"), QStringLiteral("3"));
            QCOMPARE(stored("Settings/Job"), QString::number(job));
        } else {
            QCOMPARE(m_prompter.informs, QStringList{message});
            QVERIFY(!SettingsAccepted);
            QCOMPARE(int(m_model.ModemPort), 1);
            QCOMPARE(stored("Settings/Modem Port"), QStringLiteral("1"));
            QCOMPARE(stored("Settings/Job"), QStringLiteral("2"));
        }
    }

    void refusedOkThenCancel()
    {
        writeStore("Settings/Job", "2");
        auto w = open();
        control<QComboBox>(*w, "cboResponsibility")->setCurrentIndex(DownloadOnly);
        click(*w, "cmdOK");
        QCOMPARE(m_prompter.informs, QStringList{NoDownloads});
        // A second refusal from the Download page does not move the tab.
        click(*w, "cmdOK");
        QCOMPARE(control<QTabWidget>(*w, "TabStrip1")->currentIndex(), int(frmMain::DownloadTab));
        click(*w, "cmdCancel");
        QVERIFY(!SettingsAccepted);
        QCOMPARE(int(m_model.JobType), int(DownloadOnly));
        QCOMPARE(stored("Settings/Job"), QStringLiteral("2"));

        auto reopened = open();
        QCOMPARE(control<QComboBox>(*reopened, "cboResponsibility")->currentIndex(), 2);
        QCOMPARE(int(m_model.JobType), 2);
    }

    void cancelKeepsChangesInMemoryOnly()
    {
        storeEntries(Page{true}, {"A"});
        auto w = open();
        m_editor.downloads = {DownloadEntry{"B", "/host/B.txt"}};
        click(*w, "cmdAddDnldFile");
        click(*w, "cmdCancel");
        QVERIFY(!SettingsAccepted);
        QCOMPARE(w->result(), int(QDialog::Rejected));
        QCOMPARE(int(m_model.DownloadCount), 2);
        QCOMPARE(m_model.DownloadList[1].Name, QStringLiteral("B"));
        QVERIFY(!QSettings(m_ini, QSettings::IniFormat).contains("Dnld2/Name"));
    }

    void ctrlTabCyclesPages_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("expected");

        const int ctrl = Qt::ControlModifier;
        const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        QTest::newRow("General to Download")
            << 0 << "cboModemPort" << int(Qt::Key_Tab) << ctrl << 1;
        QTest::newRow("Download to Upload") << 1 << "ListDnlds" << int(Qt::Key_Tab) << ctrl << 2;
        QTest::newRow("Upload wraps") << 2 << "ListUplds" << int(Qt::Key_Tab) << ctrl << 0;
        QTest::newRow("from the OK button") << 2 << "cmdOK" << int(Qt::Key_Tab) << ctrl << 0;
        QTest::newRow("on the tab strip, once")
            << 0 << "TabStrip1" << int(Qt::Key_Tab) << ctrl << 1;
        QTest::newRow("Ctrl+Shift+Tab ignored")
            << 1 << "ListDnlds" << int(Qt::Key_Backtab) << ctrlShift << 1;
        QTest::newRow("Ctrl+Shift+Tab on strip")
            << 1 << "TabStrip1" << int(Qt::Key_Backtab) << ctrlShift << 1;
        QTest::newRow("Ctrl+Alt+Tab ignored") << 0 << "cboModemPort" << int(Qt::Key_Tab)
                                              << int(Qt::ControlModifier | Qt::AltModifier) << 0;
    }

    void ctrlTabCyclesPages()
    {
        QFETCH(int, start);
        QFETCH(QString, target);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, expected);
        auto w = open();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto *tabs = control<QTabWidget>(*w, "TabStrip1");
        tabs->setCurrentIndex(start);
        QTest::keyClick(control<QWidget>(*w, target), Qt::Key(key),
                        Qt::KeyboardModifiers(modifiers));
        QCOMPARE(tabs->currentIndex(), expected);
    }

    void entryPointReturnsTheOutcome_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("OK") << "cmdOK" << true;
        QTest::newRow("Cancel") << "cmdCancel" << false;
    }

    void entryPointReturnsTheOutcome()
    {
        QFETCH(QString, button);
        QFETCH(bool, accepted);
        storeEntries(Page{true}, {"A"});
        storeEntries(Page{false}, {"B"});
        SettingsStore store(m_ini);
        bool found = false;
        QTimer::singleShot(0, this, [&] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                if (auto *b = modal->findChild<QPushButton *>(button)) {
                    found = true;
                    b->click();
                    return;
                }
                modal->close();
            }
        });
        QCOMPARE(ShowConfigurationWindow(nullptr, m_model, store, m_prompter), accepted);
        QVERIFY(found);
        QCOMPARE(SettingsAccepted, accepted);
    }
};

QTEST_MAIN(TestConfigWindow)
#include "test_configwindow.moc"
