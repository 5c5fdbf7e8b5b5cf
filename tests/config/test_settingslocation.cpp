// The per-user store lives where a Linux user expects it:
// $XDG_CONFIG_HOME/Tarvo/Tarvo.conf. Qt's test mode would redirect the path,
// so it stays off here, and the variable is set before any QSettings exists.
#include "Configuration.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

class TestSettingsLocation : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    }

    void storeWritesUnderXdgConfigHome()
    {
#ifdef Q_OS_WIN
        QSKIP("The registry holds the settings on Windows");
#endif
        const QString expected = m_home.filePath(QStringLiteral("Tarvo/Tarvo.conf"));
        Configuration m;
        m.ModemPort = 3;
        m.JobType = 0;
        m.DownloadList[0] = {QStringLiteral("INV.CSV"), QStringLiteral("/data/inv.csv")};
        {
            SettingsStore store;
            QCOMPARE(QFileInfo(store.location()).absoluteFilePath(), expected);
            store.SaveSettings(m);
        }
        QVERIFY(QFileInfo::exists(expected));
        QSettings raw(expected, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Settings/Modem Port")).toString(), QStringLiteral("3"));
        QCOMPARE(raw.value(QStringLiteral("Dnld1/Open From")).toString(),
                 QStringLiteral("/data/inv.csv"));

        Configuration reloaded;
        SettingsStore().LoadSettings(reloaded);
        QVERIFY(reloaded == m);
    }
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "test_settingslocation.moc"
