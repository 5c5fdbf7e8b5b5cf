// The QSerialPort line on a real pseudo-terminal: the test holds the master
// side and plays the modem there, the line opens the slave path.
#include "LineWait.h"
#include "ModemControl.h"
#include "QtSerialLine.h"

#include "Configuration.h"
#include "FakeLine.h"
#include "ServerState.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

class PtyPair
{
public:
    PtyPair()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_slave = QString::fromLocal8Bit(ptsname(m_master));
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() { closeMaster(); }

    bool ok() const { return m_master >= 0 && !m_slave.isEmpty(); }
    int master() const { return m_master; }
    QString slave() const { return m_slave; }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    void send(const QByteArray &bytes) const
    {
        QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // What the line wrote, waiting up to timeoutMs for the first byte
    // without running any event loop.
    QByteArray take(int timeoutMs = 500) const
    {
        QByteArray got;
        pollfd pfd{m_master, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return got;
        char buffer[512];
        ssize_t n;
        while ((n = ::read(m_master, buffer, sizeof buffer)) > 0)
            got.append(buffer, n);
        return got;
    }

private:
    int m_master = -1;
    QString m_slave;
};

// A Hayes modem on the master side: every command that ends in CR (and
// "+++") is answered "\r\nOK\r\n" from the event loop.
class PtyModem
{
public:
    explicit PtyModem(const PtyPair &pty)
        : m_pty(pty), m_notifier(pty.master(), QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                         [this] { takeInput(); });
    }

    QByteArray received;

private:
    void takeInput()
    {
        const QByteArray bytes = m_pty.take(0);
        received += bytes;
        m_pending += bytes;
        while (true) {
            qsizetype end = m_pending.indexOf('\r');
            if (m_pending.startsWith("+++"))
                end = 2;
            if (end < 0)
                break;
            m_pending.remove(0, end + 1);
            m_pty.send("\r\nOK\r\n");
        }
    }

    const PtyPair &m_pty;
    QSocketNotifier m_notifier;
    QByteArray m_pending;
};

void spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

class TestQtSerialLine : public QObject
{
    Q_OBJECT

private slots:
    void openFailures();
    void ptyHasNoModemLines();
    void staleInputIsDropped();
    void jobReadSeesBytesWithoutEventLoop();
    void idleModeNotifiesAndReadsOneByte();
    void idleModeAfterJobSeesBufferedBytes();
    void closeInsideReceiveHandler();
    void masterClosedFailsOnce();
    void initializeModemOverPty();
};

void TestQtSerialLine::openFailures()
{
    QString error;
    QtSerialLine missing([](int) { return QStringLiteral("/dev/tarvo-no-such-tty"); });
    QVERIFY(!missing.open(1, &error));
    QVERIFY2(error.contains(QLatin1String("No such file")), qPrintable(error));
    QVERIFY(!missing.isOpen());

    QtSerialLine unmapped([](int) { return QString(); });
    QVERIFY(!unmapped.open(3, &error));
    QVERIFY(error.contains(QLatin1String("COM3")));

    PtyPair pty;
    QVERIFY(pty.ok());
    int asked = 0;
    QtSerialLine first([&](int port) {
        asked = port;
        return pty.slave();
    });
    QVERIFY(first.open(4, &error));
    QCOMPARE(asked, 4);
    QtSerialLine second([&](int) { return pty.slave(); });
    error.clear();
    QVERIFY(!second.open(4, &error));
    QVERIFY2(!error.isEmpty(), "a busy port must say why");
    QVERIFY(!first.open(4, &error)); // already open
    first.close();
    first.close();
    QVERIFY(second.open(4, &error));
}

void TestQtSerialLine::ptyHasNoModemLines()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    QVERIFY(!line.hasModemLines());
    line.setDtr(false);
    line.setDtr(true);
    QVERIFY(!line.carrierDetect());
    QVERIFY(!line.failed());
    // The refused ioctls must not have spoiled the line for data, and what
    // is written leaves without help from the event loop.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    QVERIFY(line.write(all));
    QCOMPARE(pty.take(), all);
}

void TestQtSerialLine::staleInputIsDropped()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    pty.send("\r\nOK\r\n");
    spin(50);
    line.close();
    // Left over from the session before: must not answer the next command.
    pty.send("\r\nOK\r\n");
    spin(50);
    QVERIFY(line.open(1, nullptr));
    spin(50);
    QCOMPARE(line.read(), QByteArray());
    pty.send("fresh");
    spin(50);
    QCOMPARE(line.read(), QByteArray("fresh"));
}

void TestQtSerialLine::jobReadSeesBytesWithoutEventLoop()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    line.setMode(SerialLine::Mode::Job);
    QByteArray all;
    for (int b = 255; b >= 0; --b)
        all += char(b);
    pty.send(all);
    QThread::msleep(20); // a poll's sleep: no events processed
    QByteArray got = line.read();
    for (int i = 0; i < 10 && got.size() < all.size(); ++i) {
        QThread::msleep(10);
        got += line.read();
    }
    QCOMPARE(got, all);
    QCOMPARE(line.read(), QByteArray());
    QVERIFY(!line.failed());
}

