// Call handling over the fake line: line assembly in idle mode, the keyword
// branches, and the job with its SUCCESS / ERROR / ALL DONE packets, run by
// the real transfers against a small scripted portable.
#include "FakeHost.h"
#include "Portable.h"

#include <QRegularExpression>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

// The job's SUCCESS, ERROR and ALL DONE messages the portable received.
QStringList jobPackets(const Portable &portable)
{
    QStringList out;
    for (const QString &entry : portable.trace)
        if (QStringList{"SUCCESS", "ERROR", "ALL DONE"}.contains(entry.mid(2).trimmed()))
            out += entry.mid(2).trimmed();
    return out;
}

} // namespace

class CallHandlerTest : public QObject
{
    Q_OBJECT

    // Every host file holds "data", which is also what every upload brings.
    struct Rig : FakeHost
    {
        Portable portable{line};

        Rig()
        {
            portable.answerModem = true;
            portable.source = "data";
            line.open(1, nullptr);
            state.PortOpened = true;
            state.AutoAnswerOn = true;
            line.setMode(SerialLine::Mode::Idle);
        }
    };

    QTemporaryDir m_dir;

    QString hostFile(const QString &name)
    {
        Testing::Rig::write(m_dir.filePath(name), "data");
        return m_dir.filePath(name);
    }

private slots:

    void lineAssembly_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QStringList>("tips");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QByteArray>("left"); // in the line buffer afterwards

