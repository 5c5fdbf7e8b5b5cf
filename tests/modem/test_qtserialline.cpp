// The QSerialPort line on a real pseudo-terminal: the test holds the master
// side and plays the modem there, the line opens the slave path.
#include "Configuration.h"
#include "FakeLine.h"
#include "ModemControl.h"
#include "QtSerialLine.h"

#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

struct Pty
{
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    QByteArray take() const
    {
        QByteArray got;
        char buffer[512];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        return got;
    }

    int master = -1;
    QString slave;
};

// A Hayes modem on the master side, answering "\r\nOK\r\n" to every command
// (ended by CR, or "+++") at each poll of the wait before its events run.
struct PtyModem final : Waiter
{
    explicit PtyModem(const Pty &pty) : pty(pty) {}
    void processEvents() override
    {
        const QByteArray bytes = pty.take(); // one command at a time, maybe in pieces
        received += bytes;
        if (!bytes.isEmpty() && (received.endsWith('\r') || received.endsWith("+++")))
            QCOMPARE(::write(pty.master, "\r\nOK\r\n", 6), ssize_t(6));
        real.processEvents();
    }
    void sleepMs(int ms) override { real.sleepMs(ms); }

    const Pty &pty;
    RealWaiter real;
    QByteArray received;
};

} // namespace

class TestQtSerialLine : public QObject
{
    Q_OBJECT

private slots:
    // A pty refuses the modem-status ioctls but carries data, and is held by
    // one line at a time.
    void ptyHasNoModemLines()
    {
        Pty pty;
        QtSerialLine line([&](int) { return pty.slave; });
        QtSerialLine other([&](int) { return pty.slave; });
        QVERIFY(line.open(1, nullptr));
        QString busy;
        QVERIFY(!other.open(1, &busy));
        QVERIFY2(!busy.isEmpty(), "a busy port must say why");

        QVERIFY(!line.hasModemLines());
        line.setDtr(false);
        QVERIFY(!line.carrierDetect() && !line.failed());
        QVERIFY(line.write("AT\r")); // still carries data
        QByteArray got;
        QTRY_COMPARE(got += pty.take(), QByteArray("AT\r"));
    }

    void masterClosedFailsOnce()
    {
        Pty pty;
        QtSerialLine line([&](int) { return pty.slave; });
        QVERIFY(line.open(1, nullptr));
        line.setMode(SerialLine::Mode::Idle);
        int lost = 0;
        line.setLostHandler([&] { ++lost; });

        pty.closeMaster();
        QTRY_COMPARE(lost, 1);
        QVERIFY(line.failed() && !line.failure().isEmpty());
        QVERIFY(!line.write("AT\r"));
        QCOMPARE(line.read(), QByteArray());
        QTest::qWait(100);
        QCOMPARE(lost, 1);
        line.close();
        QVERIFY(!line.isOpen());
    }

    // Start and Stop in a call, the carrier taken from the call flag.
    void initializeModemOverPty()
    {
        Pty pty;
        PtyModem peer(pty);
        QtSerialLine line([&](int port) { return port == 3 ? pty.slave : QString(); });
        LineWait wait(line, peer);
        RecordingReporter reporter;
        ScriptedPrompter prompter;
        RecordingControls controls;
        ServerState state;
        Configuration config;
        config.ModemPort = 3;
        ModemControl modem(wait, reporter, prompter, controls, state, config);

        modem.InitializeModem();
        QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r"));
        QCOMPARE(reporter.tip(), QString("Waiting call ..."));
        QVERIFY(state.AutoAnswerOn);
        QCOMPARE(line.mode(), SerialLine::Mode::Idle);

        state.Connected = true;
        modem.HangUp();
        QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r+++ATH0\rATS0=0\r"));
        QCOMPARE(prompter.questions.size(), 1);
        QCOMPARE(reporter.tip(), QString("Not connected"));
        QVERIFY(!line.isOpen() && reporter.redText().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestQtSerialLine)
#include "test_qtserialline.moc"
