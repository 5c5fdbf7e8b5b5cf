// Frames, checksums, escaping and the exchange, byte for byte.
#include "FakeLine.h"
#include "PacketLink.h"
#include "Portable.h"

#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

Q_DECLARE_METATYPE(Tarvo::Exchange::Outcome)
Q_DECLARE_METATYPE(Tarvo::Exchange::Priority)

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

const QByteArray ACK(1, Byte::ACK);
const QByteArray NAK(1, Byte::NAK);
const QByteArray EOT(1, Byte::EOT);
const QByteArray None; // silence for one whole transmission

struct Line
{
    Line()
    {
        line.open(1, nullptr);
        line.setMode(SerialLine::Mode::Job);
    }
    // The peer answers the i-th write with answers[i]; later writes get silence.
    void script(const QList<QByteArray> &answers)
    {
        line.peer = [this, answers](const QByteArray &) {
            if (m_answered < answers.size())
                line.deliver(answers.at(m_answered));
            ++m_answered;
        };
    }

    VirtualClock clock;
    FakeLine line{clock};
    LineWait wait{line, clock};

private:
    int m_answered = 0;
};

} // namespace

class TestPacketLink : public QObject
{
    Q_OBJECT

private slots:
    void hostFrames_data();
    void hostFrames();
    void escapeBlockExample();
    void parsePacket_data();
    void parsePacket();
    void exchange_data();
    void exchange();
    void nakReadBeforeAckCounts();
    void pendingInputCounts();
    void timeoutIsThousandPolls();
    void resumeKeepsBothCounts();
    void abortEndsExchange();
};

void TestPacketLink::hostFrames_data()
{
    QTest::addColumn<char>("type");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("next-packet request") << 'Y' << QString() << fromHex("02 1B 59 43 47 C1");
    QTest::newRow("end packet") << 'Z' << QString() << fromHex("02 1B 5A 43 48 C1");
    QTest::newRow("message .") << '0' << "." << fromHex("02 1B 30 2E 43 4D C1");
    QTest::newRow("request offset 0")
        << 'U' << "A.TXT[0]" << fromHex("02 1B 55 41 2E 54 58 54 5B 30 5D 49 42 C1");
    QTest::newRow("request offset 120")
        << 'U' << "A.TXT[120]" << fromHex("02 1B 55 41 2E 54 58 54 5B 31 32 30 5D 4F 47 C1");
    QTest::newRow("announce offset 0")
        << 'L' << "A.TXT" << fromHex("02 1B 4C 41 2E 54 58 54 49 4E C1");
    QTest::newRow("announce offset 120")
        << 'L' << "A.TXT[120]" << fromHex("02 1B 4C 41 2E 54 58 54 5B 31 32 30 5D 4E 4E C1");
    QTest::newRow("receiving message")
        << '0' << "RECEIVING A.TXT\r\n"
        << fromHex("02 1B 30") + "RECEIVING A.TXT" + fromHex("0D 0A 46 41 C1");
    QTest::newRow("empty message") << '0' << QString() << fromHex("02 1B 30 40 4E C1");
    // Latin-1 text crosses as one byte per character.
    QTest::newRow("latin-1 text") << '0' << QString(QChar(0xE9))
                                  << bytes({2, 27, '0', 0xE9, 0x4F, 0x48, 0xC1});
}

void TestPacketLink::hostFrames()
{
    QFETCH(char, type);
    QFETCH(QString, body);
    QFETCH(QByteArray, expected);
    QCOMPARE(BuildFrame(type, lineBytes(body)).toHex(' '), expected.toHex(' '));
}

void TestPacketLink::escapeBlockExample()
{
    const std::uint8_t source[] = {92, 0, 65, 159, 160, 220, 255};
    DataBuffer target{};
    QCOMPARE(EscapeBlock(source, target.data(), 7), 11);
    const QByteArray got(reinterpret_cast<const char *>(target.data()), 11);
    QCOMPARE(got.toHex(' '), bytes({92, 92, 92, 128, 65, 159, 92, 32, 220, 92, 127}).toHex(' '));
    QCOMPARE(EscapeBlock(source, target.data(), 0), 0);
}

