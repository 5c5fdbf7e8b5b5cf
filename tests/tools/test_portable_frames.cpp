// Frames, checksums and escaping of the simulated portable, checked against
// byte sequences written out by hand rather than produced by the code.
#include "PortableFrames.h"

#include <QTest>

using namespace Tarvo::Portable;

namespace {

std::string hex(const char *text)
{
    return QByteArray::fromHex(text).toStdString();
}

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

std::string allBytes()
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    return all;
}

} // namespace

class PortableFramesTest : public QObject
{
    Q_OBJECT

private slots:
    void hostFramesMatchTheWire_data();
    void hostFramesMatchTheWire();
    void hostFrameDamageIsRejected_data();
    void hostFrameDamageIsRejected();
    void everySingleByteChangeIsCaught();
    void portableFrames_data();
    void portableFrames();
    void decodingOfReceivedData_data();
    void decodingOfReceivedData();
    void escapingKeepsControlBytesOffTheLine();
    void assemblerCutsFramesOutOfTheStream();
};

void PortableFramesTest::hostFramesMatchTheWire_data()
{
    QTest::addColumn<char>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("next-packet request")
        << 'Y' << QByteArray() << QByteArray::fromHex("021B594347C1");
    QTest::newRow("end") << 'Z' << QByteArray() << QByteArray::fromHex("021B5A4348C1");
    QTest::newRow("dot message") << '0' << QByteArray(".") << QByteArray::fromHex("021B302E434DC1");
    QTest::newRow("announce, offset 0")
        << 'L' << QByteArray("A.TXT") << QByteArray::fromHex("021B4C412E545854494EC1");
    QTest::newRow("announce, offset 120")
        << 'L' << QByteArray("A.TXT[120]")
        << QByteArray::fromHex("021B4C412E5458545B3132305D4E4EC1");
    QTest::newRow("request, offset 0")
        << 'U' << QByteArray("A.TXT[0]") << QByteArray::fromHex("021B55412E5458545B305D4942C1");
    QTest::newRow("request, offset 120") << 'U' << QByteArray("A.TXT[120]")
                                         << QByteArray::fromHex("021B55412E5458545B3132305D4F47C1");
    QTest::newRow("receiving message") << '0' << QByteArray("RECEIVING A.TXT\r\n")
                                       << QByteArray("\x02\x1b\x30RECEIVING A.TXT\r\n\x46\x41\xc1");
}

void PortableFramesTest::hostFramesMatchTheWire()
{
    QFETCH(char, type);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, wire);

    QCOMPARE(bytes(buildHostFrame(type, body.toStdString())), wire);
    const auto parsed = parseHostFrame(wire.toStdString());
    QVERIFY(parsed);
    QCOMPARE(parsed->type, type);
    QCOMPARE(bytes(parsed->body), body);
}

void PortableFramesTest::hostFrameDamageIsRejected_data()
{
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("no end byte") << QByteArray::fromHex("021B594347");
    QTest::newRow("no STX") << QByteArray::fromHex("1B594347C1");
    QTest::newRow("header not ESC") << QByteArray::fromHex("021C594348C1");
    QTest::newRow("five bytes") << QByteArray::fromHex("021B4347C1");
    QTest::newRow("portable checksum (no 193 term)") << QByteArray::fromHex("021B5A4747C1");
}

void PortableFramesTest::hostFrameDamageIsRejected()
{
    QFETCH(QByteArray, wire);
    QVERIFY(!parseHostFrame(wire.toStdString()));
}

void PortableFramesTest::everySingleByteChangeIsCaught()
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

void PortableFramesTest::portableFrames_data()
{
    QTest::addColumn<char>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wire"); // empty: not written out by hand

    QTest::newRow("empty last frame") << 'Z' << QByteArray() << QByteArray::fromHex("021B5A474703");
    // ESC + D + "A" = 27 + 68 + 65 = 160, plus 3 characters = 163 = 0xA3.
    QTest::newRow("one byte") << 'D' << QByteArray("A") << QByteArray::fromHex("021B44414A4303");
    // "\" "A" decodes to 193; 27 + 68 + 92 + 65 + 4 = 256 -> 0.
    QTest::newRow("escaped 193") << 'D' << QByteArray("\xc1")
                                 << QByteArray::fromHex("021B445C41404003");
    QTest::newRow("lower-case z is data") << 'z' << QByteArray("xyz") << QByteArray();
    QTest::newRow("120 bytes of everything")
        << 'D' << bytes(allBytes().substr(100, 120)) << QByteArray();
}

