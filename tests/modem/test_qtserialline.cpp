// The QSerialPort line on a real pseudo-terminal: the test holds the master
// side and plays a Hayes modem there, the line opens the slave path.
#include "Configuration.h"
#include "FakeLine.h"
#include "ModemControl.h"
#include "QtSerialLine.h"

#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

// Answers "\r\nOK\r\n" to every command (ended by CR, or "+++") at each poll
// of the wait, before its events run.
struct PtyModem final : Waiter
{
    PtyModem()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = QString::fromLocal8Bit(ptsname(master));
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyModem() override { ::close(master); }

    void processEvents() override
    {
        char buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer); // a command may come in pieces
        received.append(buffer, qMax<ssize_t>(n, 0));
        if (n > 0 && (received.endsWith('\r') || received.endsWith("+++")))
            QCOMPARE(::write(master, "\r\nOK\r\n", 6), ssize_t(6));
        real.processEvents();
    }
    void sleepMs(int ms) override { real.sleepMs(ms); }

    int master = -1;
    QString slave;
    RealWaiter real;
    QByteArray received;
};

} // namespace

class TestQtSerialLine : public QObject
{
    Q_OBJECT

private slots:
    // Start and Stop in a call. A pty refuses the modem-status ioctls: the
    // DTR changes fail unreported and the call is taken from the call flag.
    void initializeModemOverPty()
    {
        PtyModem peer;
        QtSerialLine line([&](int port) { return port == 3 ? peer.slave : QString(); });
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
        QCOMPARE(line.mode(), SerialLine::Mode::Idle);
        QVERIFY(!line.hasModemLines());

        // The port is held by one line at a time, and says why not.
        QtSerialLine other([&](int) { return peer.slave; });
        QString busy;
        QVERIFY(!other.open(1, &busy));
        QVERIFY2(!busy.isEmpty(), "a busy port must say why");

        state.Connected = true;
        modem.HangUp();
        QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r+++ATH0\rATS0=0\r"));
        QCOMPARE(prompter.questions.size(), 1);
        QCOMPARE(reporter.tip(), QString("Not connected"));
        QVERIFY(!line.isOpen() && reporter.redText().isEmpty());
    }

    // A terminal hung up under the open line (a modem dropping the line, a
    // vhangup) reads end-of-file, which sets no error number: the failure
    // names the hang-up, not the modem-line probe's stale text.
    void hangUpIsNamed()
    {
        PtyModem peer;
        QtSerialLine line([&](int) { return peer.slave; });
        QVERIFY(line.open(1, nullptr));
        const int other = ::open(QFile::encodeName(peer.slave).constData(), O_RDWR | O_NOCTTY);
        const bool hungUp = ::ioctl(other, TIOCVHANGUP) == 0;
        ::close(other);
        if (!hungUp)
            QSKIP("Hanging up a terminal takes CAP_SYS_ADMIN.");
        for (int polls = 0; polls < 100 && !line.failed(); ++polls)
            line.read();
        QCOMPARE(line.failure(), peer.slave + ": the line was hung up");
    }
};

QTEST_GUILESS_MAIN(TestQtSerialLine)
#include "test_qtserialline.moc"