void TestPacketLink::parsePacket_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("good");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("last");

    QTest::newRow("empty last frame")
        << fromHex("02 1B 5A 47 47 03") << true << QByteArray() << true;
    QTest::newRow("lower-case z is data")
        << portableFrame('z', "AB") << true << QByteArray("AB") << false;
    QTest::newRow("escaped A is 193") << portableFrame('D', "\\A") << true << bytes({193}) << false;
    QTest::newRow("escaped escape is 92")
        << portableFrame('D', "\\\\") << true << bytes({92}) << false;
    QTest::newRow("escaped 131 is 3")
        << portableFrame('D', bytes({92, 131})) << true << bytes({3}) << false;
    QTest::newRow("raw 200 stays 200")
        << portableFrame('D', bytes({200})) << true << bytes({200}) << false;
    QTest::newRow("escaped control byte kept")
        << portableFrame('D', bytes({92, 5})) << true << bytes({5}) << false;
    QTest::newRow("trailing escape dropped")
        << portableFrame('D', "AB\\") << true << QByteArray("AB") << false;
    // The decoder runs over the type character too, unstored.
    QTest::newRow("escape as type escapes the first data")
        << portableFrame('\\', "xAB") << true << bytes({0xF8}) + "AB" << false;
    QTest::newRow("start and header not examined")
        << portableFrame('Z', "Q", 'x', 'y') << true << QByteArray("Q") << true;
    QTest::newRow("text after the ETX ignored")
        << portableFrame('D', "OK") + "\x06garbage" << true << QByteArray("OK") << false;
    QTest::newRow("250 data characters: ETX at 256")
        << portableFrame('D', QByteArray(250, 'a')) << true << QByteArray(250, 'a') << false;

    QTest::newRow("noise before the frame shifts the checksum")
        << QByteArray(5, 'n') + portableFrame('D', "x") << false << QByteArray() << false;
    QTest::newRow("251 data characters: ETX at 257")
        << portableFrame('D', QByteArray(251, 'a')) << false << QByteArray() << false;
    QTest::newRow("ETX at 5") << fromHex("02 1B 5A 47 03") << false << QByteArray() << false;
    QTest::newRow("no ETX") << fromHex("02 1B 5A 47 47") << false << QByteArray() << false;
    QTest::newRow("first ETX decides")
        << fromHex("02 03") + portableFrame('D', "x") << false << QByteArray() << false;
    QTest::newRow("wrong checksum")
        << portableFrame('D', "x").replace('x', 'y') << false << QByteArray() << false;
    // The host's own 193 term must not be part of the portable's checksum.
    QByteArray withEnd = portableFrame('D', "x");
    const int check = (27 + 'D' + 'x' + 3 + 193) % 256;
    withEnd[4] = char(64 + check / 16);
    withEnd[5] = char(64 + check % 16);
    QTest::newRow("host checksum rejected") << withEnd << false << QByteArray() << false;
}

void TestPacketLink::parsePacket()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, good);
    QFETCH(QByteArray, data);
    QFETCH(bool, last);

    DataBuffer buffer{};
    int count = -7;
    bool isLast = !last;
    QCOMPARE(ParsePacket(text, buffer, count, isLast), good);
    if (!good) {
        // Out-parameters are left alone on failure.
        QCOMPARE(count, -7);
        QCOMPARE(isLast, !last);
        return;
    }
    QCOMPARE(count, int(data.size()));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), count), data);
    QCOMPARE(isLast, last);
}

