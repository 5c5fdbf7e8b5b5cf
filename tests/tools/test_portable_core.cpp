// The simulated portable's own code without a pseudo-terminal: frames against
// byte sequences written out by hand rather than produced by the code, the
// checksum check, escaping, its answers to requests, and the line's speed.
#include "LineModel.h"
#include "ModemEmulator.h"
#include "PortableSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo::Portable;
using namespace std::chrono_literals;

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace

class PortableCoreTest : public QObject
{
    Q_OBJECT

private slots:
    void framesMatchTheWire_data();
    void framesMatchTheWire();
    void damagedHostFramesAreRejected_data();
    void damagedHostFramesAreRejected();
    void everySingleByteChangeIsCaught();
    void escapingRoundTripsEveryByte();
    void answersToHostFrames_data();
    void answersToHostFrames();
    void lineModelPacesBothWays();
    void nextRingWaitsForNoCarrier();
};

void PortableCoreTest::framesMatchTheWire_data()
{
    QTest::addColumn<bool>("fromHost");
    QTest::addColumn<char>("type");
    QTest::addColumn<QByteArray>("data"); // decoded, for the portable's frames
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("host: next-packet request")
        << true << 'Y' << QByteArray() << QByteArray::fromHex("021B594347C1");
    QTest::newRow("host: end") << true << 'Z' << QByteArray()
                               << QByteArray::fromHex("021B5A4348C1");
    QTest::newRow("host: dot message")
        << true << '0' << QByteArray(".") << QByteArray::fromHex("021B302E434DC1");
    QTest::newRow("host: announce")
        << true << 'L' << QByteArray("A.TXT") << QByteArray::fromHex("021B4C412E545854494EC1");
    QTest::newRow("host: announce at 120")
        << true << 'L' << QByteArray("A.TXT[120]")
        << QByteArray::fromHex("021B4C412E5458545B3132305D4E4EC1");
    QTest::newRow("host: request at 0") << true << 'U' << QByteArray("A.TXT[0]")
                                        << QByteArray::fromHex("021B55412E5458545B305D4942C1");
    QTest::newRow("host: message") << true << '0' << QByteArray("RECEIVING A.TXT\r\n")
                                   << QByteArray("\x02\x1b\x30RECEIVING A.TXT\r\n\x46\x41\xc1");
    QTest::newRow("portable: empty last frame")
        << false << 'Z' << QByteArray() << QByteArray::fromHex("021B5A474703");
    // ESC + D + "A" = 27 + 68 + 65 = 160, plus 3 characters = 163 = 0xA3.
    QTest::newRow("portable: one byte")
        << false << 'D' << QByteArray("A") << QByteArray::fromHex("021B44414A4303");
    // 193 travels as "\" "A"; 27 + 68 + 92 + 65 + 4 = 256 -> 0.
    QTest::newRow("portable: escaped 193")
        << false << 'D' << QByteArray("\xc1") << QByteArray::fromHex("021B445C41404003");
}

void PortableCoreTest::framesMatchTheWire()
{
    QFETCH(bool, fromHost);
    QFETCH(char, type);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);

    const std::string raw = data.toStdString();
    const std::string built =
        fromHost ? buildHostFrame(type, raw) : buildPortableFrame(type, escapeData(raw));
    QCOMPARE(bytes(built), wire);
    // The portable's receiver stops at the first ETX, whatever follows it.
    const auto parsed = fromHost ? parseHostFrame(wire.toStdString())
                                 : parsePortableFrame(wire.toStdString() + "trailing");
    QVERIFY(parsed);
    QCOMPARE(parsed->type, type);
    QCOMPARE(bytes(parsed->body), data);
}

void PortableCoreTest::damagedHostFramesAreRejected_data()
{
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("no end byte") << QByteArray::fromHex("021B594347");
    QTest::newRow("no STX") << QByteArray::fromHex("1B594347C1");
    QTest::newRow("header not ESC") << QByteArray::fromHex("021C594348C1");
    QTest::newRow("five bytes") << QByteArray::fromHex("021B4347C1");
    QTest::newRow("portable's checksum (no 193 term)") << QByteArray::fromHex("021B5A4747C1");
}

void PortableCoreTest::damagedHostFramesAreRejected()
{
    QFETCH(QByteArray, wire);
    QVERIFY(!parseHostFrame(wire.toStdString()));
}

void PortableCoreTest::everySingleByteChangeIsCaught()
{
    // Bytes 1..n+2 are covered by the checksum or are the checksum.
    const std::string good = buildHostFrame('Y', escapeData("some \\ data \x01\xff"));
    for (std::size_t i = 1; i + 1 < good.size(); ++i) {
        for (const int delta : {1, 7, 128}) {
            std::string bad = good;
            bad[i] = char(static_cast<unsigned char>(bad[i]) + delta);
            if (static_cast<unsigned char>(bad[i]) == HostEnd)
                continue; // an early end byte is another kind of damage
            QVERIFY2(!parseHostFrame(bad), qPrintable(QString("byte %1 +%2").arg(i).arg(delta)));
        }
    }
}