        const auto row = [](const char *name, const QByteArray &received, const char *pane,
                            const QStringList &tips, bool connected, const QByteArray &left = {}) {
            QTest::newRow(name) << received << QString(pane) << tips << connected << left;
        };
        row("ring", "\r\nRING\r\n", "RING\r\n", {"RING"}, false);
        row("empty line", "\r\n\r\n", "\r\n", {""}, false);
        row("only CR LF is no line yet", "\r\n", "", {}, false, "\r\n");
        row("connect keeps the ring shown", "\r\nRING\r\n\r\nCONNECT 9600\r\n",
            "RING\r\nCONNECT 9600\r\n", {"RING", "CONNECT 9600"}, true);
        row("lower-case connect is an ordinary line", "\r\nconnect 9600\r\n", "connect 9600\r\n",
            {"connect 9600"}, false);
        row("ring wins over connect", "\r\nRING CONNECT\r\n", "RING CONNECT\r\n", {"RING CONNECT"},
            false);
        row("lone CR stays in the line", "AB\rC\r\n", "AB\rC\r\n", {"AB\rC"}, false);
    }

    void lineAssembly()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, pane);
        QFETCH(QStringList, tips);
        QFETCH(bool, connected);
        QFETCH(QByteArray, left);

        Rig rig;
        rig.receive(received);
        QCOMPARE(rig.reporter.paneText(), pane);
        QCOMPARE(rig.reporter.tips, tips);
        QCOMPARE(rig.state.Connected, connected);
        QCOMPARE(rig.session.calls().lineBuffer(), left);
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
    }

    void noiseCannotGrowTheBuffer()
    {
        Rig rig;
        rig.receive(QByteArray(20000, 'x'));
        QCOMPARE(rig.session.calls().lineBuffer().size(), CallHandler::MaxLineBuffer);
        rig.receive("\r\nRING\r\n");
        QVERIFY(rig.session.calls().lineBuffer().isEmpty());
        QVERIFY(rig.reporter.tip().endsWith(QLatin1String("RING")));
    }

    void job_data()
    {
        QTest::addColumn<int>("jobType");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<int>("failingDownload"); // -1: none
        QTest::addColumn<int>("uploads");
        QTest::addColumn<int>("missingUpload"); // -1: none
        QTest::addColumn<QStringList>("packets");
        QTest::addColumn<int>("requests"); // "U" requests the portable saw

        QTest::newRow("download only, two files")
            << 0 << 2 << -1 << 2 << -1 << QStringList{"SUCCESS", "SUCCESS", "ALL DONE"} << 0;
        QTest::newRow("upload only, second missing")
            << 1 << 0 << -1 << 3 << 1 << QStringList{"SUCCESS", "ERROR"} << 2;
        QTest::newRow("both") << 2 << 1 << -1 << 1 << -1
                              << QStringList{"SUCCESS", "SUCCESS", "ALL DONE"} << 1;
        QTest::newRow("both, second download fails: no upload, no ALL DONE")
            << 2 << 3 << 1 << 2 << -1 << QStringList{"SUCCESS", "ERROR"} << 0;
        QTest::newRow("unknown job runs nothing") << 7 << 2 << -1 << 2 << -1 << QStringList{} << 0;
    }

    void job()
    {
        QFETCH(int, jobType);
        QFETCH(int, downloads);
        QFETCH(int, failingDownload);
        QFETCH(int, uploads);
        QFETCH(int, missingUpload);
        QFETCH(QStringList, packets);
        QFETCH(int, requests);

        Rig rig;
        rig.config.JobType = static_cast<std::int16_t>(jobType);
        for (int i = 0; i < downloads; ++i) {
            const QString name = QStringLiteral("D%1.TXT").arg(i);
            rig.config.DownloadList[i] = {name, hostFile(name)};
            if (i == failingDownload)
                rig.portable.rules += Rule{'L', i, i + 2, QByteArray(1, Byte::NAK)};
        }
        for (int i = 0; i < uploads; ++i) {
            const QString name = QStringLiteral("U%1.TXT").arg(i);
            rig.config.UploadList[i] = {name, m_dir.filePath(QStringLiteral("in-%1.txt").arg(i))};
            if (i == missingUpload)
                rig.portable.rules += Rule{'U', i, i, QByteArray(1, Byte::EOT)};
        }
        rig.config.deriveCounts();

        rig.receive("\r\nCONNECT 9600\r\n");
        rig.receive("Portable ready\r\n");

        QCOMPARE(jobPackets(rig.portable), packets);
        QCOMPARE(int(rig.portable.trace.filter(QRegularExpression("^U ")).size()), requests);
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
        QCOMPARE(rig.session.calls().jobsRun(), 1);
    }

    // A job whose entry fails, in a call whose carrier-detect line reads
    // high throughout, drops during the call, or never goes high (a DCD pin
    // that is not wired). While the call is up the modem is on line and
    // answers no command. ERROR goes out only while the carrier may be
    // there, the call is ended without its "NO CARRIER" line only when a
    // carrier that was seen has gone, and the next call is handled in
    // every case.
    void carrier_data()
    {
        QTest::addColumn<bool>("modemLines");
        QTest::addColumn<QString>("dcd"); // high, drops or low
        QTest::addColumn<bool>("connect");
        QTest::addColumn<bool>("errorSent");
        QTest::addColumn<bool>("endedByJob");

        QTest::newRow("carrier held") << true << "high" << true << true << false;
        QTest::newRow("carrier drops") << true << "drops" << true << false << true;
        QTest::newRow("DCD never high") << true << "low" << true << true << false;
        QTest::newRow("no modem lines, call up") << false << "low" << true << true << false;
        QTest::newRow("no modem lines, no call") << false << "low" << false << false << false;
    }

    void carrier()
    {
        QFETCH(bool, modemLines);
        QFETCH(QString, dcd);
        QFETCH(bool, connect);
        QFETCH(bool, errorSent);
        QFETCH(bool, endedByJob);

        Rig rig;
        rig.line.modemLines = modemLines;
        rig.line.carrier = dcd != "low";
        rig.config.JobType = UploadOnly;
        rig.config.UploadList[0] = {"GONE.TXT", m_dir.filePath("gone.txt")};
        rig.config.deriveCounts();
        rig.portable.rules += Rule{'U', 0, 0, QByteArray(1, Byte::EOT)};

        rig.portable.answerModem = false;
        if (connect)
            rig.receive("\r\nCONNECT 9600\r\n");
        if (dcd == "drops") { // and the modem is back in command mode
            rig.line.carrier = false;
            rig.portable.answerModem = true;
        }
        rig.receive("Portable ready\r\n");
        QCOMPARE(jobPackets(rig.portable).contains("ERROR"), errorSent);
        QCOMPARE(rig.line.written().contains("ATS0=1\r"), endedByJob);
        QCOMPARE(rig.state.Connected, connect && !endedByJob);

        rig.portable.answerModem = true;
        rig.line.carrier = dcd == "high";
        if (connect && !endedByJob)
            rig.receive("\r\nNO CARRIER\r\n");
        rig.receive("\r\nRING\r\n\r\nCONNECT 9600\r\nPortable ready\r\n");
        QCOMPARE(rig.session.calls().jobsRun(), 2);
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
    }

    // The portable hangs up in the middle of a file, after its first packet,
    // on every kind of line: without modem signals, and with a carrier-detect
    // pin that is not wired, the modem's "NO CARRIER" on the line the job
    // polls is the only sign; with one that works, the carrier going low
    // (here without a word from the modem). The job ends at once as a lost
    // carrier, nothing more goes into the dead line, the old copy is back,
    // the modem is armed again (its "OK" awaited and taken) and the next call
    // is served. The same words inside a file are data, not a hang-up.
    void portableHangsUpMidFile_data()
    {
        QTest::addColumn<int>("jobType");
        QTest::addColumn<QString>("line"); // no modem lines, DCD never high or DCD drops
        QTest::addColumn<bool>("hangUp");

        for (const char *line : {"no modem lines", "DCD never high", "DCD drops"})
            for (const int job : {DownloadOnly, UploadOnly})
                QTest::addRow("%s, %s", job == UploadOnly ? "upload" : "download", line)
                    << job << QString(line) << true;
        QTest::newRow("the words inside a file") << 2 << "no modem lines" << false;
    }

    void portableHangsUpMidFile()
    {
        QFETCH(int, jobType);
        QFETCH(QString, line);
        QFETCH(bool, hangUp);

        const QByteArray words = "\r\nNO CARRIER\r\n";
        const QByteArray file = hangUp ? pattern(300) : words;
        const bool dcdDrops = line == "DCD drops";
        Rig rig;
        rig.line.modemLines = line != "no modem lines";
        rig.line.carrier = dcdDrops;
        rig.portable.source = file;
        rig.config.JobType = static_cast<std::int16_t>(jobType);
        Testing::Rig::write(m_dir.filePath("hang.txt"), file);
        Testing::Rig::write(m_dir.filePath("in.txt"), "old copy");
        rig.config.DownloadList[0] = {"HANG.TXT", m_dir.filePath("hang.txt")};
        rig.config.UploadList[0] = {"HANG.TXT", m_dir.filePath("in.txt")};
        rig.config.deriveCounts();
        // The tail of the frame in flight reaches the modem, back in command
        // mode, as the start of a command line: the first command after the
        // hang-up is answered "ERROR".
        bool strayLine = false;
        const auto portable = rig.line.peer;
        rig.line.peer = [&](const QByteArray &bytes) {
            if (bytes.startsWith("AT") && std::exchange(strayLine, false))
                return rig.line.deliver("\r\nERROR\r\n", 20);
            portable(bytes);
        };
        if (hangUp) { // the second data block or next-packet request meets it
            rig.portable.rules += Rule{'Y', 1, 1, dcdDrops ? QByteArray() : words};
            rig.portable.onFrame = [&, packets = 0](char type) mutable {
                if (type == 'Y' && ++packets == 2)
                    strayLine = !(rig.line.carrier = false);
            };
        }

        rig.receive("\r\nCONNECT 9600\r\n");
        rig.receive("Portable ready\r\n");

        if (hangUp) {
            QCOMPARE(rig.reporter.paneText(), "Start auto answer ... OK\r\nWaiting call ...\r\n");
            QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
            QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
            const QList<QByteArray> &writes = rig.line.writes;
            // The last packet, then "ATS0=1" refused and sent again.
            QCOMPARE(writes.at(writes.size() - 3).at(2), 'Y');
            QCOMPARE(writes.mid(writes.size() - 2), QList<QByteArray>(2, "ATS0=1\r"));
        }
        QVERIFY(rig.clock.now() < 3000);
        QCOMPARE(jobPackets(rig.portable).contains("ERROR"), false);
        QCOMPARE(rig.reporter.redText().contains("Carrier lost"), hangUp);
        QCOMPARE(rig.state.Connected, !hangUp);
        QCOMPARE(readFile(m_dir.filePath("in.txt")), hangUp ? "old copy" : file);

        rig.line.carrier = dcdDrops;
        rig.receive("\r\nRING\r\n\r\nCONNECT 9600\r\nPortable ready\r\n");
        QCOMPARE(rig.session.calls().jobsRun(), 2);
        QCOMPARE(jobPackets(rig.portable).last(), "ALL DONE");
        QCOMPARE(readFile(m_dir.filePath("in.txt")), jobType == DownloadOnly ? "old copy" : file);
    }

    void bytesAfterGreetingBelongToTheJob()
    {
        // The portable's ACK for the first packet arrives together with the
        // greeting: it must stay in the port and count for the job's first poll.
        Rig rig;
        rig.config.JobType = DownloadOnly;
        rig.config.deriveCounts();
        rig.line.peer = nullptr;
        rig.receive(QByteArray("Portable ready\r\n") + char(6));
        QCOMPARE(rig.line.writes.size(), 1); // ALL DONE went out once and was acknowledged
        QVERIFY(rig.clock.now() < 1000);
    }

    void secondGreetingRunsTheJobAgain()
    {
        Rig rig;
        rig.config.JobType = DownloadOnly;
        rig.config.deriveCounts();
        rig.receive("\r\nCONNECT 9600\r\nPortable ready\r\n");
        rig.receive("Portable ready\r\n");
        QCOMPARE(jobPackets(rig.portable), (QStringList{"ALL DONE", "ALL DONE"}));
    }
};

QTEST_GUILESS_MAIN(CallHandlerTest)
#include "test_callhandler.moc"