void PortableFramesTest::portableFrames()
{
    QFETCH(char, type);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);

    const std::string frame = buildPortableFrame(type, escapeData(data.toStdString()));
    if (!wire.isEmpty())
        QCOMPARE(bytes(frame), wire);
    QVERIFY(frame.size() <= 256);
    QCOMPARE(frame.find(char(Etx)), frame.size() - 1);

    const auto parsed = parsePortableFrame(frame + "trailing");
    QVERIFY(parsed);
    QCOMPARE(parsed->type, type);
    QCOMPARE(bytes(parsed->body), data);

    std::string corrupted = frame;
    corrupted[corrupted.size() - 2] ^= 1;
    QVERIFY(!parsePortableFrame(corrupted));
}

void PortableFramesTest::decodingOfReceivedData_data()
{
    QTest::addColumn<QByteArray>("escaped");
    QTest::addColumn<QByteArray>("decoded");

    QTest::newRow("\\A") << QByteArray("\\A") << QByteArray("\xc1");
    QTest::newRow("\\\\") << QByteArray("\\\\") << QByteArray("\\");
    QTest::newRow("\\ 131") << QByteArray("\\\x83") << QByteArray("\x03");
    QTest::newRow("lone 200") << QByteArray("\xc8") << QByteArray("\xc8");
    QTest::newRow("220 unchanged") << QByteArray("\xdc") << QByteArray("\xdc");
    QTest::newRow("\\ 200 stays 200") << QByteArray("\\\xc8") << QByteArray("\xc8");
    QTest::newRow("trailing backslash dropped") << QByteArray("ab\\") << QByteArray("ab");
    QTest::newRow("mixed block") << QByteArray("\\\\\\\x80"
                                                        "A\x9f\\ \xdc\\\x7f")
                                          << QByteArray("\x5c\x00\x41\x9f\xa0\xdc\xff", 7);
}

void PortableFramesTest::decodingOfReceivedData()
{
    QFETCH(QByteArray, escaped);
    QFETCH(QByteArray, decoded);
    QCOMPARE(bytes(unescapeData(escaped.toStdString())), decoded);
}

void PortableFramesTest::escapingKeepsControlBytesOffTheLine()
{
    const std::string all = allBytes();
    const std::string escaped = escapeData(all);
    QCOMPARE(bytes(unescapeData(escaped)), bytes(all));
    for (const char c : escaped) {
        const auto b = static_cast<unsigned char>(c);
        QVERIFY2(b >= 32 && (b < 160 || b == 220), qPrintable(QString::number(b)));
    }
    // One byte at a time too: no value depends on its neighbours.
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, char(b));
        const std::string e = escapeData(one);
        QCOMPARE(e.size(), (b == 92 || b < 32 || (b >= 160 && b != 220)) ? 2u : 1u);
        QCOMPARE(bytes(unescapeData(e)), bytes(one));
    }
    QCOMPARE(bytes(escapeData(hex("5C00419FA0DCFF"))), QByteArray("\\\\\\\x80"
                                                                  "A\x9f\\ \xdc\\\x7f"));
}

void PortableFramesTest::assemblerCutsFramesOutOfTheStream()
{
    const std::string first = buildHostFrame('L', "A.TXT");
    const std::string second = buildHostFrame('0', ".");
    // Noise and answers between frames, a truncated frame cut short by a new
    // STX, and an endless one that is given up.
    const std::string stream = std::string("+\x06") + first.substr(0, 4) + first + "\x15" +
                               std::string("\x02") + std::string(400, 'x') + "\x06" + second;

    HostFrameAssembler assembler;
    std::vector<std::string> frames;
    std::string outside;
    for (const char c : stream) {
        switch (assembler.feed(static_cast<unsigned char>(c))) {
        case HostFrameAssembler::Result::Complete:
            frames.push_back(assembler.frame());
            break;
        case HostFrameAssembler::Result::Outside:
            outside += c;
            break;
        default:
            break;
        }
    }
    QCOMPARE(frames.size(), 2u);
    QCOMPARE(bytes(frames[0]), bytes(first));
    QCOMPARE(bytes(frames[1]), bytes(second));
    QVERIFY(outside.starts_with("+\x06\x15"));
    QVERIFY(outside.ends_with("\x06"));
}

QTEST_APPLESS_MAIN(PortableFramesTest)
#include "test_portable_frames.moc"