void TestPacketLink::exchange_data()
{
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QByteArray>("watch");
    QTest::addColumn<bool>("ackCounts");
    QTest::addColumn<Exchange::Priority>("priority");
    QTest::addColumn<Exchange::Outcome>("outcome");
    QTest::addColumn<int>("writes");

    using O = Exchange::Outcome;
    const auto nakFirst = Exchange::Priority::NakFirst;
    const auto watchedFirst = Exchange::Priority::WatchedFirst;
    const QByteArray etx(1, Byte::ETX);

    QTest::newRow("ACK") << QList{ACK} << QByteArray() << true << nakFirst << O::Ack << 1;
    QTest::newRow("ACK among other characters") << QList{QByteArray("ab\x06"
                                                                    "cd")}
                                                << QByteArray() << true << nakFirst << O::Ack << 1;
    QTest::newRow("NAK then ACK in one read")
        << QList{NAK + ACK} << QByteArray() << true << nakFirst << O::Ack << 1;
    QTest::newRow("ACK then NAK in one read")
        << QList{ACK + NAK} << QByteArray() << true << nakFirst << O::Ack << 1;
    QTest::newRow("two NAKs then ACK")
        << QList{NAK, NAK, ACK} << QByteArray() << true << nakFirst << O::Ack << 3;
    QTest::newRow("third NAK") << QList{NAK, NAK, NAK} << QByteArray() << true << nakFirst
                               << O::ThirdNak << 3;
    QTest::newRow("third time-out")
        << QList<QByteArray>{} << QByteArray() << true << nakFirst << O::ThirdTimeout << 3;
    QTest::newRow("two NAKs, two time-outs, NAK")
        << QList{NAK, NAK, None, None, NAK} << QByteArray() << true << nakFirst << O::ThirdNak << 5;
    QTest::newRow("two time-outs, two NAKs, time-out")
        << QList{None, None, NAK, NAK, None} << QByteArray() << true << nakFirst << O::ThirdTimeout
        << 5;
    QTest::newRow("EOT watched") << QList{EOT} << EOT << true << nakFirst << O::Watched << 1;
    QTest::newRow("EOT unwatched is noise")
        << QList{EOT, EOT, EOT} << QByteArray() << true << nakFirst << O::ThirdTimeout << 3;
    QTest::newRow("NAK examined before EOT")
        << QList{EOT + NAK, EOT} << EOT << true << nakFirst << O::Watched << 2;
    QTest::newRow("ACK beats EOT") << QList{EOT + ACK} << EOT << true << nakFirst << O::Ack << 1;
    QTest::newRow("ETX beats NAK for the next packet")
        << QList{NAK + portableFrame('D', "x")} << etx << false << watchedFirst << O::Watched << 1;
    QTest::newRow("next packet ignores ACK")
        << QList{ACK, ACK, ACK} << etx << false << watchedFirst << O::ThirdTimeout << 3;
    QTest::newRow("next packet counts NAK")
        << QList{ACK + NAK, NAK, NAK} << etx << false << watchedFirst << O::ThirdNak << 3;
}

void TestPacketLink::exchange()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QByteArray, watch);
    QFETCH(bool, ackCounts);
    QFETCH(Exchange::Priority, priority);
    QFETCH(Exchange::Outcome, outcome);
    QFETCH(int, writes);

    Line l;
    l.script(answers);
    const QByteArray frame = BuildFrame('0', "x");
    Exchange exchange(l.wait, frame, watch, ackCounts, priority);
    QCOMPARE(exchange.run(), outcome);
    QCOMPARE(exchange.writes(), writes);
    QCOMPARE(l.line.writes.size(), writes);
    for (const QByteArray &w : l.line.writes)
        QCOMPARE(w, frame);
    // The received text belongs to the last transmission only.
    if (outcome == Exchange::Outcome::Watched)
        QCOMPARE(exchange.received(), answers.at(writes - 1));
}

