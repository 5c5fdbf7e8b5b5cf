// The QSerialPort line on a real pseudo-terminal whose master side the test holds, playing a modem.
#include "FakeLine.h"
#include "ModemControl.h"
#include "QtSerialLine.h"

#include <QSerialPort>
#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

// Answers "\r\nOK\r\n" to each command (ended by CR, or "+++") in each poll, before its events run.
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

    // Bytes from the modem, outside any wait.
    void send(const QByteArray &bytes) const
    {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

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
    qint64 nowMs() const override { return real.nowMs(); }

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
    // Start and Stop in a call. A pty refuses the modem-status ioctls: the DTR changes fail
    // unreported and the call is taken from the call flag.
    void initializeModemOverPty()
    {
        PtyModem peer;
        QtSerialLine line([&](int port) { return port == 3 ? peer.slave : QString(); });
        LineWait wait(line, peer);
        Recorders rec;
        rec.config.ModemPort = 3;
        ModemControl modem(wait, rec.reporter, rec.prompter, rec.controls, rec.state, rec.config);

        modem.InitializeModem();
        QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r"));
        QCOMPARE(rec.reporter.tip(), QString("Waiting call ..."));
        QCOMPARE(line.mode(), SerialLine::Mode::Idle);
        QVERIFY(!line.hasModemLines());

        // The port is held by one line at a time, and says why not.
        QtSerialLine other([&](int) { return peer.slave; });
        QString busy;
        QVERIFY(!other.open(1, &busy));
        QVERIFY2(!busy.isEmpty(), "a busy port must say why");

        rec.state.Connected = true;
        modem.HangUp();
        QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r+++ATH0\rATS0=0\r"));
        QCOMPARE(rec.prompter.questions.size(), 1);
        QCOMPARE(rec.reporter.tip(), QString("Not connected"));
        QVERIFY(!line.isOpen() && rec.reporter.redText().isEmpty());

        // Closed, it leaves the device to others, and a write is no loss.
        QVERIFY(other.open(1, nullptr));
        int lost = 0;
        line.setLostHandler([&] { ++lost; });
        QVERIFY(!line.write("AT\r"));
        QCoreApplication::processEvents();
        QCOMPARE(lost, 0);
    }

    // Idle mode notifies each arrival, drained a byte at a time, nothing from before the open; job
    // mode notifies none, and what came then is handled once idle mode is back with no more bytes.
    void idleNotifications()
    {
        PtyModem peer;
        QtSerialLine line([&](int) { return peer.slave; });
        peer.send("\r\nOK\r\n");
        QVERIFY(line.open(1, nullptr));
        line.setMode(SerialLine::Mode::Idle);
        QByteArray drained;
        int notifications = 0;
        line.setReceiveHandler([&] {
            ++notifications;
            for (QByteArray one; !(one = line.read()).isEmpty(); drained += one)
                QCOMPARE(one.size(), 1);
        });
        peer.send("\r\nRING\r\n");
        QTRY_COMPARE(drained, QByteArray("\r\nRING\r\n"));

        // A job read pulls in what came while no event loop ran.
        line.setMode(SerialLine::Mode::Job);
        peer.send("CONNECT");
        QThread::msleep(20);
        QCOMPARE(line.read(), QByteArray("CONNECT"));
        const int before = notifications;
        peer.send("\r\nNO CARRIER\r\n");
        QTest::qWait(50);
        QCOMPARE(notifications, before);
        line.setMode(SerialLine::Mode::Idle);
        QTRY_COMPARE(drained, QByteArray("\r\nRING\r\n\r\nNO CARRIER\r\n"));
    }

    // A frame bigger than the terminal takes waits for room up to the line's two-second bound, and
    // what is left then waits again at the close: nothing is lost, and the wait leaves no error
    // that would read as the carrier gone.
    void bigWriteGoesOutWhole()
    {
        PtyModem peer;
        QtSerialLine line(
            [&](int) { return peer.slave; },
            {[](QSerialPort &) { return true; }, [](QSerialPort &, bool) { return true; }});
        QVERIFY(line.open(1, nullptr));
        const QByteArray frame(1 << 20, 'x');
        QByteArray arrived;
        std::thread reader([&] {
            QThread::msleep(2500); // past the write's bound
            char buffer[65536];
            for (QDeadlineTimer until(5000);
                 arrived.size() < frame.size() && !until.hasExpired();) {
                const ssize_t n = ::read(peer.master, buffer, sizeof buffer);
                arrived.append(buffer, qMax<ssize_t>(n, 0));
            }
        });
        const bool written = line.write(frame), carrier = line.carrierDetect();
        line.close();
        reader.join();
        QVERIFY(written && carrier);
        QCOMPARE(arrived.size(), frame.size());
    }

    // Stand-in modem-status lines: carrier on, DTR changes noted, then refused by the pty. Carrier
    // reads true after a refused change or an empty read (both leave a port error); a refused read
    // is no carrier, and DSR reads the same way. A vanished device fails the line once, heard once
    // later, then is left alone.
    void modemLinesAndLostDevice()
    {
        PtyModem peer;
        bool refuse = false;
        QList<bool> dtr;
        const auto carrier = [&](QSerialPort &port) {
            if (refuse)
                port.pinoutSignals();
            return true;
        };
        const auto setDtr = [&](QSerialPort &port, bool on) {
            dtr += on;
            return port.setDataTerminalReady(on);
        };
        bool dsr = true;
        const auto ready = [&](QSerialPort &port) { return carrier(port) && dsr; };
        QtSerialLine line([&](int) { return peer.slave; }, {carrier, setDtr, ready});
        QVERIFY(line.open(1, nullptr));
        QVERIFY(line.hasModemLines());
        line.setDtr(false);
        QVERIFY(line.carrierDetect());
        QVERIFY(line.read().isEmpty() && line.carrierDetect());
        QVERIFY(line.modemReady());
        dsr = false;
        QVERIFY(!line.modemReady());
        dsr = true;
        refuse = true;
        QVERIFY(!line.carrierDetect() && !line.modemReady());
        refuse = false;
        QVERIFY(line.carrierDetect() && line.modemReady());

        line.setMode(SerialLine::Mode::Idle);
        int lost = 0, received = 0;
        line.setLostHandler([&] { ++lost; });
        line.setReceiveHandler([&] { ++received; });
        ::close(std::exchange(peer.master, -1));
        QTRY_COMPARE(lost, 1);
        QVERIFY(line.failed() && line.failure().contains(peer.slave));
        line.setDtr(true);
        QVERIFY(!line.write("AT\r") && line.read().isEmpty() && !line.carrierDetect());
        QVERIFY(!line.modemReady());
        QTest::qWait(100);
        QCOMPARE(lost + received, 1);
        QCOMPARE(dtr, QList<bool>{false});
    }

    // A terminal hung up under the open line reads end-of-file, with no error
    // number: the failure names the hang-up, not a stale probe's text.
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
