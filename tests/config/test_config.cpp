// The store, path helpers and proposed portable names; then the window on a real INI store with the
// entry editor and message boxes scripted; the About box.
#include "AppIdentity.h"
#include "AppVersion.h"
#include "Columns.h"
#include "EntryEditor.h"
#include "FakeLine.h"
#include "FileChooser.h"
#include "HostFiles.h"
#include "IniTextFormat.h"
#include "LineCharset.h"
#include "MessageBoxPrompter.h"
#include "PathHelpers.h"
#include "Portable.h"
#include "QtSerialLine.h"
#include "SettingsDiff.h"
#include "SettingsStore.h"
#include "frmAbout.h"
#include "frmMain.h"

#include <QtTest>
#include <QtWidgets>
#include <random>
#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#endif

using namespace Tarvo;
using Testing::columns;
using Testing::fetch;

namespace {
const QString NoDownloads = QStringLiteral("No download file has been defined. Please add files.");
const QString NoUploads = QStringLiteral("No upload file has been defined. Please add files.");
constexpr int GeneratedFiles = 3000;

// Browse always picks `chosen`; an upload Add or Edit is accepted as "H", a download one cancelled.
struct ScriptedUser final : FileChooser, EntryEditor
{
    QString chosen;
    QString chooseOpenFile(QWidget *, const FileRequest &) override { return chosen; }
    QString chooseSaveFile(QWidget *, const FileRequest &) override { return chosen; }
    void editDownload(QWidget *, DownloadEditHandOver &) override {}
    void editUpload(QWidget *, UploadEditHandOver &h) override { h = {{"H", {}}, true}; }
};
#ifdef Q_OS_WIN
// A text as REG_SZ holds it, with its NUL.
QByteArray utf16(const QString &text)
{
    return QByteArray(reinterpret_cast<const char *>(text.utf16()), (text.size() + 1) * 2);
}

void setRaw(const QString &subkey, const QString &name, DWORD type, const QByteArray &data)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, qUtf16Printable(subkey), 0, nullptr, 0,
                             KEY_SET_VALUE, nullptr, &key, nullptr),
             ERROR_SUCCESS);
    RegSetValueExW(key, qUtf16Printable(name), 0, type,
                   reinterpret_cast<const BYTE *>(data.constData()), DWORD(data.size()));
    RegCloseKey(key);
}

