// Call handling over the fake line: line assembly in idle mode, the keyword branches, and the job
// with its SUCCESS / ERROR / ALL DONE packets, run by the real transfers against a portable.
#include "Columns.h"
#include "FakeHost.h"
#include "Portable.h"

#include <QRegularExpression>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

// The job's SUCCESS, ERROR and ALL DONE messages the portable received.
QStringList jobPackets(const Portable &portable)
{
    QStringList out = portable.trace.filter(QRegularExpression("^0 \r\n(SUCCESS|ERROR|ALL DONE)"));
    return out.replaceInStrings(QRegularExpression("^0 \r\n|\r\n$"), "");
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
            state.PortOpened = state.AutoAnswerOn = true;
            line.setMode(SerialLine::Mode::Idle);
        }
    };

    QTemporaryDir m_dir;

private slots:

    void lineAssembly_data()
    {
        // left: in the line buffer afterwards
        const auto row = columns<QByteArray, QString, QStringList, bool, QByteArray>(
            "received", "pane", "tips", "connected", "left");
        row("ring", "\r\nRING\r\n", "RING\r\n", {"RING"}, false, {});
        row("empty line", "\r\n\r\n", "\r\n", {""}, false, {});
        row("only CR LF is no line yet", "\r\n", "", {}, false, "\r\n");
        row("connect keeps the ring shown", "\r\nRING\r\n\r\nCONNECT 9600\r\n",
            "RING\r\nCONNECT 9600\r\n", {"RING", "CONNECT 9600"}, true, {});
        row("lower-case connect is an ordinary line", "\r\nconnect 9600\r\n", "connect 9600\r\n",
            {"connect 9600"}, false, {});
        row("ring wins over connect", "\r\nRING CONNECT\r\n", "RING CONNECT\r\n", {"RING CONNECT"},
            false, {});
        row("lone CR stays in the line", "AB\rC\r\n", "AB\rC\r\n", {"AB\rC"}, false, {});
        row("no carrier ends the call", "\r\nCONNECT 9600\r\n\r\nNO CARRIER\r\n",
            "Start auto answer ... OK\r\nWaiting call ...\r\n",
            {"CONNECT 9600", "NO CARRIER", "Waiting call ..."}, false, {});
        // The newest characters of noise are kept, as many as can still end a line.
        row("noise cannot grow the buffer", "y" + QByteArray(20000, 'x') + "\r\nRING\r\n",
            "RING\r\n", {QString(CallHandler::MaxLineBuffer - 2, 'x'), "RING"}, false, {});
    }

    void lineAssembly()
    {
        auto [received, pane, tips, connected, left] =
            fetch<QByteArray, QString, QStringList, bool, QByteArray>("received", "pane", "tips",
                                                                      "connected", "left");

        Rig rig;
        rig.receive(received);
        QCOMPARE(rig.reporter.paneText(), pane);
        QCOMPARE(rig.reporter.tips, tips);
        QCOMPARE(rig.state.Connected, connected);
        QCOMPARE(rig.session.calls().lineBuffer(), left);
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
        // The re-arm's reply, due in 20 ms, is read whole in job mode, not a byte a poll.
        QCOMPARE(rig.clock.sleeps(), received.contains("NO CARRIER") ? 2 : 0);
    }

    void job_data()
    {
        // failing: the file NAKed (download) or missing (upload), -1 none; requests: "U" seen
        const auto row = columns<int, int, int, int, QStringList, int>(
            "jobType", "downloads", "uploads", "failing", "packets", "requests");
        const QStringList done{"SUCCESS", "SUCCESS", "ALL DONE"}, failed{"SUCCESS", "ERROR"};
        row("download only, two files", 0, 2, 2, -1, done, 0);
        row("upload only, second missing", 1, 0, 3, 1, failed, 2);
        row("both", 2, 1, 1, -1, done, 1);
        row("both, second download fails: no upload, no ALL DONE", 2, 3, 2, 1, failed, 0);
        row("unknown job runs nothing", 7, 2, 2, -1, {}, 0);
    }

    void job()
    {
        auto [jobType, downloads, uploads, failing, packets, requests] =
            fetch<int, int, int, int, QStringList, int>("jobType", "downloads", "uploads",
                                                        "failing", "packets", "requests");
        Rig rig;
        rig.config.JobType = static_cast<std::int16_t>(jobType);
        for (int i = 0; i < downloads; ++i) {
            const QString name = QStringLiteral("D%1.TXT").arg(i);
            rig.config.DownloadList[i] = {name, m_dir.filePath(name)};
            Testing::Rig::write(m_dir.filePath(name), "data");
            if (i == failing)
                rig.portable.rules += Rule{'L', i, i + 2, QByteArray(1, Byte::NAK)};
        }
        for (int i = 0; i < uploads; ++i) {
            const QString name = QStringLiteral("U%1.TXT").arg(i);
            rig.config.UploadList[i] = {name, m_dir.filePath(QStringLiteral("in-%1.txt").arg(i))};
            if (i == failing)
                rig.portable.rules += Rule{'U', i, i, QByteArray(1, Byte::EOT)};
        }
        rig.config.deriveCounts();

        rig.receive("\r\nCONNECT 9600\r\n");
        rig.receive("Portable ready\r\n");

        QCOMPARE(jobPackets(rig.portable), packets);
        if (packets.isEmpty()) // the greeting alone, where a file's progress would come
            QCOMPARE(rig.reporter.paneText(), QString("Portable ready\r\n"));
        QVERIFY(rig.reporter.paneText().count(" ...\r\n") <= 1); // each file on a clean pane
        QCOMPARE(int(rig.portable.trace.filter(QRegularExpression("^U ")).size()), requests);
        QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
        QCOMPARE(rig.session.calls().jobsRun(), 1);
    }

    // A hang-up after a file's first packet, with no modem signals, DCD never high (not wired) or
    // working: "NO CARRIER" or the carrier going low ends the job at once; nothing more goes out,
    // the old copy is back, the modem re-armed. A file missing on the portable is "ERROR"; the
    // words inside a file are data. The next call is served in every case.
    void callEnds_data()
    {
        // end: hang-up, missing file or the words in a file
        const auto row = columns<int, QString, QString, bool>("jobType", "line", "end", "connect");
        for (const QString line : {"no modem lines", "DCD never high", "DCD drops"})
            for (const int job : {DownloadOnly, UploadOnly})
                row(QString("hang-up, %1, ").arg(job == UploadOnly ? "upload" : "download") + line,
                    job, line, "hang-up", true);
        for (const QString line : {"no modem lines", "DCD never high", "DCD held"})
            row("missing file, " + line, 1, line, "missing", true);
        row("missing file, no call", 1, "no modem lines", "missing", false);
        row("the words inside a file", 2, "no modem lines", "words", true);
    }

    void callEnds()
    {
        auto [jobType, line, end, connect] =
            fetch<int, QString, QString, bool>("jobType", "line", "end", "connect");

        const QByteArray words = "\r\nNO CARRIER\r\n", file = end == "words" ? words : pattern(300);
        const bool hangUp = end == "hang-up", dcdDrops = line == "DCD drops";
        Rig rig;
        rig.line.modemLines = line != "no modem lines";
        rig.line.carrier = line == "DCD drops" || line == "DCD held";
        rig.portable.source = file;
        rig.config.JobType = static_cast<std::int16_t>(jobType);
        Testing::Rig::write(m_dir.filePath("hang.txt"), file);
        Testing::Rig::write(m_dir.filePath("in.txt"), "old copy");
        rig.config.DownloadList[0] = {"HANG.TXT", m_dir.filePath("hang.txt")};
        rig.config.UploadList[0] = {"HANG.TXT", m_dir.filePath("in.txt")};
        rig.config.deriveCounts();
        // The tail of the frame in flight reaches the modem, back in command mode, as the start of
        // a command line: the first command after the hang-up is answered "ERROR".
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
        if (end == "missing")
            rig.portable.rules += Rule{'U', 0, 0, QByteArray(1, Byte::EOT)};

        if (connect)
            rig.receive("\r\nCONNECT 9600\r\n");
        rig.receive("Portable ready\r\n");

        if (hangUp) {
            QCOMPARE(rig.reporter.paneText(), "Start auto answer ... OK\r\nWaiting call ...\r\n");
            QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
            QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
            // The last packet, then "ATS0=1" refused and sent again.
            QCOMPARE(rig.line.writes.last(3).front().at(2), 'Y');
            QCOMPARE(rig.line.writes.last(2), QList<QByteArray>(2, "ATS0=1\r"));
        }
        QVERIFY(rig.clock.now() < 3000);
        QCOMPARE(jobPackets(rig.portable).contains("ERROR"), end == "missing" && connect);
        QCOMPARE(rig.line.written().contains("ATS0=1"), hangUp);
        QCOMPARE(rig.reporter.redText().contains("Carrier lost"), hangUp);
        QCOMPARE(rig.state.Connected, connect && !hangUp);
        QCOMPARE(readFile(m_dir.filePath("in.txt")), end == "words" ? file : "old copy");

        if (rig.state.Connected)
            rig.receive("\r\nNO CARRIER\r\n");
        rig.line.carrier = line != "DCD never high";
        rig.receive("\r\nRING\r\n\r\nCONNECT 9600\r\nPortable ready\r\n");
        QCOMPARE(rig.session.calls().jobsRun(), 2);
        QCOMPARE(jobPackets(rig.portable).last(), "ALL DONE");
        QCOMPARE(readFile(m_dir.filePath("in.txt")), jobType == DownloadOnly ? "old copy" : file);
    }

    // A port lost between calls is closed at once; under a job only once the job has unwound (its
    // waits see the failed line first), and once, also when no CONNECT line came before the job
    // (so no hang-up follows it to notice the lost line).
    void portLost_data()
    {
        const auto row = columns<QByteArray>("greeting");
        row("between calls", {});
        row("under a job", "\r\nCONNECT 9600\r\nPortable ready\r\n");
        row("under a job without CONNECT", "\r\nPortable ready\r\n");
    }
    void portLost()
    {
        auto [greeting] = fetch<QByteArray>("greeting");
        Rig rig;
        Testing::Rig::write(m_dir.filePath("lost.txt"), "data");
        rig.config.DownloadList[0] = {"LOST.TXT", m_dir.filePath("lost.txt")};
        rig.config.deriveCounts();
        bool closedUnderJob = false;
        rig.portable.onFrame = [&](char) {
            rig.line.vanish();
            closedUnderJob = closedUnderJob || rig.line.closes > 0;
        };
        if (greeting.isEmpty())
            rig.line.vanish(); // heard in the next event pass
        rig.receive(greeting);
        QVERIFY(!closedUnderJob);
        QCOMPARE(rig.line.closes, 1);
        QVERIFY(!rig.state.PortOpened && rig.reporter.redText().contains("Modem port lost"));
    }

    // The carrier gone as the job ends, after its last poll, ends the call as "NO CARRIER" would.
    void carrierGoneAtTheJobsEnd()
    {
        Rig rig;
        Testing::Rig::write(m_dir.filePath("end.txt"), "data");
        rig.config.DownloadList[0] = {"END.TXT", m_dir.filePath("end.txt")};
        rig.config.deriveCounts();
        rig.line.onMode = [&](SerialLine::Mode mode) {
            rig.line.carrier = mode != SerialLine::Mode::Idle;
        };
        rig.receive("\r\nCONNECT 9600\r\nPortable ready\r\n");
        QCOMPARE(jobPackets(rig.portable).last(), "ALL DONE");
        QVERIFY(!rig.state.Connected);
    }

    // The portable's ACK for the first packet comes with the greeting: it must stay in the port and
    // count for the job's first poll. A second greeting runs the job again.
    void greetingsRunTheJob()
    {
        Rig rig;
        rig.config.JobType = DownloadOnly;
        rig.config.deriveCounts();
        rig.line.peer = nullptr;
        rig.receive(QByteArray("\r\nCONNECT 9600\r\nPortable ready\r\n") + char(Byte::ACK));
        rig.receive(QByteArray("Portable ready\r\n") + char(Byte::ACK));
        QCOMPARE(rig.line.writes, QList<QByteArray>(2, buildFrame('0', "\r\nALL DONE\r\n")));
        QVERIFY(rig.clock.now() < 1000); // no time-out waited for
    }
};

QTEST_GUILESS_MAIN(CallHandlerTest)
#include "test_callhandler.moc"
