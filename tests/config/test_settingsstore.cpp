// The settings store: where it lives, all 34 values travel unchanged,
// missing keys give the defaults, numbers that are not whole 16-bit numbers
// fall back, and the counts come from the leading named slots.
#include "Configuration.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString ini() const { return m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".ini")); }

private slots:
    // Runs first: Qt fixes the per-user folder when the first QSettings is
    // made, and its test mode (which would redirect it) stays off.
    void platformStoreLivesUnderXdgConfigHome()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
        Configuration m;
        m.ModemPort = 3;
        m.DownloadList[0] = {QStringLiteral("INV.CSV"), QStringLiteral("/data/inv.csv")};
        SettingsStore().SaveSettings(m);
        const QString expected = m_dir.filePath(QStringLiteral("Tarvo/Tarvo.conf"));
        QCOMPARE(QFileInfo(SettingsStore().location()).absoluteFilePath(), expected);
        QCOMPARE(QSettings(expected, QSettings::IniFormat).value("Dnld1/Open From").toString(),
                 QStringLiteral("/data/inv.csv"));
    }

    void roundTripKeepsAll34Values()
    {
        Configuration saved;
        saved.ModemPort = 3;
        saved.JobType = 1;
        for (int i = 0; i < MaxEntries; ++i) {
            saved.DownloadList[i] = {QStringLiteral(" D%1 x ").arg(i),
                                     QStringLiteral("/d %1").arg(i)};
            saved.UploadList[i] = {QStringLiteral("U%1").arg(i), QStringLiteral(" /u%1 ").arg(i)};
        }
        saved.DownloadList[4] = {}; // a gap with stale entries behind it
        SettingsStore(ini()).SaveSettings(saved);

        Configuration loaded;
        SettingsStore(ini()).LoadSettings(loaded);
        QVERIFY(loaded == saved);
        const QSettings raw(ini(), QSettings::IniFormat);
        QCOMPARE(raw.allKeys().size(), 34);
        QCOMPARE(raw.value("Settings/Job").toString(), QStringLiteral("1"));
        QCOMPARE(raw.value("File8/Save As").toString(), QStringLiteral(" /u7 "));
        QVERIFY(raw.contains("Dnld5/Open From"));
    }

    void storedNumbers_data()
    {
        QTest::addColumn<QString>("port"); // "-": key missing
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("expectedPort");
        QTest::addColumn<int>("expectedJob");
        QTest::newRow("missing") << "-"
                                 << "-" << 1 << 2;
        QTest::newRow("plain, blanks") << " 4 "
                                       << "0" << 4 << 0;
        QTest::newRow("out of range kept") << "7"
                                           << "-1" << 7 << -1;
        QTest::newRow("not numbers") << "abc"
                                     << "1.5" << 1 << 2;
        QTest::newRow("beyond 16 bits") << "99999"
                                        << "-40000" << 1 << 2;
    }

    void storedNumbers()
    {
        QFETCH(QString, port);
        QFETCH(QString, job);
        {
            QSettings raw(ini(), QSettings::IniFormat);
            if (port != "-")
                raw.setValue("Settings/Modem Port", port);
            if (job != "-")
                raw.setValue("Settings/Job", job);
        }
        Configuration m;
        m.DownloadList[0].Name = QStringLiteral("overwritten");
        SettingsStore(ini()).LoadSettings(m);
        QTEST(int(m.ModemPort), "expectedPort");
        QTEST(int(m.JobType), "expectedJob");
        QVERIFY(m.DownloadList[0].Name.isEmpty());
    }

    void derivedCounts_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("count");
        QTest::newRow("none") << QStringList{} << 0;
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
        m.DownloadList[7].OpenFrom = QStringLiteral("/path/only"); // paths play no part
        m.deriveCounts();
        QTEST(int(m.DownloadCount), "count");
        QTEST(int(m.UploadCount), "count");
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settingsstore.moc"
