// The simulated portable's own code, without a pseudo-terminal.
#include "Columns.h"
#include "LineModel.h"
#include "ModemEmulator.h"
#include "PortableSession.h"

#include <QtTest>

using namespace Tarvo::Portable;
using Tarvo::Testing::columns;
using Tarvo::Testing::fetch;
using namespace std::chrono_literals;

const auto bytes = [](const std::string &s) { return QByteArray(s.data(), qsizetype(s.size())); };

class PortableCoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; // serves A.TXT, stores what is announced

private slots:
    void framesAndAnswers_data()
    {
        // data: before escaping answer: to a host frame; none: a portable frame
        columns<char, QByteArray, QByteArray, QByteArray>("type", "data", "wire", "answer");
        const auto row = [](const char *name, char type, QByteArray data, const char *hex,
                            const char *answer = nullptr) {
            QTest::newRow(name) << type << data << QByteArray::fromHex(hex) << QByteArray(answer);
        };
        const char *ack = "\x06", *nak = "\x15", *eot = "\x04";

        row("host: next-packet request, nothing open", 'Y', "", "021B594347C1", nak);
        row("host: announce at 120", 'L', "A.TXT[120]", "021B4C412E5458545B3132305D4E4EC1", ack);
        row("host: request, present file", 'U', "A.TXT[0]", "021B55412E5458545B305D4942C1", ack);
        row("host: missing file", 'U', "NONE.TXT[0]", "021B554E4F4E452E5458545B305D4844C1", eot);
        // ESC + U + "..[0]" = 436, + 193 + 7 characters = 636 -> 124 = "GL".
        row("host: request, a folder", 'U', "..[0]", "021B552E2E5B305D474CC1", eot);
        row("host: message", '0', "RECEIVING A.TXT\r\n",
            "021B30524543454956494E4720412E5458540D0A4641C1", ack);
        row("portable: empty last frame", 'Z', "", "021B5A474703");
        // ESC + D + "A" = 27 + 68 + 65 = 160, plus 3 characters = 163 = 0xA3.
        row("portable: one byte", 'D', "A", "021B44414A4303");
        // 193 travels as "\" "A"; 27 + 68 + 92 + 65 + 4 = 256 -> 0.
        row("portable: escaped 193", 'D', "\xc1", "021B445C41404003");
    }

    void framesAndAnswers()
    {
        auto [type, data, wire, answer] =
            fetch<char, QByteArray, QByteArray, QByteArray>("type", "data", "wire", "answer");

        const std::string raw = data.toStdString();
        QCOMPARE(bytes(answer.isEmpty() ? buildPortableFrame(type, escapeData(raw))
                                        : buildHostFrame(type, raw)),
                 wire);
        if (answer.isEmpty())
            return;
        QFile served(m_dir.filePath("A.TXT"));
        QVERIFY(served.open(QIODevice::WriteOnly) && served.write("content") == 7 &&
                served.flush());
        const auto answerTo = [dir = m_dir.path().toStdString()](const QByteArray &in, bool eot) {
            PortableSession session(SessionSettings{dir, dir, Faults{.eot = eot}});
            session.beginCall();
            for (const char c : in)
                session.receive(static_cast<unsigned char>(c));
            return bytes(session.takeOutput());
        };
        QCOMPARE(answerTo(wire, false), answer);
        // The EOT fault refuses every request and nothing else.
        QCOMPARE(answerTo(wire, true), type == 'U' ? QByteArray("\x04") : answer);
        QByteArray damaged = wire;
        damaged[damaged.size() - 2] ^= 1; // a checksum character
        QCOMPARE(answerTo(damaged, false), QByteArray("\x15"));
    }

    void lineModelPacesBothWays()
    {
        LineModel line(9600); // 960 bytes a second: ten bits a byte
        const LineModel::Clock::time_point t0{1s};

        line.arrive(std::string(96, 'a'), t0);
        int arrived = 0;
        while (line.takeArrived(t0 + 50ms))
            ++arrived;
        QCOMPARE(arrived, 48);

        line.queue("0123456789", t0, t0);
        line.queue("ab", t0 + 500ms, t0); // a delayed chunk waits, and so does all behind it
        line.queue("c", t0, t0);
        QCOMPARE(bytes(line.takeDue(t0 + 5ms)), QByteArray("0123"));
        QCOMPARE(bytes(line.takeDue(t0 + 400ms)), QByteArray("456789"));
        QCOMPARE(bytes(line.takeDue(t0 + 501ms)), QByteArray());
        QCOMPARE(bytes(line.takeDue(t0 + 504ms)), QByteArray("abc"));
    }

    void nextRingWaitsForNoCarrier()
    {
        PortableSession portable({m_dir.path().toStdString(), m_dir.path().toStdString(), {}});
        ModemEmulator modem(ModemSettings{.interval = 125ms, .endToNoCarrier = 500ms}, portable);
        modem.setHostPresent(true, Clock::time_point{});
        for (const char c : std::string("ATS0=1\r"))
            modem.receive(static_cast<unsigned char>(c), Clock::time_point{});
        modem.tick(*modem.nextDeadline()); // rings, and the call is up

        const Clock::time_point end = Clock::time_point{} + 5s;
        for (const char c : buildHostFrame('0', "ALL DONE\r\n"))
            modem.receive(static_cast<unsigned char>(c), end);
        Clock::time_point noCarrier{};
        for (const Chunk &chunk : modem.takeOutput())
            if (chunk.bytes == "\r\nNO CARRIER\r\n")
                noCarrier = chunk.notBefore;
        QCOMPARE(noCarrier, end + 500ms);
        QCOMPARE(*modem.nextDeadline(),
                 noCarrier + 125ms); // not from the call's end, 500 ms sooner
    }
};

QTEST_APPLESS_MAIN(PortableCoreTest)
#include "test_portable_core.moc"
