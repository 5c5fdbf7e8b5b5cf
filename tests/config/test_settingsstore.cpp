// The settings store: all 34 values travel unchanged, missing keys give the
// defaults, numbers that are not whole 16-bit numbers fall back, and the
// counts come from the leading named slots.
#include "Configuration.h"
#include "SettingsStore.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

namespace {
QString section(const char *prefix, int slot)
{
    return QLatin1String(prefix) + QString::number(slot + 1);
}

// A model in which every one of the 34 values is distinct, with blanks kept
// at both ends and a stale entry behind an empty slot.
Configuration fullModel()
{
    Configuration m;
    m.ModemPort = 3;
    m.JobType = 1;
    for (int i = 0; i < MaxEntries; ++i) {
        m.DownloadList[i] = {QStringLiteral(" D%1 name ").arg(i),
                             QStringLiteral("/in/d %1.txt").arg(i)};
        m.UploadList[i] = {QStringLiteral("U%1").arg(i), QStringLiteral("  /out/u%1 ").arg(i)};
    }
    m.DownloadList[4] = {};                                      // ends the list at 4 ...
    m.UploadList[2] = {QString(), QStringLiteral("/only/path")}; // ... and the uploads at 2
    return m;
}
} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString iniPath(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void roundTripKeepsAll34Values()
    {
        const QString path = iniPath("roundtrip.ini");
        const Configuration saved = fullModel();
        SettingsStore(path).SaveSettings(saved);

        Configuration loaded;
        loaded.DownloadCount = 5; // LoadSettings leaves the counts to the caller
        loaded.UploadCount = 6;
        SettingsStore(path).LoadSettings(loaded);
        QCOMPARE(loaded.DownloadCount, std::int16_t(5));
        QCOMPARE(loaded.UploadCount, std::int16_t(6));
        loaded.DownloadCount = saved.DownloadCount;
        loaded.UploadCount = saved.UploadCount;
        QVERIFY(loaded == saved);

        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.allKeys().size(), 34);
        QCOMPARE(raw.value(QStringLiteral("Settings/Modem Port")).toString(), QStringLiteral("3"));
        QCOMPARE(raw.value(QStringLiteral("Settings/Job")).toString(), QStringLiteral("1"));
        QCOMPARE(raw.value(QStringLiteral("Dnld8/Open From")).toString(),
                 QStringLiteral("/in/d 7.txt"));
        QCOMPARE(raw.value(QStringLiteral("File1/Save As")).toString(),
                 QStringLiteral("  /out/u0 "));
        QCOMPARE(raw.value(QStringLiteral("Dnld5/Name")).toString(), QString());
    }

    void unusedSlotsAreWrittenEmptyAndNothingIsRemoved()
    {
        const QString path = iniPath("three.ini");
        {
            QSettings raw(path, QSettings::IniFormat);
            raw.setValue(QStringLiteral("Other/Kept"), QStringLiteral("yes"));
            raw.setValue(QStringLiteral("Ports/COM1"), QStringLiteral("/dev/ttyUSB0"));
        }
        Configuration m;
        m.ModemPort = 1;
        m.JobType = 0;
        for (int i = 0; i < 3; ++i)
            m.DownloadList[i] = {QStringLiteral("N%1").arg(i), QStringLiteral("/p%1").arg(i)};
        SettingsStore(path).SaveSettings(m);

        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Other/Kept")).toString(), QStringLiteral("yes"));
        QCOMPARE(raw.value(QStringLiteral("Ports/COM1")).toString(),
                 QStringLiteral("/dev/ttyUSB0"));
        for (int i = 0; i < MaxEntries; ++i) {
            const QString dnld = section("Dnld", i);
            QVERIFY2(raw.contains(dnld + QStringLiteral("/Name")), qPrintable(dnld));
            QVERIFY(raw.contains(dnld + QStringLiteral("/Open From")));
            QCOMPARE(raw.value(dnld + QStringLiteral("/Name")).toString(),
                     i < 3 ? QStringLiteral("N%1").arg(i) : QString());
            // Download entries never land in the upload sections.
            QCOMPARE(raw.value(section("File", i) + QStringLiteral("/Name")).toString(), QString());
            QVERIFY(!raw.contains(section("File", i) + QStringLiteral("/Open From")));
        }
    }

    void emptyStoreGivesDefaults()
    {
        Configuration m = fullModel();
        m.DownloadCount = 3;
        SettingsStore(iniPath("missing.ini")).LoadSettings(m);
        m.deriveCounts();
        Configuration expected;
        expected.ModemPort = 1;
        expected.JobType = 2;
        QVERIFY(m == expected);
    }

    void storedNumbers_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("expectedPort");
        QTest::addColumn<int>("expectedJob");

        QTest::newRow("plain") << "4"
                               << "0" << 4 << 0;
        QTest::newRow("blanks around") << " 2 "
                                       << " 1" << 2 << 1;
        // Out of range but whole numbers: loaded unchanged, the window copes.
        QTest::newRow("port 7, job -1") << "7"
                                        << "-1" << 7 << -1;
        QTest::newRow("not numbers") << "abc"
                                     << "x2" << 1 << 2;
        QTest::newRow("beyond 16 bits") << "99999"
                                        << "-40000" << 1 << 2;
        QTest::newRow("16-bit limits") << "32767"
                                       << "-32768" << 32767 << -32768;
        QTest::newRow("empty texts") << ""
                                     << "" << 1 << 2;
        QTest::newRow("fraction") << "1.5"
                                  << "2e0" << 1 << 2;
    }

    void storedNumbers()
    {
        QFETCH(QString, port);
        QFETCH(QString, job);
        QFETCH(int, expectedPort);
        QFETCH(int, expectedJob);
        const QString path = iniPath(QTest::currentDataTag());
        {
            QSettings raw(path, QSettings::IniFormat);
            raw.setValue(QStringLiteral("Settings/Modem Port"), port);
            raw.setValue(QStringLiteral("Settings/Job"), job);
        }
        Configuration m;
        SettingsStore(path).LoadSettings(m);
        QCOMPARE(int(m.ModemPort), expectedPort);
        QCOMPARE(int(m.JobType), expectedJob);
    }

    void derivedCounts_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("count");

        QTest::newRow("none") << QStringList{} << 0;
        QTest::newRow("three") << QStringList{"A", "B", "C"} << 3;
        QTest::newRow("gap ends the list") << QStringList{"A", "", "C"} << 1;
        QTest::newRow("first empty") << QStringList{"", "B"} << 0;
        QTest::newRow("blank name counts") << QStringList{" ", "B"} << 2;
        QTest::newRow("all eight") << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"} << 8;
    }

    void derivedCounts()
    {
        QFETCH(QStringList, names);
        QFETCH(int, count);
        // Through the store, as the window gets them; paths play no part.
        const QString path = iniPath(QTest::currentDataTag());
        {
            QSettings raw(path, QSettings::IniFormat);
            for (int i = 0; i < names.size(); ++i) {
                raw.setValue(section("Dnld", i) + QStringLiteral("/Name"), names[i]);
                raw.setValue(section("File", i) + QStringLiteral("/Name"), names[i]);
            }
            raw.setValue(QStringLiteral("Dnld8/Open From"), QStringLiteral("/stale/path"));
        }
        Configuration m;
        SettingsStore(path).LoadSettings(m);
        m.deriveCounts();
        QCOMPARE(int(m.DownloadCount), count);
        QCOMPARE(int(m.UploadCount), count);
    }

    void portDevices()
    {
        const QString path = iniPath("ports.ini");
        {
            QSettings raw(path, QSettings::IniFormat);
            raw.setValue(QStringLiteral("Ports/COM2"), QStringLiteral(" /dev/ttyUSB0 "));
            raw.setValue(QStringLiteral("Ports/COM3"), QString());
        }
        const SettingsStore store(path);
        QCOMPARE(store.portDevice(2), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(store.portDevice(1), SettingsStore::defaultPortDevice(1));
        QCOMPARE(store.portDevice(3), SettingsStore::defaultPortDevice(3));
#ifndef Q_OS_WIN
        QCOMPARE(SettingsStore::defaultPortDevice(4), QStringLiteral("/dev/ttyS3"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
