// The simulated modem on a clock of the test's own: its answers to the AT
// dialogue, when it rings, how calls end, and the line-speed model.
#include "LineModel.h"
#include "ModemEmulator.h"
#include "PortableOptions.h"

#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace Tarvo::Portable;
using namespace std::chrono_literals;

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

struct Rig
{
    QTemporaryDir dir;
    PortableSession portable{
        SessionSettings{dir.path().toStdString(), dir.path().toStdString(), {}}};
    ModemEmulator modem;
    Clock::time_point now = Clock::time_point() + 1000s;

    explicit Rig(ModemSettings settings = {}) : modem(settings, portable)
    {
        modem.setHostPresent(true, now);
    }

    void advance(Clock::duration d)
    {
        now += d;
        modem.tick(now);
    }
    // Everything the modem put out so far, ignoring when it may leave.
    QByteArray output()
    {
        QByteArray all;
        for (const Chunk &chunk : modem.takeOutput())
            all += bytes(chunk.bytes);
        return all;
    }
    QByteArray type(const QByteArray &text)
    {
        for (const char c : text)
            modem.receive(static_cast<unsigned char>(c), now);
        return output();
    }
    void connect()
    {
        type("ATS0=1\r");
        advance(std::chrono::duration_cast<Clock::duration>(ModemSettings().firstCallDelay));
        QVERIFY(modem.online());
        output();
    }
};

const QByteArray ok("\r\nOK\r\n");
const QByteArray error("\r\nERROR\r\n");

} // namespace

class PortableModemTest : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void ringsAfterTheDelays();
    void greetingFollowsConnect();
    void hangUpByEscapeAndAth0();
    void plusSignsInsideAFrameAreData();
    void portableEndsTheCallAfterAllDone();
    void silentHostTimesOut();
    void hostClosingTheLineEndsTheCall();
    void lineModelPacesBothWays();
    void lineModelUnpaced();
    void options_data();
    void options();
};

void PortableModemTest::commands_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("armed");

    QTest::newRow("init") << QByteArray("ATE0V1Q0S0=0\r") << ok << false;
    QTest::newRow("arm") << QByteArray("ATS0=1\r") << ok << true;
    QTest::newRow("arm, then disarm") << QByteArray("ATS0=1\rATS0=0\r") << ok + ok << false;
    QTest::newRow("lower case, spaces, LF") << QByteArray("at s0=2\r\n") << ok << true;
    QTest::newRow("hang up without a call") << QByteArray("ATH0\r") << ok << false;
    QTest::newRow("bare AT") << QByteArray("AT\r") << ok << false;
    QTest::newRow("query S0") << QByteArray("ATS0=3S0?\r") << QByteArray("\r\n003\r\n") + ok
                              << true;
    QTest::newRow("dial is not offered") << QByteArray("ATDT123\r") << error << false;
    QTest::newRow("unknown letter") << QByteArray("ATS0=1J\r") << error << true;
    QTest::newRow("noise before AT") << QByteArray("+++ATS0=1\r") << ok << true;
    QTest::newRow("no AT at all") << QByteArray("HELLO\r") << QByteArray() << false;
    QTest::newRow("no CR yet") << QByteArray("ATS0=1") << QByteArray() << false;
}

void PortableModemTest::commands()
{
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, reply);
    QFETCH(bool, armed);

    Rig rig;
    QCOMPARE(rig.type(typed), reply);
    QCOMPARE(rig.modem.armed(), armed);
}

void PortableModemTest::ringsAfterTheDelays()
{
    ModemSettings settings;
    settings.firstCallDelay = 2s;
    settings.interval = 15s;
    Rig rig(settings);
    rig.advance(10s);
    QCOMPARE(rig.output(), QByteArray()); // not armed: never rings
    QVERIFY(!rig.modem.nextDeadline());

    rig.type("ATS0=1\r");
    rig.advance(1900ms);
    QVERIFY(!rig.modem.inCall());
    QCOMPARE(*rig.modem.nextDeadline(), rig.now + 100ms);
    rig.advance(100ms);
    QVERIFY(rig.modem.online());
    QVERIFY(rig.output().startsWith("\r\nRING\r\n\r\nCONNECT 9600\r\n"));

    rig.type("+++");
    rig.type("ATH0\r");
    QVERIFY(!rig.modem.inCall());
    rig.type("ATS0=1\r"); // already armed: the interval counts from the call's end
    rig.advance(14s);
    QVERIFY(!rig.modem.inCall());
    rig.advance(1s);
    QVERIFY(rig.modem.inCall());

    rig.modem.interrupt(rig.now);
    rig.modem.setRingingAllowed(false);
    rig.advance(60s);
    QVERIFY(!rig.modem.inCall());
    QCOMPARE(rig.modem.callsDone(), 2);
}