void TestPacketLink::nakReadBeforeAckCounts()
{
    // A NAK read in one poll ends that transmission even if an ACK follows
    // a moment later: the ACK then answers the repeated frame.
    Line l;
    l.line.peer = [&l](const QByteArray &) {
        if (l.line.writes.size() == 1) {
            l.line.deliver(NAK, 0);
            l.line.deliver(ACK, 25);
        }
    };
    Exchange exchange(l.wait, BuildFrame('Z', {}));
    QCOMPARE(exchange.run(), Exchange::Outcome::Ack);
    QCOMPARE(exchange.writes(), 2);
}

void TestPacketLink::pendingInputCounts()
{
    // Input that arrived before the frame was written is not thrown away.
    Line l;
    l.line.deliver(ACK);
    Exchange exchange(l.wait, BuildFrame('Z', {}));
    QCOMPARE(exchange.run(), Exchange::Outcome::Ack);
    QCOMPARE(exchange.writes(), 1);
    QCOMPARE(l.clock.sleeps(), 1);
}

void TestPacketLink::timeoutIsThousandPolls()
{
    Line l;
    Exchange exchange(l.wait, BuildFrame('Z', {}));
    QCOMPARE(exchange.run(), Exchange::Outcome::ThirdTimeout);
    QCOMPARE(l.clock.sleeps(), 3 * 1000);
    QCOMPARE(l.clock.now(), 3 * 1000 * 10);
}

void TestPacketLink::resumeKeepsBothCounts()
{
    // One time-out before the third NAK: after the restart two more
    // time-outs end the exchange, so the time-out count was kept.
    Line l;
    l.script({None, NAK, NAK, NAK, NAK, NAK, NAK, None, None});
    Exchange exchange(l.wait, BuildFrame('Y', "data"));
    QCOMPARE(exchange.run(), Exchange::Outcome::ThirdNak);
    QCOMPARE(exchange.writes(), 4);
    // Further NAKs, three of them too, only repeat the frame: the exchange
    // never ends by NAKs a second time.
    QCOMPARE(exchange.resume(), Exchange::Outcome::ThirdTimeout);
    QCOMPARE(exchange.writes(), 9);

    // A new run starts both counts from 0.
    Line fresh;
    fresh.script({NAK, NAK, NAK, NAK, NAK, NAK});
    Exchange again(fresh.wait, BuildFrame('Z', {}));
    QCOMPARE(again.run(), Exchange::Outcome::ThirdNak);
    QCOMPARE(again.run(), Exchange::Outcome::ThirdNak);
    QCOMPARE(again.writes(), 6);
}

void TestPacketLink::abortEndsExchange()
{
    {
        Line l;
        l.clock.onEvents = [&l] {
            if (l.clock.now() >= 500)
                l.line.vanish();
        };
        Exchange exchange(l.wait, BuildFrame('Z', {}));
        QCOMPARE(exchange.run(), Exchange::Outcome::Aborted);
        PacketLink link(l.wait);
        QCOMPARE(link.abortReason(), QStringLiteral("Serial port failed: Input/output error"));
        QVERIFY(!link.SendPacket(QStringLiteral(".")));
        QCOMPARE(l.line.writes.size(), 1);
    }
    {
        Line l;
        l.clock.onEvents = [&l] {
            if (l.clock.now() >= 500)
                l.wait.requestAbort();
        };
        Exchange exchange(l.wait, BuildFrame('Z', {}));
        QCOMPARE(exchange.run(), Exchange::Outcome::Aborted);
        QVERIFY(l.clock.now() < 1000);
        // Once a stop is asked for, nothing more goes out.
        Exchange next(l.wait, BuildFrame('Z', {}));
        QCOMPARE(next.run(), Exchange::Outcome::Aborted);
        QCOMPARE(l.line.writes.size(), 1);
        QCOMPARE(PacketLink(l.wait).abortReason(), QStringLiteral("Transfer stopped"));
    }
}

QTEST_GUILESS_MAIN(TestPacketLink)
#include "test_packetlink.moc"