void TestQtSerialLine::idleModeNotifiesAndReadsOneByte()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    line.setMode(SerialLine::Mode::Idle);
    int notifications = 0;
    QByteArray drained;
    line.setReceiveHandler([&] {
        ++notifications;
        QByteArray one;
        while (!(one = line.read()).isEmpty()) {
            QCOMPARE(one.size(), 1);
            drained += one;
        }
    });
    spin(30);
    QCOMPARE(notifications, 0);
    pty.send("\r\nRING\r\n");
    spin(100);
    QVERIFY(notifications >= 1);
    QCOMPARE(drained, QByteArray("\r\nRING\r\n"));

    // Job mode: arriving data raises nothing and waits for a read.
    line.setMode(SerialLine::Mode::Job);
    const int before = notifications;
    pty.send("data");
    spin(60);
    QCOMPARE(notifications, before);
    QCOMPARE(line.read(), QByteArray("data"));
}

void TestQtSerialLine::idleModeAfterJobSeesBufferedBytes()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    line.setMode(SerialLine::Mode::Job);
    QByteArray drained;
    line.setReceiveHandler([&] {
        QByteArray one;
        while (!(one = line.read()).isEmpty())
            drained += one;
    });
    pty.send("\r\nNO CARRIER\r\n");
    spin(60); // buffered by the event loop, no notification in job mode
    QVERIFY(drained.isEmpty());
    line.setMode(SerialLine::Mode::Idle);
    spin(60);
    QCOMPARE(drained, QByteArray("\r\nNO CARRIER\r\n"));
}

void TestQtSerialLine::closeInsideReceiveHandler()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    line.setMode(SerialLine::Mode::Idle);
    int notifications = 0;
    line.setReceiveHandler([&] {
        ++notifications;
        line.close();
    });
    pty.send("RING");
    spin(80);
    QCOMPARE(notifications, 1);
    QVERIFY(!line.isOpen());
    QCOMPARE(line.read(), QByteArray());
    QVERIFY(!line.write("x"));
    QVERIFY(line.open(1, nullptr));
}

void TestQtSerialLine::masterClosedFailsOnce()
{
    PtyPair pty;
    QtSerialLine line([&](int) { return pty.slave(); });
    QVERIFY(line.open(1, nullptr));
    line.setMode(SerialLine::Mode::Idle);
    int lost = 0;
    int notifications = 0;
    line.setLostHandler([&] { ++lost; });
    line.setReceiveHandler([&] { ++notifications; });
    spin(20);

    pty.closeMaster();
    spin(300);

    QCOMPARE(lost, 1);
    QVERIFY(line.failed());
    QVERIFY(!line.failure().isEmpty());
    QVERIFY(line.isOpen()); // until the owner closes it
    QCOMPARE(line.read(), QByteArray());
    QVERIFY(!line.write("AT\r"));
    line.setMode(SerialLine::Mode::Job);
    QCOMPARE(line.read(), QByteArray());
    spin(100);
    QCOMPARE(lost, 1);
    QCOMPARE(notifications, 0);
    line.close();
    line.close();
    QVERIFY(!line.isOpen());
}

void TestQtSerialLine::initializeModemOverPty()
{
    PtyPair pty;
    QVERIFY(pty.ok());
    PtyModem peer(pty);
    QtSerialLine line([&](int port) { return port == 3 ? pty.slave() : QString(); });
    RealWaiter waiter;
    LineWait wait(line, waiter);
    RecordingReporter reporter;
    ScriptedPrompter prompter;
    RecordingControls controls;
    ServerState state;
    Configuration config;
    config.ModemPort = 3;
    ModemControl modem(wait, reporter, prompter, controls, state, config);

    QElapsedTimer timer;
    timer.start();
    modem.InitializeModem();
    QVERIFY2(timer.elapsed() < 3000, "each OK should take a few polls, not the whole bound");

    QCOMPARE(reporter.tip(), QStringLiteral("Waiting call ..."));
    QVERIFY(state.PortOpened);
    QVERIFY(state.AutoAnswerOn);
    QCOMPARE(line.mode(), SerialLine::Mode::Idle);
    QVERIFY(!line.hasModemLines());
    QCOMPARE(controls.startStop, QStringLiteral("Stop"));
    QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r"));

    // A call that the modem reported: on a pty the carrier comes from the flag.
    state.Connected = true;
    QVERIFY(modem.carrierPresent());
    prompter.answers = {true};
    timer.restart();
    modem.HangUp();
    QVERIFY(timer.elapsed() < 3000);
    QCOMPARE(peer.received, QByteArray("ATE0V1Q0S0=0\rATS0=1\r+++ATH0\rATS0=0\r"));
    QCOMPARE(reporter.tip(), QStringLiteral("Not connected"));
    QVERIFY(!line.isOpen());
    QVERIFY(!state.PortOpened);
    QVERIFY(reporter.redText().isEmpty());
}

QTEST_GUILESS_MAIN(TestQtSerialLine)
#include "test_qtserialline.moc"