void PortableModemTest::greetingFollowsConnect()
{
    Rig rig;
    rig.type("ATS0=1\r");
    rig.advance(2s);
    const auto chunks = rig.modem.takeOutput();
    QCOMPARE(chunks.size(), 3u);
    QCOMPARE(bytes(chunks[0].bytes), QByteArray("\r\nRING\r\n"));
    QCOMPARE(bytes(chunks[1].bytes), QByteArray("\r\nCONNECT 9600\r\n"));
    QCOMPARE(bytes(chunks[2].bytes), QByteArray("Portable ready\r\n"));
    QVERIFY(chunks[0].notBefore < chunks[1].notBefore);
    QCOMPARE(chunks[2].notBefore - chunks[1].notBefore, 200ms);
}

void PortableModemTest::hangUpByEscapeAndAth0()
{
    Rig rig;
    rig.connect();
    QCOMPARE(rig.type("ATH0\r"), QByteArray()); // online: data for the portable
    QVERIFY(rig.modem.online());
    QCOMPARE(rig.type("+++"), ok);
    QVERIFY(rig.modem.inCall());
    QVERIFY(!rig.modem.online());
    QCOMPARE(rig.type("ATH0\r"), ok);
    QVERIFY(!rig.modem.inCall());
    QCOMPARE(rig.type("ATS0=0\r"), ok);
    const auto calls = rig.modem.takeFinishedCalls();
    QCOMPARE(calls.size(), 1u);
    QCOMPARE(QString::fromStdString(calls[0].outcome), QString("host-hangup"));
}

void PortableModemTest::plusSignsInsideAFrameAreData()
{
    Rig rig;
    rig.connect();
    const std::string frame = buildHostFrame('0', "+++ not an escape +++");
    QCOMPARE(rig.type(bytes(frame)), QByteArray("\x06"));
    QVERIFY(rig.modem.online());
    QCOMPARE(rig.type("++x+"), QByteArray()); // interrupted: no escape
    QVERIFY(rig.modem.online());
}

void PortableModemTest::portableEndsTheCallAfterAllDone()
{
    Rig rig;
    rig.connect();
    rig.advance(3s);
    rig.type(bytes(buildHostFrame('0', "\r\nSUCCESS\r\n")));
    QVERIFY(rig.modem.online());
    const Clock::time_point at = rig.now;
    rig.modem.receive(0, at); // noise between frames is ignored
    for (const char c : buildHostFrame('0', "\r\nALL DONE\r\n"))
        rig.modem.receive(static_cast<unsigned char>(c), at);
    QVERIFY(!rig.modem.inCall());
    QVERIFY(rig.modem.armed()); // auto-answer stays armed
    const auto chunks = rig.modem.takeOutput();
    QCOMPARE(bytes(chunks.back().bytes), QByteArray("\r\nNO CARRIER\r\n"));
    QCOMPARE(chunks.back().notBefore, at + 300ms);
    const auto calls = rig.modem.takeFinishedCalls();
    QCOMPARE(calls.size(), 1u);
    QCOMPARE(QString::fromStdString(calls[0].outcome), QString("all-done"));
    QCOMPARE(calls[0].wireIn, qint64(17 + 1 + 18));   // two frames and the noise byte
    QVERIFY(std::abs(calls[0].seconds - 2.9) < 1e-6); // counted from CONNECT
}