void PortableCoreTest::escapingRoundTripsEveryByte()
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, char(b));
        all += one;
        const std::string escaped = escapeData(one);
        QCOMPARE(escaped.size(), (b == 92 || b < 32 || (b >= 160 && b != 220)) ? 2u : 1u);
        QCOMPARE(bytes(unescapeData(escaped)), bytes(one));
    }
    const std::string escaped = escapeData(all);
    QCOMPARE(bytes(unescapeData(escaped)), bytes(all));
    // Nothing that could be taken for ETX or the host's end byte travels raw.
    for (const char c : escaped) {
        const auto b = static_cast<unsigned char>(c);
        QVERIFY2(b >= 32 && (b < 160 || b == 220), qPrintable(QString::number(b)));
    }
}

void PortableCoreTest::answersToHostFrames_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("eotFault");
    QTest::addColumn<QByteArray>("answer");

    const auto frame = [](char type, const char *body) {
        return bytes(buildHostFrame(type, body));
    };
    QByteArray corrupted = frame('L', "A.TXT");
    corrupted[corrupted.size() - 2] = char(corrupted[corrupted.size() - 2] ^ 1);
    const QByteArray ack("\x06"), nak("\x15"), eot("\x04");

    QTest::newRow("present file") << frame('U', "IN.TXT[0]") << false << ack;
    QTest::newRow("missing file") << frame('U', "NONE.TXT[0]") << false << eot;
    QTest::newRow("a folder is no file") << frame('U', "..[0]") << false << eot;
    QTest::newRow("EOT fault") << frame('U', "IN.TXT[0]") << true << eot;
    QTest::newRow("corrupted announce") << corrupted << false << nak;
}

void PortableCoreTest::answersToHostFrames()
{
    QFETCH(QByteArray, wire);
    QFETCH(bool, eotFault);
    QFETCH(QByteArray, answer);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("received"));
    QFile served(dir.filePath("IN.TXT"));
    QVERIFY(served.open(QIODevice::WriteOnly) && served.write("content") == 7);
    served.close();
    Faults faults;
    faults.eot = eotFault;
    PortableSession session(
        SessionSettings{dir.filePath("received").toStdString(), dir.path().toStdString(), faults});
    session.beginCall();
    const auto send = [&](const QByteArray &bytesIn) {
        for (const char c : bytesIn)
            session.receive(static_cast<unsigned char>(c));
        return bytes(session.takeOutput());
    };

    QCOMPARE(send(wire), answer);
    // A refused request opens nothing: the next-packet request finds no file.
    const QByteArray next = send(bytes(buildHostFrame('Y', "")));
    if (answer == "\x06")
        QVERIFY(parsePortableFrame(next.toStdString()));
    else
        QCOMPARE(next, QByteArray("\x15"));
    QVERIFY(QDir(dir.filePath("received")).isEmpty());
}

void PortableCoreTest::lineModelPacesBothWays()
{
    LineModel line(9600); // 960 bytes a second: ten bits a byte
    const LineModel::Clock::time_point t0{1s};

    line.arrive(std::string(96, 'a'), t0);
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
}

void PortableCoreTest::nextRingWaitsForNoCarrier()
{
    QTemporaryDir dir;
    PortableSession portable(
        SessionSettings{dir.path().toStdString(), dir.path().toStdString(), {}});
    ModemSettings settings;
    settings.interval = Seconds(0.05); // far shorter than the wait for "NO CARRIER"
    ModemEmulator modem(settings, portable);
    const Clock::time_point t0{};
    const auto host = [&](const std::string &bytesIn, Clock::time_point at) {
        for (const char c : bytesIn)
            modem.receive(static_cast<unsigned char>(c), at);
    };
    modem.setHostPresent(true, t0);
    host("ATS0=1\r", t0);
    modem.tick(*modem.nextDeadline());
    QVERIFY(modem.inCall());

    const Clock::time_point end = t0 + 5s;
    host(buildHostFrame('0', "ALL DONE\r\n"), end);
    QVERIFY(!modem.inCall());
    Clock::time_point noCarrier{};
    for (const Chunk &chunk : modem.takeOutput())
        if (chunk.bytes == "\r\nNO CARRIER\r\n")
            noCarrier = chunk.notBefore;
    QCOMPARE(noCarrier, end + std::chrono::duration_cast<Clock::duration>(settings.endToNoCarrier));
    QCOMPARE(*modem.nextDeadline(),
             noCarrier + std::chrono::duration_cast<Clock::duration>(settings.interval));
}

QTEST_APPLESS_MAIN(PortableCoreTest)
#include "test_portable_core.moc"
