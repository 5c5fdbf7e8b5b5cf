// The server window with the real modem control on a fake line: what
// happens when Exit is chosen, or the device disappears, while the start
// waits for the modem's answer to arming auto-answer.
#include "FakeLine.h"
#include "LineWait.h"
#include "LogFile.h"
#include "ModemControl.h"
#include "ServerState.h"
#include "TrayIcon.h"
#include "frmServer.h"

#include "Configuration.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

class QuietTray final : public TrayIcon
{
public:
    void add(const QIcon &, const QString &text) override { tip = text; }
    void setTip(const QString &text) override { tip = text; }
    void remove() override { removed = true; }
    void setMenu(QMenu *) override {}
    bool isAvailable() const override { return true; }
    QString tip;
    bool removed = false;
};

} // namespace

class ServerModemTest : public QObject
{
    Q_OBJECT

private slots:
    void interruptedStart_data();
    void interruptedStart();
};

void ServerModemTest::interruptedStart_data()
{
    QTest::addColumn<bool>("deviceLost"); // otherwise: Exit from the tray menu
    QTest::newRow("Exit from the tray") << false;
    QTest::newRow("device pulled") << true;
}

void ServerModemTest::interruptedStart()
{
    QFETCH(bool, deviceLost);

    QTemporaryDir dir;
    LogFile log(dir.path());
    ServerState state;
    QuietTray tray;
    ScriptedPrompter prompter;
    Configuration config;
    config.ModemPort = 2;
    VirtualClock clock;
    FakeLine line(clock);
    LineWait wait(line, clock);
    frmServer server(state, log, tray, prompter, config, {}, {});
    ModemControl modem(wait, server, prompter, server, state, config);
    server.attachModem(modem, &wait);
    server.setPortLostHandler([&] { modem.handlePortLost(); });
    line.setLostHandler([&] { server.portLost(); });

    // The modem answers everything but the arming of auto-answer.
    line.peer = [&](const QByteArray &written) {
        if (written != "ATS0=1\r")
            line.deliver("OK\r\n", 30);
    };
    bool interrupted = false;
    clock.onEvents = [&] {
        if (interrupted || clock.now() < 500 || !line.written().contains("ATS0=1"))
            return;
        interrupted = true;
        if (deviceLost)
            line.vanish();
        else
            server.trayMenu()->findChild<QAction *>("mPopExit")->trigger();
        QVERIFY(!server.isUnloaded());
        QVERIFY(line.isOpen());
    };

    server.Form_Load();
    server.Form_Activate();

    QVERIFY(interrupted);
    QVERIFY2(clock.now() < 1000, "the interrupted wait must end at once");
    QCOMPARE(line.opens, 1);
    QCOMPARE(line.closes, 1);
    QVERIFY(!state.PortOpened);
    QVERIFY(!wait.aborted() || line.failed());
    QCOMPARE(server.isUnloaded(), !deviceLost);
    QCOMPARE(tray.removed, !deviceLost);
    QCOMPARE(server.findChild<QPushButton *>("cmdWaitingCall")->text(), QString("Start"));
    QVERIFY(server.findChild<QPushButton *>("cmdWaitingCall")->isEnabled());
    QVERIFY(!QApplication::overrideCursor());
    if (deviceLost) {
        QCOMPARE(prompter.beeps, 1);
        QCOMPARE(tray.tip, QString("Tarvo - Modem port lost"));
        QVERIFY(server.findChild<QPushButton *>("cmdSettings")->isEnabled());
    }
}

QTEST_MAIN(ServerModemTest)
#include "test_servermodem.moc"