std::pair<DWORD, QByteArray> raw(const QString &subkey, const QString &name)
{
    DWORD type = REG_NONE, size = 0;
    RegGetValueW(HKEY_CURRENT_USER, qUtf16Printable(subkey), qUtf16Printable(name),
                 RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size);
    QByteArray data(qsizetype(size), 0);
    RegGetValueW(HKEY_CURRENT_USER, qUtf16Printable(subkey), qUtf16Printable(name),
                 RRF_RT_ANY | RRF_NOEXPAND, nullptr, data.data(), &size);
    return {type, data.first(qsizetype(size))};
}
#endif
} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_ini;
    Configuration m_model;
    Testing::ScriptedPrompter m_prompter; // answers Yes to every Remove question
    ScriptedUser m_user;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<frmMain> w;

    // What the file holds now, as this program reads it.
    QString stored(const QString &key) const
    {
        return Testing::SettingsDiff::read(Testing::readFile(m_ini))[key]
            .value<IniTextFormat::StoredValue>()
            .text;
    }
    // The window on a store with slots named "A", "B", ... plus the given keys.
    void open(int downloads, int uploads, const QMap<QString, QString> &keys = {})
    {
        {
            QSettings s(m_ini, IniTextFormat::format());
            for (int i = 0; i < downloads; ++i)
                s.setValue(QString("Dnld%1/Name").arg(i + 1), QString(QChar('A' + i)));
            for (int i = 0; i < uploads; ++i)
                s.setValue(QString("File%1/Name").arg(i + 1), QString(QChar('A' + i)));
            for (auto k = keys.begin(); k != keys.end(); ++k)
                s.setValue(k.key(), k.value());
        }
        w.reset();
        m_store = std::make_unique<SettingsStore>(m_ini);
        w = std::make_unique<frmMain>(m_model, *m_store, m_prompter, m_user);
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

    // Runs first: Qt fixes the per-user folder with the first QSettings made.
    void storeLocation()
    {
#ifdef Q_OS_WIN
        QSKIP("The registry store is the user's own key, which the tests leave alone.");
#endif
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        QCOMPARE(SettingsStore().location(), m_dir.filePath("Tarvo/Tarvo.conf"));
    }

    // Defaults from an empty store; all 34 values back, blanks and slots behind a gap included,
    // from the platform's kind of store; counts stop at the gap.
    void storeRoundTripAndDerivedCounts()
    {
        Configuration saved{.ModemPort = 3, .JobType = 1};
        for (int i = 0; i < MaxEntries; ++i) {
            saved.DownloadList[i] = {QString(" D%1 x ").arg(i), QString("/d %1").arg(i)};
            saved.UploadList[i] = {QString("U%1").arg(i), QString(" /u%1 ").arg(i)};
        }
        saved.DownloadList[4] = {};
        saved.UploadList[0].Name = QStringLiteral(" "); // a blank name still counts
        saved.UploadList[1].Name = QStringLiteral("U\t 1");
        Configuration loaded = saved;
        const Configuration defaults{.ModemPort = 1, .JobType = DownloadAndUpload};
        // A fresh store of the platform's own kind that is not the user's.
#ifdef Q_OS_WIN
        const SettingsStore::NativeLocation where{
            QStringLiteral("HKEY_CURRENT_USER\\Software\\Tarvo tests\\") +
            QFileInfo(m_dir.path()).fileName()};
#else
        const SettingsStore::NativeLocation where{m_dir.filePath("native/Tarvo.conf")};
#endif
        SettingsStore(where).LoadSettings(loaded);
        QVERIFY(loaded == defaults);
        QString error;
        QVERIFY(SettingsStore(where).SaveSettings(saved, error));
        QVERIFY(SettingsStore(m_ini).SaveSettings(saved, error)); // escaped as QSettings does
        QVERIFY(Testing::readFile(m_ini).contains("U\\t 1"));     // a blank stays one
        SettingsStore(where).LoadSettings(loaded);
        QVERIFY(loaded == saved);
        QSettings stored(where.path, QSettings::NativeFormat);
        QCOMPARE(stored.allKeys().size(), 34);
        stored.clear();
#ifdef Q_OS_WIN
        QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software"), QSettings::NativeFormat)
            .remove(QStringLiteral("Tarvo tests"));
#endif
        loaded.deriveCounts();
        QCOMPARE(int(loaded.DownloadCount), 4);
        QCOMPARE(int(loaded.UploadCount), 8);
    }

    // The registry store takes a REG_SZ as it stands whatever its first character, both ways, and
    // reads what another program left in a slot (File5, unused) as it always did, keeping it.
    void registryTextsAsTheyStand_data()
    {
        // data: the value's bytes; loaded: its text in the model
        [[maybe_unused]] const auto row =
            columns<int, QByteArray, QString>("type", "data", "loaded");
#ifdef Q_OS_WIN
        const auto text = [&row](const char *tag, const QString &value) {
            row(tag, REG_SZ, utf16(value), value);
        };
        text("@", "@");
        text("@@", "@@AT.TXT");
        text("@Variant(", "@Variant(\x7f)");
        text("@ByteArray(", "@ByteArray(AT.TXT)");
        text("2 MB", QString(1 << 20, 'N'));
        row("REG_EXPAND_SZ: as it stands", REG_EXPAND_SZ, utf16("%TEMP%\\in.txt"),
            "%TEMP%\\in.txt");
        row("REG_DWORD", REG_DWORD, QByteArray("\x07\0\0\0", 4), "7");
        row("REG_QWORD", REG_QWORD, QByteArray("\x09\0\0\0\0\0\0\0", 8), "9");
        row("REG_BINARY", REG_BINARY, QByteArray("A\0B\0", 4), "AB");
        row("REG_MULTI_SZ of two", REG_MULTI_SZ, QByteArray("a\0\0\0b\0\0\0\0\0", 10), "");
#endif
    }

    void registryTextsAsTheyStand()
    {
#ifndef Q_OS_WIN
        QSKIP("The registry is Windows'.");
#else
        auto [type, data, loaded] = fetch<int, QByteArray, QString>("type", "data", "loaded");
        const QString key = "Software\\Tarvo tests\\" + QFileInfo(m_dir.path()).fileName();
        const auto cleanUp =
            qScopeGuard([] { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarvo tests"); });
        setRaw(key + "\\File5", "Name", DWORD(type), data);
        setRaw(key + "\\Settings", "Modem Port", REG_DWORD, QByteArray("\x03\0\0\0", 4));
        setRaw(key + "\\Ports", "COM1", REG_SZ, utf16("@COM7"));
        SettingsStore store(SettingsStore::NativeLocation{"HKEY_CURRENT_USER\\" + key});
        Configuration model;
        store.LoadSettings(model);
        QCOMPARE(model.UploadList[4].Name, loaded);
        QCOMPARE(int(model.ModemPort), 3);
        QCOMPARE(store.portDevice(1), QStringLiteral("@COM7")); // a group of Tarvo's own
        if (type == REG_SZ)
            model.DownloadList[0].OpenFrom = loaded;
        QString error;
        QVERIFY(store.SaveSettings(model, error));
        QCOMPARE(raw(key + "\\File5", "Name"), std::make_pair(DWORD(type), data));
        QCOMPARE(raw(key + "\\Settings", "Modem Port").first, DWORD(REG_DWORD));
        if (type == REG_SZ)
            QCOMPARE(raw(key + "\\Dnld1", "Open From"), std::make_pair(DWORD(REG_SZ), data));
#endif
    }

    // A key that cannot take the values (a volatile one, under which no lasting subkey may be made)
    // refuses the save with Windows' reason before any value is written.
    void registrySaveRefused()
    {
#ifndef Q_OS_WIN
        QSKIP("The registry is Windows'.");
#else
        const QString key = "Software\\Tarvo tests\\volatile";
        const auto cleanUp =
            qScopeGuard([] { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarvo tests"); });
        HKEY handle = nullptr;
        QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, qUtf16Printable(key), 0, nullptr,
                                 REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
                 ERROR_SUCCESS);
        RegCloseKey(handle);
        QString error;
        QVERIFY(!SettingsStore(SettingsStore::NativeLocation{"HKEY_CURRENT_USER\\" + key})
                     .SaveSettings(Configuration{.ModemPort = 3}, error));
        QCOMPARE(error, qt_error_string(ERROR_CHILD_MUST_BE_VOLATILE));
        QCOMPARE(RegOpenKeyExW(HKEY_CURRENT_USER, qUtf16Printable(key + "\\Settings"), 0, KEY_READ,
                               &handle),
                 ERROR_FILE_NOT_FOUND);
#endif
    }

    void canOpenFile_data()
    {
        // path: "@" is the temporary folder; warning: a part of it, "*": the system's own words for
        // the failed open
        const auto row = columns<QString, QString>("path", "warning");
        row("readable", "@/host.txt", {});
        row("missing", "@/none.txt", "*");
        row("empty path", {}, "No file name");
        row("folder", "@", "folder");
#ifndef Q_OS_WIN
        // Opening a pipe for reading would wait for a writer for ever.
        row("named pipe", "@/pipe", "@/pipe: not a regular file (a named pipe)");
        row("socket", "@/socket", "a socket");
        row("device", "/dev/null", "a device");
#endif
    }

    void canOpenFile()
    {
        auto [path, warning] = fetch<QString, QString>("path", "warning");
        QFile(m_dir.filePath("host.txt")).open(QIODevice::WriteOnly);
#ifndef Q_OS_WIN
        ::mkfifo(QFile::encodeName(m_dir.filePath("pipe")).constData(), 0600);
        sockaddr_un socket{.sun_family = AF_UNIX, .sun_path = {}};
        qstrncpy(socket.sun_path, QFile::encodeName(m_dir.filePath("socket")), 100);
        ::bind(::socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr *>(&socket),
               sizeof socket);
#endif
        path = QDir::toNativeSeparators(path.replace('@', m_dir.path()));
        if (warning == "*") {
            QFile probe(path);
            QVERIFY(!probe.open(QIODevice::ReadOnly));
            warning = probe.errorString();
            QVERIFY(!warning.isEmpty());
        }
        warning.replace('@', QDir::toNativeSeparators(m_dir.path()));
        QCOMPARE(CanOpenFile(path, m_prompter), warning.isEmpty());
        QCOMPARE(m_prompter.warnings.size(), warning.isEmpty() ? 0 : 1);
        QVERIFY2(m_prompter.warnings.value(0).contains(warning), qPrintable(warning));
    }

    // Links are followed as the system follows them: forty in a row at the most.
    void linkChains_data()
    {
        const auto row = columns<int>("links");
        row("forty", 40);
        row("forty-one", 41);
    }
    void linkChains()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows shortcuts are not links.");
#endif
        auto [links] = fetch<int>("links");
        QTemporaryDir dir;
        // The chain ends in a linked folder, which is resolved too.
        QVERIFY(QFile::link(dir.path(), dir.filePath("here")));
        QString last = dir.filePath("here/end.txt"), error;
        Testing::Rig::write(last, "x");
        for (int i = 0; i < links; ++i, last = dir.filePath(QString::number(i)))
            QVERIFY(QFile::link(last, dir.filePath(QString::number(i + 1))));
        QCOMPARE(resolveLinks(last, error), links > 40 ? QString() : dir.filePath("end.txt"));
        QCOMPARE(error.isEmpty(), links <= 40);
    }

    // Windows' own calls take a path of any length in the long form, which takes every name as it
    // stands: "." and ".." are resolved first, and what is not absolute keeps its form.
    void longPathForm_data()
    {
        const auto row = columns<QString, QString>("path", "long");
        row("drive", "C:\\in\\orders.txt", "\\\\?\\C:\\in\\orders.txt");
        row("forward slashes, dots", "c:/in/./x/../orders.txt", "\\\\?\\c:\\in\\orders.txt");
        row("no further up than the root", "C:\\in\\..\\..\\a", "\\\\?\\C:\\a");
        row("the root", "D:\\", "\\\\?\\D:\\");
        row("share", "\\\\srv\\inbox\\a\\..\\b.txt", "\\\\?\\UNC\\srv\\inbox\\b.txt");
        row("no further up than the share", "//srv/inbox/../../b.txt",
            "\\\\?\\UNC\\srv\\inbox\\b.txt");
        row("long form already", "\\\\?\\C:\\x\\..\\y", "\\\\?\\C:\\x\\..\\y");
        row("device", "\\\\.\\COM1", "\\\\.\\COM1");
        row("relative", "in/a.txt", "in\\a.txt");
        row("relative to a drive", "C:a.txt", "C:a.txt");
        row("relative to the root", "\\in\\a.txt", "\\in\\a.txt");
    }
    void longPathForm()
    {
        auto [path, expected] = fetch<QString, QString>("path", "long");
        QCOMPARE(Tarvo::longPathForm(path), expected);
    }

    void proposedPortableName_data()
    {
        const auto row = columns<QString, QString, QString>("chosen", "typed", "proposed");
        row("long base", "/data/Inventories.csv", "", "Inventor.csv");
        row("two dots", "/data/Orders.backup.txt", "", "Orders.bac");
        row("no dot", "/data/README_FIRST", "", "README_F");
        row("dot first", "/data/.profile", "", ".pro");
        row("typed kept", "/data/Inventories.csv", "Inv.text", "Inv.text");
    }

    void proposedPortableName()
    {
        auto [chosen, typed] = fetch<QString, QString>("chosen", "typed");
        DownloadEditHandOver handOver;
        m_user.chosen = chosen;
        frmDnldEdit dialog(handOver, m_user, m_prompter);
        auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("txtName"));
        name->setText(typed);
        dialog.findChild<QPushButton *>(QStringLiteral("cmdBrowse"))->click();
        QTEST(name->text(), "proposed");
    }

    // A port or job the drop-downs cannot show opens as the default (the model keeps any 16-bit
    // number); OK stores a valid value again.
    void storedNumbersOpenSafely_data()
    {
        // loaded: port, job port: shown, and saved by OK
        const auto row = columns<QString, QString, QPoint, int, int>("storedPort", "storedJob",
                                                                     "loaded", "port", "job");
        row("blanks around", " 4 ", " 0", QPoint(4, 0), 4, 0);
        row("out of range", "7", "-1", QPoint(7, -1), 1, 2);
        row("16-bit limits", "32767", "-32768", QPoint(32767, -32768), 1, 2);
        row("not numbers", "abc", "1.5", QPoint(1, 2), 1, 2);
        row("a NUL after the digits", QString::fromLatin1("3\0", 2), "1", QPoint(1, 1), 1, 1);
        row("beyond 16 bits", "32768", "-32769", QPoint(1, 2), 1, 2);
    }

    void storedNumbersOpenSafely()
    {
        auto [storedPort, storedJob, port, job] =
            fetch<QString, QString, int, int>("storedPort", "storedJob", "port", "job");
        open(1, 1, {{"Settings/Modem Port", storedPort}, {"Settings/Job", storedJob}});
        QTEST(QPoint(m_model.ModemPort, m_model.JobType), "loaded");
        QCOMPARE(ctl<QComboBox>("cboModemPort")->currentIndex(), port - 1);
        QCOMPARE(ctl<QComboBox>("cboResponsibility")->currentIndex(), job);
        QCOMPARE(ctl<QLabel>("lblPortDevice")->text(), SettingsStore::defaultPortDevice(port));
        click("cmdOK");
        QCOMPARE(stored("Settings/Modem Port"), QString::number(port));
        QCOMPARE(stored("Settings/Job"), QString::number(job));
    }

    // Files as a person writes them: what the window shows of Dnld1's name and COM1's device, and
    // what this store reads back after OK.
    void handEditedFiles_data()
    {
        // shown: the first download entry, or none
        const auto add = columns<QByteArray, QString, QString>("file", "shown", "device");
        // No device: COM1's default.
#ifdef Q_OS_WIN
        const char *com1 = "COM1";
#else
        const char *com1 = "/dev/ttyS0";
#endif
        const auto row = [add, com1](const char *name, const char *file, const char *shown,
                                     const char *device = nullptr) {
            add(name, file, shown, QString(device ? device : com1));
        };
        row("group name with blanks", "[ Dnld1 ]\nName=IN.TXT\n", "IN.TXT");
        row("comment after a quote", "[Dnld1]\nName=\"IN.TXT\";note\n", "IN.TXT");
        row("comment after a device", "[Ports]\nCOM1=/dev/ttyUSB0\t; usb\n", "", "/dev/ttyUSB0");
        row("comment with a quote", "[Dnld1]\nName=A ; 12\" wide\nOpen%20From=/x\n", "A");
        row("comment ending in a backslash", "[Dnld1]\nName=A ; C:\\\nOpen%20From=/x\n", "A");
        row("continued line", "[Dnld1]\nName=IN\\\n.TXT\n", "IN.TXT");
        row("continued line, CR LF", "[Dnld1]\r\nName=IN\\\r\n.TXT\r\n", "IN.TXT");
        row("open quote", "[Dnld1]\nName=\"IN.TXT\nOpen%20From=/x\n", "\"IN.TXT");
        row("%UXXXX in a key", "[Dnld1]\nN%U0061me=IN.TXT\n", "IN.TXT");
        row("words with , ; = #", "[Dnld1]\nName=#1=a,b;c\n", "#1=a,b;c");
        row("path with , and ;", "[Dnld1]\nName=IN\nOpen%20From=/data/a,b;c.txt\n", "IN");
        row("unknown escapes", "[Ports]\nCOM1=C:\\data\\xray\\in\n", "", "C:\\data\\xray\\in");
        row("octal and hex escapes", "[Dnld1]\nName=\\0101\\x42\\x6a\\x4B\n", "ABjK");
        row("at signs", "[Dnld1]\nName=@@home\n[Ports]\nCOM1=@String(/dev/ttyS9)\n", "@home",
            "/dev/ttyS9");
    }

    void handEditedFiles()
    {
        QFETCH(QByteArray, file);
        // The row's lines come last, without the final line break.
        Testing::Rig::write(m_ini, "[Settings]\nJob=1\n\n[File1]\nName=U\n" + file.chopped(1));
#ifndef Q_OS_WIN // OK keeps a link to the file a link, and the file's permissions
        QVERIFY(QFile::rename(m_ini, m_ini + ".real") && QFile::link(m_ini + ".real", m_ini));
        QVERIFY(QFile::setPermissions(m_ini, QFile::ReadOwner | QFile::WriteOwner));
#endif
        const QFile::Permissions mode = QFile::permissions(m_ini);
        m_store = std::make_unique<SettingsStore>(m_ini);
        w = std::make_unique<frmMain>(m_model, *m_store, m_prompter, m_user);
        const auto *list = ctl<QListWidget>("ListDnlds");
        QTEST(list->count() ? list->item(0)->text() : QString(), "shown");
        QTEST(ctl<QLabel>("lblPortDevice")->text(), "device");
        click("cmdOK");
        QVERIFY(SettingsAccepted);
        QCOMPARE(QFile::permissions(m_ini), mode);
#ifndef Q_OS_WIN
        QVERIFY(QFileInfo(m_ini).isSymLink());
#endif
        for (const QByteArray &line : file.split('\n')) // headings as they were spelt
            QVERIFY(!line.startsWith('[') || Testing::readFile(m_ini).contains(line.trimmed()));
        Configuration reloaded;
        SettingsStore(m_ini).LoadSettings(reloaded);
        QCOMPARE(reloaded.DownloadList[0], m_model.DownloadList[0]);
        // After OK plain QSettings reads the same (a copy: it keeps one parse per path).
        QVERIFY(QFile::copy(m_ini, m_ini + ".plain"));
        const QSettings plain(m_ini + ".plain", QSettings::IniFormat);
        QCOMPARE(plain.value("Dnld1/Name").toString(), reloaded.DownloadList[0].Name);
        QCOMPARE(plain.value("Dnld1/Open From").toString(), reloaded.DownloadList[0].OpenFrom);
    }

    // Recovery/Retry as a person writes it, read afresh at each look: only a plain no turns the
    // tries off.
    void retryKey()
    {
        const SettingsStore store(m_ini);
        const QList<std::pair<QByteArray, bool>> files{
            {"", true},
            {"[Recovery]\nRetry=0\n", false},
            {"[Recovery]\nRetry = Off ; till the modem is fixed\n", false},
            {"[Recovery]\nRetry=FALSE\n", false},
            {"[Recovery]\nRetry=no\n", false},
            {"[Recovery]\nRetry=1\n", true},
            {"[Recovery]\nRetry=nope\n", true},
            {"[Retry]\nRecovery=0\n", true}};
        for (const auto &[file, on] : files) {
            Testing::Rig::write(m_ini, "[Settings]\nJob=1\n" + file);
            QVERIFY2(store.retryEnabled() == on, file.constData());
        }
    }

    // Edits while the program runs: each opening of the window and of the port sees them.
    void handEditsCountWhileRunning()
    {
        w.reset();
        m_store.reset();
        QtSerialLine line([this](int com) { return m_store->portDevice(com); });
        for (const QString name : {"A", "B", "EDITED"}) { // B: the port opened first
            const QString device = "/nonexistent/" + name;
            Testing::Rig::write(m_ini, "[Settings]\nJob=1\n[File1]\nName=" + name.toLatin1() +
                                           "\n[Ports]\nCOM1=" + device.toLatin1() + "\n");
            if (!m_store) // the store of the run, made once
                m_store = std::make_unique<SettingsStore>(m_ini);
            const bool portFirst = name == "B";
            QVERIFY(!portFirst || !line.open(1, nullptr));
            w = std::make_unique<frmMain>(m_model, *m_store, m_prompter, m_user);
            QCOMPARE(ctl<QListWidget>("ListUplds")->findItems(name, Qt::MatchExactly).size(), 1);
            QCOMPARE(ctl<QLabel>("lblPortDevice")->text(), device);
            QVERIFY(portFirst || !line.open(1, nullptr));
            QCOMPARE(line.deviceName(), device);
        }
        // OK saves what the window shows, over an edit made while it was open.
        Testing::Rig::write(m_ini, "[Settings]\nJob=1\n[File1]\nName=LATER\n");
        click("cmdOK");
        QVERIFY(Testing::readFile(m_ini).contains("Name=EDITED\n")); // on disk, not only cached
    }

    // Generated files, the same every run; the fuzz target checks its own.
    void agreesWithPlainQSettings()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the settings in the registry, and its plain QSettings folds the case "
              "of INI keys.");
#endif
        // Pieces of generated input, split at "~"; line breaks come often.
        static const QByteArrayList pieces =
            QByteArray(
                "\n~\n~\n~\r\n~\r~[Settings]~[Dnld1]~[ Dnld1 ]~[Ports]~[%General]~[general]~"
                "[]~[a\\b]~Name=~Open%20From=~Modem%20Port=~COM1=~k=~N%U0061me=~"
                "Schl\xc3\xbcssel=~Dnld1:~Gruppe-\xc3\xa4:~general:~a~1~ ~\t~\"~\\~\\\\~;~"
                " ;~,~=~\\\n~\\x41~\\0~\\t~@~@String(~@ByteArray(~)~\xc3\xa4~\xc4\x80~\xc9~#~*~|~/~"
                "%~%E4~\x01~\x02~\x1f~\xf0\x9f\x98\x80~\xef\xbb\xbf")
                .split('~');
        std::mt19937 random(21);
        std::uniform_int_distribution<qsizetype> piece(0, pieces.size() - 1), length(1, 40);
        // Plain QSettings syncs every file it writes to the disk: in memory where there is some.
        const bool memory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
        Testing::SettingsDiff diff(memory ? QStringLiteral("/dev/shm") : QDir::tempPath());
        // First files typed by hand, with "," and ";" in words.
        const QByteArrayList typed{"[Dnld1]\nName=A\nOpen%20From=/data/a,b;c.txt\n",
                                   "[File2]\nSave%20As=x;y ,z ; note\n[Other]\nlist=a,b;c\n"};
        for (qsizetype n = 0; n < typed.size() + GeneratedFiles; ++n) {
            QByteArray input = typed.value(n);
            for (qsizetype k = n < typed.size() ? 0 : length(random); k > 0; --k)
                input += pieces[piece(random)];
            const QString failure = diff.check(input);
            QVERIFY2(failure.isEmpty(), qPrintable(failure + " in " + input.toPercentEncoding()));
        }
    }

    // Remove shifts the slots up and clears the last; Add stops at eight.
    void removeShiftsTheSlotsAndAddStopsAtEight()
    {
        open(3, 7);
        ctl<QListWidget>("ListDnlds")->setCurrentRow(0);
        click("cmdRmvDnldFile");
        QCOMPARE(m_prompter.questions, QStringList{"Remove A from list?"});
        QCOMPARE(int(m_model.DownloadCount), 2);
        QCOMPARE(ctl<QListWidget>("ListDnlds")->item(0)->text(), QStringLiteral("B"));
        QCOMPARE(m_model.DownloadList[1].Name, QStringLiteral("C"));
        QCOMPARE(m_model.DownloadList[2], DownloadEntry{});
        click("cmdAddUpldFile");
        QCOMPARE(int(m_model.UploadCount), 8);
        QCOMPARE(m_model.UploadList[7].Name, QStringLiteral("H"));
        QVERIFY(!ctl("cmdAddUpldFile")->isEnabled());
        ctl<QListWidget>("ListUplds")->setCurrentRow(1);
        click("cmdRmvUpldFile");
        QVERIFY(ctl("cmdAddUpldFile")->isEnabled());
    }

    // A refused OK keeps the job in memory, stores nothing and takes no port.
    void okChecksTheListsTheJobNeeds_data()
    {
        // message: empty: OK goes through
        const auto row =
            columns<int, int, int, QString, int>("job", "downloads", "uploads", "message", "tab");
        row("both, none", 2, 0, 0, NoDownloads, 1);
        row("both, no uploads", 2, 1, 0, NoUploads, 2);
        row("both, both", 2, 1, 1, "", 0);
        row("upload only, no downloads", 1, 0, 1, "", 0);
        row("download only, none", 0, 0, 2, NoDownloads, 1);
    }

    void okChecksTheListsTheJobNeeds()
    {
        auto [job, downloads, uploads, message] =
            fetch<int, int, int, QString>("job", "downloads", "uploads", "message");
        open(downloads, uploads, {{"Ports/COM3", "/dev/ttyUSB7"}});
        ctl<QComboBox>("cboModemPort")->setCurrentIndex(2);
        QCOMPARE(ctl<QLabel>("lblPortDevice")->text(), QStringLiteral("/dev/ttyUSB7"));
        ctl<QComboBox>("cboResponsibility")->setCurrentIndex(job);
        click("cmdOK");
        QCOMPARE(int(m_model.JobType), job);
        QTEST(ctl<QTabWidget>("TabStrip1")->currentIndex(), "tab");
        QCOMPARE(m_prompter.informs, message.isEmpty() ? QStringList{} : QStringList{message});
        QCOMPARE(SettingsAccepted, message.isEmpty());
        QCOMPARE(int(m_model.ModemPort), message.isEmpty() ? 3 : 1);
        QCOMPARE(stored("Settings/Job"), message.isEmpty() ? QString::number(job) : QString());
    }

    // An OK whose save fails says why, keeps the window open and the file as it was; a store that
    // cannot be written but reads as the model already (empty entries missing) lets it through.
    void okThatCannotSaveSays_data()
    {
        // port: chosen in the window (1 changes nothing); said: the reason, empty: OK goes through
        const auto row =
            columns<FileOp, QString, int, int, QString>("op", "file", "error", "port", "said");
        row("full disk", FileOp::Write, ".new", ENOSPC, 3, "No space left on device");
        row("read-only folder", FileOp::OpenWrite, ".new", EROFS, 2, "Read-only file system");
        row("read-only file", FileOp::OpenWrite, "", EACCES, 4, "Permission denied");
        row("read-only, nothing to change", FileOp::OpenWrite, ".new", EROFS, 1, "");
    }

    void okThatCannotSaveSays()
    {
        auto [op, file, error, port, said] =
            fetch<FileOp, QString, int, int, QString>("op", "file", "error", "port", "said");
        open(1, 1);
        const QByteArray before = Testing::readFile(m_ini);
        setFaultHook([op = op, path = m_ini + file, error = error](FileOp o, const QString &p) {
            return o == op && QDir::fromNativeSeparators(p) == path ? error : 0;
        });
        ctl<QComboBox>("cboModemPort")->setCurrentIndex(port - 1);
        click("cmdOK");
        setFaultHook({});
        QCOMPARE(SettingsAccepted, said.isEmpty());
        QCOMPARE(w->result(), said.isEmpty() ? QDialog::Accepted : QDialog::Rejected);
        QCOMPARE(m_prompter.warnings,
                 said.isEmpty() ? QStringList{}
                                : QStringList{"The settings cannot be saved to " +
                                              QDir::toNativeSeparators(m_ini) + ": " + said});
        QCOMPARE(Testing::readFile(m_ini), before);
        QVERIFY(!QFile::exists(m_ini + ".new"));
    }

    // Uploads whose backups collide, and names typed into the store that the call would refuse,
    // are pointed out on OK, each entry named, and saved as typed; the store notes the names as
    // it reads them.
    void okNamesCollidingBackups_data()
    {
        // saveAs: the uploads' files in the scratch folder; said: parts of the notice, empty: none
        // names: the uploads' portable names, by slot ("A", "B", ... where not given)
        const auto add = columns<QStringList, QStringList, QStringList>("saveAs", "said", "names");
        const auto row = [&add](const char *tag, const QStringList &saveAs, const QStringList &said,
                                const QStringList &names = {}) { add(tag, saveAs, said, names); };
        row("one backup for two targets", {"A.TXT", "A.DAT"},
            {"A.TXT and ", "A.DAT both", "A.BAK"});
        row("a target is another's backup", {"A.BAK", "B.TXT", "A.TXT"},
            {"A.BAK is where the upload to ", "A.TXT keeps its backup"});
        row("same name, other folders", {"A.TXT", "sub/A.DAT"}, {});
        row("the same file twice", {"A.TXT", "A.TXT"}, {});
        // In a folder that ignores case (a stand-in folds the names of the scratch folder).
        row("backups spelled otherwise, case ignored", {"Orders.TXT", "ORDERS.dat"},
            {"Orders.TXT and ", "ORDERS.dat both", "Orders.BAK"});
        row("another's backup spelled otherwise, case ignored", {"a.bak", "A.TXT"},
            {"a.bak is where the upload to ", "A.TXT keeps its backup"});
        const QString longest(LineCharset::MaxNameLength, 'n');
        row("names the call would refuse", {"A.TXT", "B.TXT", "C.TXT", "D.TXT"},
            {"Upload entry 1: the name ORD\xc3\x81 cannot be sent to the portable: the line's "
             "frames "
             "cannot carry \xc3\x81 (byte 193). Nothing is sent for it until it is changed.",
             "Upload entry 2: the name a\x01 cannot be sent to the portable: the line's frames "
             "cannot carry the control character 1. Nothing is sent for it until it is changed.",
             "Upload entry 4: the name " + longest +
                 "x cannot be sent to the portable: it is 239 "
                 "characters long, and the portable's frames hold names of at most 238. Nothing is "
                 "sent for it until it is changed."},
            {"ORD\xc3\x81", "a\x01", longest, longest + "x"});
        row("a name ending in an offset, and a collision", {"A.TXT", "A.DAT"},
            {"A.TXT and ", "A.DAT both",
             "Upload entry 2: the name ORDERS[12] cannot be sent to the portable: its end [12] "
             "would be read as an offset to restart at. Nothing is sent for it until it is "
             "changed."},
            {"B", "ORDERS[12]"});
    }

    void okNamesCollidingBackups()
    {
        auto [saveAs, said, names] =
            fetch<QStringList, QStringList, QStringList>("saveAs", "said", "names");
        QMap<QString, QString> keys;
        for (int i = 0; i < saveAs.size(); ++i)
            keys[QString("File%1/Save As").arg(i + 1)] = m_dir.filePath(saveAs[i]);
        for (int i = 0; i < names.size(); ++i)
            keys[QString("File%1/Name").arg(i + 1)] = names[i];
        open(0, int(saveAs.size()), keys);
        const QStringList refused = said.filter("Upload entry");
        QCOMPARE(m_store->refusedNames(), refused); // as the window opened
        ctl<QComboBox>("cboResponsibility")->setCurrentIndex(UploadOnly);
        if (QByteArray(QTest::currentDataTag()).endsWith("case ignored"))
            setNameHook([dir = m_dir.path()](const QString &path) {
                for (const QString &entry : QDir(dir).entryList(QDir::Files))
                    if (QDir(dir).filePath(entry).compare(path, Qt::CaseInsensitive) == 0)
                        return QDir(dir).filePath(entry);
                return path;
            });
        click("cmdOK");
        setNameHook({});
        QCOMPARE(m_prompter.informs.size(), said.isEmpty() ? 0 : 1);
        for (const QString &part : said)
            QVERIFY2(m_prompter.informs[0].contains(part), qPrintable(part));
        QCOMPARE(m_prompter.informs.value(0).split('\n').filter("Upload entry"), refused);
        QVERIFY(SettingsAccepted);
        for (int i = 0; i < saveAs.size(); ++i)
            QCOMPARE(stored(QString("File%1/Save As").arg(i + 1)), m_dir.filePath(saveAs[i]));
    }

    // Enter gives OK in the windows, No in a question box (Qt presses a focused button instead).
    void defaultButtons()
    {
        open(1, 1);
        DownloadEditHandOver handOver;
        frmDnldEdit edit(handOver, m_user, m_prompter);
        for (QWidget *dialog : {static_cast<QWidget *>(w.get()), static_cast<QWidget *>(&edit)})
            QVERIFY(dialog->findChild<QPushButton *>("cmdOK")->isDefault());
        // Asked without blocking (during a call's job): the caller goes on first.
        MessageBoxPrompter prompter;
        QString outcome;
        prompter.askYesNoLater("Hang up (disconnect) modem?",
                               [&outcome](bool yes) { outcome = yes ? "yes" : "no"; });
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box && outcome.isEmpty());
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(box->windowTitle(), QString("Tarvo"));
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_COMPARE(outcome, QString("no"));
    }

    // On Windows from the program's own version resource (this test carries one as tarvo.exe does),
    // which must say what the build says.
    void aboutBoxShowsTheIdentity()
    {
        const AppIdentity built = builtInIdentity();
        QCOMPARE(built.title, QString("Tarvo"));
        QCOMPARE(QStringLiteral("%1.%2.%3").arg(built.major).arg(built.minor).arg(built.revision),
                 QString(AppVersion::Version));
        frmAbout about(m_dir.filePath("Tarvo.Log"));
        QCOMPARE(about.windowTitle(), QString("About Tarvo"));
        QCOMPARE(about.findChild<QLabel *>("lblTitle")->text(),
                 QString("Tarvo Version ") + AppVersion::Version);
        for (const char *image : {"imgIcon", "imgCompany"})
            QVERIFY(!about.findChild<QLabel *>(image)->pixmap().isNull());

        const AppIdentity shown = applicationIdentity();
#ifdef Q_OS_WIN
        QVERIFY2(shown.fromVersionResource, "the About box did not read the version resource");
        const auto program =
            versionResourceIdentity(QCoreApplication::applicationDirPath() + "/tarvo.exe");
        QVERIFY2(program, "tarvo.exe has no version resource");
        QCOMPARE(*program, shown);
#else
        QVERIFY(!shown.fromVersionResource);
        QVERIFY(!versionResourceIdentity(QCoreApplication::applicationFilePath()));
#endif
        AppIdentity expected = built;
        expected.fromVersionResource = shown.fromVersionResource;
        QCOMPARE(shown, expected);
    }

    // Boxes open over the modal window, not over a hidden server window.
    void messageBoxesOpenOverTheModalWindow()
    {
        QWidget server;
        MessageBoxPrompter prompter(&server);
        open(1, 1);
        QWidget *owner = nullptr;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, [&] {
                auto *box = QApplication::activeModalWidget();
                owner = box ? box->parentWidget() : nullptr;
                if (box)
                    box->close();
                w->reject();
            });
            prompter.warn("Over the window?");
        });
        w->exec();
        QCOMPARE(owner, static_cast<QWidget *>(w.get()));
    }

    // Names travel a byte per character: upper-casing keeps the set, and the entry dialogs refuse,
    // naming them, characters it cannot carry or that would end or break a frame.
    void portableNames_data()
    {
        // upper: empty: not carried
        // why: what the dialogs' warning says of a name the frames hold but the portable misreads
        const auto add = columns<QString, QString, QString>("name", "upper", "why");
        const auto row = [&add](const char *tag, const QString &name, const QString &upper,
                                const QString &why = {}) { add(tag, name, upper, why); };
        // Rows in UTF-8.
        row("plain", "Orders.txt", "ORDERS.TXT");
        row("accented", "caf\xc3\xa9", "CAF\xc3\x89");
        // octal: the "e" is no digit
        row("sharp s stays", "stra\303\237e", "STRA\303\237E");
#ifdef Q_OS_WIN
        // Code page 1252 (a Western Windows, and Wine) has both.
        row("y with diaeresis", "\xc3\xbfy", "\xc5\xb8Y");
        row("euro sign", "a\xe2\x82\xac", "A\xe2\x82\xac");
#else
        row("y with diaeresis stays", "\xc3\xbfy", "\xc3\xbfY");
        row("euro sign", "a\xe2\x82\xac", QString());
#endif
        row("U+0100, past Latin-1", "\xc4\x80", QString());
        row("A with acute ends every frame", "\xc3\x81", QString());
        row("a control character", "a\x1f", QString());
        const QString longest = QString(LineCharset::MaxNameLength - 4, 'n') + ".txt";
        row("the longest name", longest, longest.toUpper());
        row("one character more", longest + "x", {}, "it is 239 characters long");
        row("digits in brackets at the end", "ORDERS[12]", {}, "its end [12] would be read");
        row("as typed, with spaces after", "A[7]  ", {}, "its end [7] would be read");
        row("brackets inside", "A[1].txt", "A[1].TXT");
    }

    void portableNames()
    {
        auto [name, upper, why] = fetch<QString, QString, QString>("name", "upper", "why");
        const bool carried = !upper.isEmpty();
        QCOMPARE(LineCharset::canCarry(name), carried || !why.isEmpty());
        if (carried) {
            QCOMPARE(LineCharset::toUpper(name), upper);
#ifdef Q_OS_WIN
            QCOMPARE(QString::fromLocal8Bit(LineCharset::encode(upper)), upper);
#else
            QCOMPARE(QString::fromLatin1(LineCharset::encode(upper)), upper);
#endif
        }

        const QString host = m_dir.filePath("host.txt");
        Testing::Rig::write(host, "data");
        DownloadEditHandOver download{{name, host}};
        frmDnldEdit downloadEdit(download, m_user, m_prompter);
        UploadEditHandOver upload{{name, host}};
        frmUpldEdit uploadEdit(upload, m_user, m_prompter);
        for (QDialog *edit : std::initializer_list<QDialog *>{&downloadEdit, &uploadEdit}) {
            edit->show();
            edit->findChild<QPushButton *>("cmdOK")->click();
            QCOMPARE(edit->result() == QDialog::Accepted, carried);
            if (!carried)
                QCOMPARE(edit->focusWidget(), edit->findChild<QWidget *>("txtName"));
        }
        QCOMPARE(m_prompter.warnings.size(), carried ? 0 : 2);
        const QString named = !why.isEmpty() ? why
                              : name.back() < ' '
                                  ? QString("control character %1").arg(name.back().unicode())
                                  : QString(name.back());
        for (const QString &warning : std::as_const(m_prompter.warnings))
            QVERIFY(warning.contains(named));
    }
};

QTEST_MAIN(TestConfig)
#include "test_config.moc"
