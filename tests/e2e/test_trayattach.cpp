// The tray in front of a real tarvod (started as the service manager starts
// it) on the simulated modem: the server's backlog in the pane and its state
// in the tip, Stop and Start reaching the modem through the server, and the
// tray's Exit leaving the server to serve the next call byte for byte.
#include "AttachedTray.h"
#include "FakeLine.h"
#include "FakeTray.h"
#include "LogFile.h"
#include "Portable.h"
#include "PortableRig.h"
#include "StatusPane.h"
#include "TarvodProcess.h"

#include <QtTest>
#include <QtWidgets>

using namespace Tarvo;
using namespace Tarvo::Bench;
using Tarvo::Testing::pattern;

namespace {

// The tray as the program makes it when a server is installed; no
// configuration window is reached here.
struct Tray
{
    QTemporaryDir dir;
    ServerState state;
    LogFile log{dir.path(), {}, dir.filePath("per-user")};
    Testing::FakeTray icon;
    Testing::ScriptedPrompter prompter;
    AttachedTray tray{state,
                      log,
                      icon,
                      prompter,
                      [](QWidget *, Configuration &, SettingsAccess &) { return false; },
                      {}};

    QString pane() { return tray.window().statusPane()->toPlainText(); }
    QPushButton *button(const char *name)
    {
        return tray.window().findChild<QPushButton *>(QLatin1String(name));
    }
};

} // namespace

class TrayAttachTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void trayDrivesTheServerAndLeavesItServing()
    {
        PortableRig rig;
        const QByteArray prices = pattern(3000);
        const QString source = rig.hostPath("prices.txt");
        PortableRig::writeFile(source, prices);
        // The call comes once the tray has come and gone.
        QVERIFY(rig.startPortable(
            {.bitsPerSecond = 38400, .firstCallDelay = 12, .calls = 1, .keepEvents = true}));
        Configuration config;
        config.JobType = DownloadOnly;
        config.DownloadList[0] = {"PRICES.TXT", source};
        TarvodProcess daemon(m_dir.filePath("server"));
        QString error;
        QVERIFY2(daemon.writeSettings(config, rig.ptyPath(), error), qPrintable(error));
        QVERIFY(daemon.start());
        QTRY_VERIFY2_WITH_TIMEOUT(daemon.log().contains("Waiting call ..."),
                                  qPrintable(daemon.log()), 10000);

        qsizetype disarms = 0;
        {
            Tray t;
            t.tray.start(daemon.controlPath());
            // What the server said before the tray came, then its state.
            QTRY_VERIFY2_WITH_TIMEOUT(t.pane().contains("Waiting call ..."), qPrintable(t.pane()),
                                      10000);
            QTRY_COMPARE_WITH_TIMEOUT(t.icon.tip, QStringLiteral("Tarvo - Waiting call ..."), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(t.button("cmdWaitingCall")->text(), QStringLiteral("Stop"),
                                      5000);
            QCOMPARE(t.button("cmdClose")->text(), QStringLiteral("Hide"));

            // Stop, asked in the tray, disarms the modem the server holds.
            t.prompter.answers = {true};
            QTRY_VERIFY_WITH_TIMEOUT(t.button("cmdWaitingCall")->isEnabled(), 5000);
            t.button("cmdWaitingCall")->click();
            QTRY_VERIFY2_WITH_TIMEOUT(rig.events.contains("ATS0=0"), qPrintable(rig.events), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(t.button("cmdWaitingCall")->text(), QStringLiteral("Start"),
                                      10000);
            QCOMPARE(t.prompter.questions.first(), QStringLiteral("Stop Tarvo ?"));

            // Start arms it again.
            const qsizetype armedBefore = rig.events.count("ATS0=1");
            QTRY_VERIFY_WITH_TIMEOUT(t.button("cmdWaitingCall")->isEnabled(), 5000);
            t.button("cmdWaitingCall")->click();
            QTRY_VERIFY2_WITH_TIMEOUT(rig.events.count("ATS0=1") > armedBefore,
                                      qPrintable(rig.events), 15000);
            QTRY_COMPARE_WITH_TIMEOUT(t.button("cmdWaitingCall")->text(), QStringLiteral("Stop"),
                                      10000);

            // Exit: the tray goes, asking only its own question, and sends
            // nothing on its way out (its last events are let run).
            disarms = rig.events.count("ATS0=0");
            t.prompter.answers = {true};
            t.tray.window().mPopExit_Click();
            QTRY_VERIFY_WITH_TIMEOUT(t.tray.window().isUnloaded(), 10000);
            QTest::qWait(1000);
        }

        // The server goes on answering: the call is served byte for byte.
        QTRY_VERIFY2_WITH_TIMEOUT(!rig.summaries.isEmpty(), qPrintable(daemon.log()), 60000);
        QVERIFY2(rig.summaries.first().contains("outcome=all-done"),
                 qPrintable(rig.summaries.first()));
        QCOMPARE(Testing::readFile(rig.receivedFile("PRICES.TXT")), prices);
        QCOMPARE(rig.events.count("ATS0=0"), disarms);
        QCOMPARE(daemon.process().state(), QProcess::Running);
        QVERIFY(daemon.terminate() >= 0);
    }
};

QTEST_MAIN(TrayAttachTest)
#include "test_trayattach.moc"