void PortableModemTest::silentHostTimesOut()
{
    ModemSettings settings;
    settings.idleTimeout = 30s;
    Rig rig(settings);
    rig.connect();
    rig.advance(20s);
    rig.type(bytes(buildHostFrame('0', ".")));
    rig.advance(29s);
    QVERIFY(rig.modem.inCall());
    rig.advance(1s);
    QVERIFY(!rig.modem.inCall());
    QVERIFY(rig.output().endsWith("\r\nNO CARRIER\r\n"));
    QCOMPARE(QString::fromStdString(rig.modem.takeFinishedCalls().at(0).outcome),
             QString("idle-timeout"));
}

void PortableModemTest::hostClosingTheLineEndsTheCall()
{
    Rig rig;
    rig.connect();
    rig.modem.setHostPresent(false, rig.now);
    QVERIFY(!rig.modem.inCall());
    QCOMPARE(rig.output(), QByteArray()); // nobody to tell
    rig.advance(60s);
    QVERIFY(!rig.modem.inCall()); // no ringing into an empty line
    rig.modem.setHostPresent(true, rig.now);
    rig.advance(15s);
    QVERIFY(rig.modem.inCall());
    QCOMPARE(QString::fromStdString(rig.modem.takeFinishedCalls().at(0).outcome),
             QString("host-gone"));
}

void PortableModemTest::lineModelPacesBothWays()
{
    LineModel line(9600); // 960 bytes a second: 1.0417 ms a byte
    const Clock::time_point t0 = Clock::time_point() + 1s;

    line.arrive(std::string(96, 'a'), t0);
    QVERIFY(!line.takeArrived(t0 + 1ms));
    int arrived = 0;
    while (line.takeArrived(t0 + 50ms))
        ++arrived;
    QCOMPARE(arrived, 48);
    while (line.takeArrived(t0 + 100ms))
        ++arrived;
    QCOMPARE(arrived, 96);

    line.queue("0123456789", t0, t0);
    line.queue("ab", t0 + 500ms, t0); // a delayed chunk waits, and so does all behind it
    line.queue("c", t0, t0);
    QCOMPARE(bytes(line.takeDue(t0 + 5ms)), QByteArray("0123"));
    QCOMPARE(bytes(line.takeDue(t0 + 400ms)), QByteArray("456789"));
    QCOMPARE(bytes(line.takeDue(t0 + 501ms)), QByteArray());
    QCOMPARE(bytes(line.takeDue(t0 + 504ms)), QByteArray("abc"));

    line.queue("xyz", t0, t0 + 1s);
    const std::string due = line.takeDue(t0 + 2s);
    line.putBack(due.substr(1), t0 + 2s); // the port took only one byte
    QCOMPARE(bytes(line.takeDue(t0 + 2s)), QByteArray("yz"));
}

void PortableModemTest::lineModelUnpaced()
{
    LineModel line(0);
    const Clock::time_point t0 = Clock::time_point() + 1s;
    line.arrive("abc", t0);
    QVERIFY(line.takeArrived(t0));
    line.queue("later", t0 + 200ms, t0);
    line.queue("now", t0, t0);
    QCOMPARE(bytes(line.takeDue(t0)), QByteArray()); // order is kept
    QCOMPARE(bytes(line.takeDue(t0 + 200ms)), QByteArray("laternow"));
}

void PortableModemTest::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");

    QTest::newRow("none") << QStringList() << true;
    QTest::newRow("rig's set")
        << QStringList{"--bps",   "0", "--first-call-delay", "0.2",    "--interval",   "0.5",
                       "--calls", "1", "--download-dir",     "/tmp/a", "--upload-dir", "/tmp/b"}
        << true;
    QTest::newRow("inline value") << QStringList{"--nak-random=10", "--seed=7"} << true;
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << false;
    QTest::newRow("missing value") << QStringList{"--bps"} << false;
    QTest::newRow("not a number") << QStringList{"--bps", "fast"} << false;
    QTest::newRow("percent above 100") << QStringList{"--nak-random", "101"} << false;
    QTest::newRow("link with device")
        << QStringList{"--device", "/dev/ttyS0", "--link", "x"} << false;
}

void PortableModemTest::options()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    std::vector<std::string> list;
    for (const QString &arg : args)
        list.push_back(arg.toStdString());
    Options options;
    std::string error;
    QCOMPARE(parseOptions(list, options, error), ok);
    QCOMPARE(error.empty(), ok);
}

QTEST_APPLESS_MAIN(PortableModemTest)
#include "test_portable_modem.moc"
