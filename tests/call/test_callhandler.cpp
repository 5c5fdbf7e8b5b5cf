// Call handling over the fake line: line assembly in idle mode, the keyword branches, and the job
// with its SUCCESS / ERROR / ALL DONE packets, run by the real transfers against a portable.
#include "Columns.h"
#include "FakeHost.h"
#include "ModemReadiness.h"
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

    // The host started as the server starts it, an upload of 3000 bytes as its job, and a modem
    // that keeps its state: in command mode it answers 20 ms later (never while silent), keeps S0
    // and reads it back to "ATS0?" (or refuses it, without the query); a call rings through only
    // while S0 is set; online it passes everything to the portable but "+++", and hangs up when
    // DTR drops (unless it ignores DTR) or at "ATH0". Carrier detect follows the call, but for its
    // dips. A carrier lost at lostAt leaves it online, deaf, for holdMs: then "NO CARRIER"; it
    // takes a "+++" for the escape only after a second of silence, answers it only after its
    // guard time, and only if it is still online then. DSR is on while it is powered.
    struct ModemRig : FakeHost
    {
        explicit ModemRig(const QTemporaryDir &dir) : target(dir.filePath("in.txt"))
        {
            portable.source = pattern(3000);
            Testing::Rig::write(target, "old");
            config.ModemPort = 1;
            config.JobType = UploadOnly;
            config.UploadList[0] = {"IN.TXT", target};
            config.deriveCounts();
            setOnline(false);
            line.peer = [this, toPortable = line.peer](const QByteArray &bytes) {
                if (!online || escaped)
                    return command(bytes);
                const qint64 quietMs = clock.now() - std::exchange(dataAt, clock.now());
                if (bytes == "+++" && lostAt >= 0) {
                    escapeAt = quietMs >= 1000 ? clock.now() + 1000 : escapeAt;
                    return;
                }
                if (bytes == "+++") {
                    escaped = true;
                    return line.deliver("\r\nOK\r\n", 20);
                }
                (lostAt < 0 ? commandsIntoCall : commandsIntoLostCall) += bytes.startsWith("AT");
                if (lostAt < 0)
                    toPortable(bytes);
            };
            line.onDtr = [this](bool on) {
                if (!ignoresDtr)
                    setOnline(online && on);
            };
            // A headless host's timer fires in the event passes of every wait too.
            clock.onEvents = [this] {
                const qint64 now = clock.now();
                if (lostAt >= 0 && online && !escaped && escapeAt >= 0 && now >= escapeAt &&
                    !silent) {
                    escaped = true;
                    line.deliver("\r\nOK\r\n");
                }
                if (lostAt >= 0 && online && now >= lostAt + holdMs) {
                    setOnline(false);
                    if (!silent)
                        line.deliver("\r\nNO CARRIER\r\n");
                }
                line.carrier = online && lostAt < 0 && !inDip(now);
                noteTries();
                session.readiness().tick();
            };
        }
        void command(const QByteArray &bytes)
        {
            if (silent || !bytes.startsWith("AT"))
                return;
            QByteArray reply = "\r\nOK\r\n";
            if (bytes == "ATH0\r")
                setOnline(false);
            else if (bytes.startsWith("ATS0="))
                s0 = bytes.mid(5).trimmed().toInt();
            else if (bytes == "ATS0?\r" && noQuery)
                reply = "\r\nERROR\r\n";
            else if (bytes == "ATS0?\r" && onQuery)
                return onQuery(s0);
            else if (bytes == "ATS0?\r")
                reply.prepend("\r\n00" + QByteArray::number(s0) + "\r\n");
            line.deliver(reply, 20);
        }
        void setOnline(bool on)
        {
            online = line.carrier = on;
            escaped = escaped && on;
            lostAt = escapeAt = on ? lostAt : -1;
        }
        bool inDip(qint64 now) const
        {
            if (dipAt >= 0 && now >= dipAt && now < dipAt + dipMs)
                return true;
            for (const auto &[at, length] : dips)
                if (now >= at && now < at + length)
                    return true;
            return false;
        }
        // Event passes as far apart as the server's readiness timer fires (at most a tenth of a
        // second), for ms of the virtual clock, each with its tick.
        void idle(qint64 ms)
        {
            for (const qint64 end = clock.now() + ms; clock.now() < end;) {
                clock.sleepMs(std::min(100, session.readiness().tickIntervalMs()));
                clock.processEvents();
                noteTries();
            }
        }
        // When each try began: its line's first event pass, or its tick when it waited for nothing.
        void noteTries()
        {
            for (auto n = reporter.logged.count("Restarting modem"); triesAt.size() < n;)
                triesAt += clock.now();
        }
        // A portable calls and greets; the modem answers only when armed.
        void call()
        {
            receive("\r\nRING\r\n");
            if (s0 == 0 || silent)
                return;
            setOnline(true);
            receive("\r\nCONNECT 9600\r\nPortable ready\r\n");
        }
        // The portable hangs up.
        void hangUp()
        {
            setOnline(false);
            receive("\r\nNO CARRIER\r\n");
        }
        // Switched off and on: auto-answer forgotten, any call gone.
        void powerCycle()
        {
            s0 = 0;
            setOnline(false);
        }

        Portable portable{line};
        QString target;
        bool silent = false, online = false, escaped = false, noQuery = false, ignoresDtr = false;
        int s0 = 0, commandsIntoCall = 0, commandsIntoLostCall = 0;
        qint64 dipAt = -1, dipMs = 0, lostAt = -1, escapeAt = -1, holdMs = 1400, dataAt = -1;
        QList<std::pair<qint64, qint64>> dips; // start and length of each
        std::function<void(int s0)> onQuery;   // answers "ATS0?" instead
        QList<qint64> triesAt;                 // when each try of a restart began
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
    // working: "NO CARRIER" (also after a portable frame cut before its ETX) or the carrier going
    // low ends the job at once; nothing more goes out, the old copy is back, the modem re-armed,
    // hung up first when only the carrier said so. A file missing on the portable is "ERROR"; the
    // words inside a file are data. The next call is served in every case.
    void callEnds_data()
    {
        // end: hang-up, missing file or the words in a file
        const auto row = columns<int, QString, QString, bool>("jobType", "line", "end", "connect");
        for (const QString line : {"no modem lines", "DCD never high", "DCD drops"})
            for (const int job : {DownloadOnly, UploadOnly})
                row(QString("hang-up, %1, ").arg(job == UploadOnly ? "upload" : "download") + line,
                    job, line, "hang-up", true);
        for (const QString line : {"no modem lines", "DCD never high"})
            row("hang-up in a frame cut before its ETX, " + line, 1, line, "cut frame", true);
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
        const bool hangUp = end == "hang-up" || end == "cut frame", dcdDrops = line == "DCD drops";
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
            const QByteArray cut = frame('D', escaped(pattern(60))).left(40); // no ETX
            rig.portable.rules +=
                Rule{'Y', 1, 1, dcdDrops ? QByteArray() : (end == "cut frame" ? cut : "") + words};
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
            // The last packet, then the first command refused and sent again; a call that only
            // the carrier said was over is hung up (DTR dropped, the "AT" refused by a modem in
            // command mode, which shows it there without the escape, "ATH0") before "ATS0=1".
            const QList<QByteArray> commands = dcdDrops
                                                   ? QList<QByteArray>{"AT\r", "ATH0\r", "ATS0=1\r"}
                                                   : QList<QByteArray>(2, "ATS0=1\r");
            QCOMPARE(rig.line.writes.last(commands.size() + 1).front().at(2), 'Y');
            QCOMPARE(rig.line.writes.last(commands.size()), commands);
            QCOMPARE(std::count(rig.line.dtrChanges.begin(), rig.line.dtrChanges.end(), false),
                     dcdDrops ? 1 : 0);
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
        QVERIFY(jobPackets(rig.portable).endsWith("ALL DONE"));
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

    // Carrier detect low for less than half a second, in a job or between jobs, is a dip the modem
    // rides out: the call and its upload go on. Longer, the call is over: the upload fails without
    // "ERROR", the modem is hung up before "ATS0=1" (nothing goes into the live call), and a real
    // "NO CARRIER" after that leaves it armed. Either way the next call is served.
    void carrierDips_data()
    {
        const auto row = columns<int, bool, bool>("dipMs", "inJob", "lost");
        row("80 ms in a job", 80, true, false);
        row("450 ms between jobs", 450, false, false);
        row("800 ms in a job", 800, true, true);
        row("800 ms between jobs", 800, false, true);
        // Dips of 300 to 450 ms with highs of 60 to 150 ms between them: each high counts afresh,
        // between jobs as finely as in a job.
        row("a flaky contact between jobs", -1, false, false);
    }

    void carrierDips()
    {
        auto [dipMs, inJob, lost] = fetch<int, bool, bool>("dipMs", "inJob", "lost");
        ModemRig rig(m_dir);
        rig.session.modem().InitializeModem();
        rig.dipMs = dipMs;
        rig.portable.onFrame = [&rig, &inJob = inJob, packets = 0](char type) mutable {
            if (inJob && type == 'Y' && ++packets == 3)
                rig.dipAt = rig.clock.now();
        };
        rig.call();
        if (!inJob && dipMs < 0) {
            const qint64 t = rig.clock.now();
            rig.dips = {{t + 10, 300},
                        {t + 370, 450},
                        {t + 890, 400},
                        {t + 1350, 300},
                        {t + 1800, 300}}; // highs of 60, 70, 60, 150 ms
            rig.idle(3000);
        } else if (!inJob) {
            rig.dipAt = rig.clock.now();
            rig.idle(dipMs + 1000);
        }

        QCOMPARE(rig.reporter.logged.contains("Carrier lost"), lost);
        QCOMPARE(rig.state.Connected, !lost);
        QCOMPARE(readFile(rig.target), lost && inJob ? "old" : pattern(3000));
        QVERIFY(!jobPackets(rig.portable).contains("ERROR"));
        QCOMPARE(rig.commandsIntoCall, 0);
        QCOMPARE(rig.s0, 1);
        if (lost)
            rig.receive("\r\nNO CARRIER\r\n"); // the modem's own, late
        else
            rig.hangUp();
        rig.call();
        QCOMPARE(rig.session.calls().jobsRun(), 2);
        QVERIFY(jobPackets(rig.portable).endsWith("ALL DONE"));
    }

    // A modem failing under a running server is recovered without a click: the failure report as
    // it always was, then one line per try, the first within 10 s, the pauses growing, and the next
    // call is served. An unasked "OK", or an idle modem whose check finds auto-answer off or no
    // answer, gets a try at once. With Recovery/Retry off nothing else is tried; Stop ends it all.
    void recovery_data()
    {
        // faultMs: how long the fault lasts after its report; tries: each try's number and how its
        // line ends
        const auto row =
            columns<bool, int, QString, QStringList>("retry", "faultMs", "report", "tries");
        const QString check = " failed\r\nPlease check modem.\r\n";
        const QString again = "1 Initialize modem failed, next try in 10 s";
        QStringList unplugged;
        for (const int pause : {10, 20, 40, 60, 60})
            unplugged += QString("%1 Open COM1 failed: Permission error while locking the device, "
                                 "next try in %2 s")
                             .arg(unplugged.size() + 1)
                             .arg(pause);
        row("re-arm unanswered", true, 3000, check, {"1 OK"});
        row("modem late at boot", true, 8000, check, {again, "2 OK"});
        row("port lost and back", true, 150000,
            "Modem port lost: Input/output error\r\n"
            "Please check the modem and its cable, then click Start to retry.\r\n",
            unplugged + QStringList("6 OK"));
        row("unasked OK after a silent modem", false, 20000, check, {"1 OK"});
        row("modem reset while idle, twice", true, 0, "Modem check ... auto answer off\r\n",
            {"1 OK", "1 OK"});
        row("modem silent while idle", true, 1000, "Modem check ... no answer\r\n",
            {again, "2 OK"});
        row("modem silent while idle, retry off", false, 1000, "Modem check ... no answer\r\n",
            {"1 Initialize modem failed"});
        row("Start while a try is pending", true, 0, check, {again, "1 OK"});
        row("retry off", false, 3000, check, {});
        row("Stop", true, 3000, check, {});
    }

    void recovery()
    {
        auto [retry, faultMs, report, tries] =
            fetch<bool, int, QString, QStringList>("retry", "faultMs", "report", "tries");
        const QString fault = QTest::currentDataTag();
        ModemRig rig(m_dir);
        rig.session.readiness().setRetryEnabled([&retry = retry] { return retry; });
        rig.silent = fault == "modem late at boot" || fault.startsWith("Start");
        rig.session.modem().InitializeModem();
        if (fault == "port lost and back") {
            rig.line.vanish(); // heard in the next event pass; the adapter stays out a while
            rig.line.openFails = true;
            rig.idle(100);
        } else if (fault.contains("idle")) { // switched off and on, or off for a while
            rig.powerCycle();
            rig.silent = fault.contains("silent");
            rig.idle(ModemReadiness::CheckEveryMs + 200);
        } else if (!rig.silent) { // the power goes right after a call
            rig.call();
            rig.powerCycle();
            rig.silent = true;
            rig.receive("\r\nNO CARRIER\r\n");
        }
        const qint64 reportAt = rig.clock.now();
        QCOMPARE(rig.reporter.redText(), report);
        const int reportBeeps = report.startsWith("Modem check") ? 0 : 1;
        QCOMPARE(rig.prompter.beeps, reportBeeps);
        if (fault == "Stop")
            rig.session.modem().HangUp();
        if (fault.startsWith("Start")) { // after a failed try, a start that fails too
            rig.idle(20000);
            rig.session.modem().InitializeModem();
        }

        rig.idle(faultMs);
        rig.silent = rig.line.openFails = false;
        if (fault.startsWith("unasked"))
            rig.receive("\r\nOK\r\n");
        rig.idle(2 * ModemReadiness::MaxPauseMs);
        if (fault.contains("twice")) { // a new fault later counts its tries afresh
            rig.powerCycle();
            rig.idle(ModemReadiness::CheckEveryMs + 1000);
        }

        // One line each, the first within 10 s of the report, the pauses growing.
        QStringList ends;
        static const QRegularExpression tryLine(
            "Restarting modem, try (\\d+) \\.\\.\\. ([^\r\n]*)\r\n");
        for (const auto &match : tryLine.globalMatch(rig.reporter.logged))
            ends += match.captured(1) + ' ' + match.captured(2);
        QCOMPARE(ends, tries);
        QCOMPARE(rig.reporter.logged.count("Restarting modem"), tries.size());
        if (retry && !tries.isEmpty())
            QVERIFY(rig.triesAt.value(0) - reportAt <= 10000);
        // Only a start's report and a last try beep.
        const QString last = tries.value(tries.size() - 1);
        QCOMPARE(rig.prompter.beeps - reportBeeps,
                 int(fault.startsWith("Start")) + int(last.endsWith("failed")));
        const bool served = last.endsWith("OK");
        if (served)
            QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
        const int before = rig.session.calls().jobsRun();
        rig.call();
        QCOMPARE(rig.session.calls().jobsRun(), before + int(served));
    }

    // An armed, idle modem is asked "ATS0?" once it has been quiet for five minutes, and a RING
    // puts that off; an answer that shows auto-answer on leaves no trace. A call that rings in as
    // the modem is asked is served.
    void idleCheck()
    {
        ModemRig rig(m_dir);
        rig.session.modem().InitializeModem();
        const auto asked = [&] { return rig.line.writes.count("ATS0?\r"); };
        rig.idle(ModemReadiness::CheckEveryMs - 60000);
        rig.receive("\r\nRING\r\n"); // a caller who gave up at once
        const QString logged = rig.reporter.logged;
        rig.idle(ModemReadiness::CheckEveryMs - 1000);
        QCOMPARE(asked(), 0);
        rig.idle(2000);
        QCOMPARE(asked(), 1);
        QCOMPARE(rig.reporter.logged, logged);
        rig.line.peer = [&, modem = rig.line.peer](const QByteArray &bytes) {
            if (bytes != "ATS0?\r")
                return modem(bytes);
            rig.setOnline(true); // the call came first: the question goes to the portable
            rig.line.deliver("\r\nRING\r\n\r\nCONNECT 9600\r\n", 20);
            rig.line.deliver("Portable ready\r\n", 300);
        };
        rig.idle(ModemReadiness::CheckEveryMs + 1000);
        QCOMPARE(asked(), 2);
        QVERIFY(rig.state.Connected);                // its CONNECT was read in the check's wait
        QCOMPARE(rig.reporter.redText(), QString()); // and ended it: no "no answer"
        QCOMPARE(rig.session.calls().jobsRun(), 1);
        QVERIFY(jobPackets(rig.portable).endsWith("ALL DONE"));
    }

    // A check crossed by a RING, in both orders, and a restart due (an unasked "OK") as a RING
    // comes: the reply behind the RING is the check's, never an unasked "OK"; from the RING until
    // its call is handled nothing is written and the port stays open, and the call, answered at
    // the third ring, is served.
    void ringCrossesRecovery_data()
    {
        const auto row = columns<QString>("cross");
        row("RING before the check's reply", "ring first");
        row("the check's reply before RING", "reply first");
        row("a restart due", "restart");
    }

    void ringCrossesRecovery()
    {
        auto [cross] = fetch<QString>("cross");
        const bool ringFirst = cross == "ring first";
        ModemRig rig(m_dir);
        rig.session.modem().InitializeModem();
        rig.onQuery = [&rig, ringFirst](int s0) {
            const QByteArray ring = "\r\nRING\r\n";
            const QByteArray reply = "\r\n00" + QByteArray::number(s0) + "\r\n\r\nOK\r\n";
            rig.line.deliver(ringFirst ? ring : reply, ringFirst ? 5 : 20);
            rig.line.deliver(ringFirst ? reply : ring, ringFirst ? 30 : 40);
        };
        if (cross == "restart") {
            rig.idle(2000);
            rig.receive("\r\nOK\r\n\r\nRING\r\n");
        } else {
            rig.idle(ModemReadiness::CheckEveryMs + 500);
            QCOMPARE(rig.line.writes.count("ATS0?\r"), 1);
        }
        const qsizetype asked = rig.line.writes.size();
        rig.idle(3000);
        rig.receive("\r\nRING\r\n");
        rig.idle(3000);
        rig.call();

        QCOMPARE(rig.session.calls().jobsRun(), 1);
        QVERIFY(jobPackets(rig.portable).endsWith("ALL DONE"));
        for (const QByteArray &written : rig.line.writes.mid(asked))
            QVERIFY2(!written.startsWith("AT") && !written.startsWith("+++"), written);
        QCOMPARE(rig.line.closes, 0);
        QVERIFY(!rig.reporter.logged.contains("Restarting modem"));
        QVERIFY(!rig.reporter.logged.contains("001"));
        QCOMPARE(rig.reporter.redText(), QString());
        rig.hangUp();
        QCOMPARE(rig.line.writes.last(), "ATS0=1\r");
    }

    // A modem without the register query answers it "ERROR": one line in the log, not red, and
    // "AT" from then on, never a restart for it, over three periods of the check. "AT" still finds
    // a modem that stopped answering.
    void checkWithoutTheQuery()
    {
        ModemRig rig(m_dir);
        rig.noQuery = true;
        rig.session.modem().InitializeModem();
        rig.idle(3 * ModemReadiness::CheckEveryMs + 1000);
        QCOMPARE(rig.line.writes.count("ATS0?\r"), 1);
        QCOMPARE(rig.line.writes.count("AT\r"), 2);
        QCOMPARE(rig.reporter.logged.count("Modem check"), 1);
        QCOMPARE(rig.reporter.redText(), QString());
        QCOMPARE(rig.reporter.logged.count("Restarting modem"), 0);
        QCOMPARE(rig.prompter.beeps, 0);

        rig.silent = true;
        rig.idle(ModemReadiness::CheckEveryMs + 1000);
        QCOMPARE(rig.reporter.redText(), QString("Modem check ... no answer\r\n"));
        rig.silent = false;
        rig.idle(2 * ModemReadiness::MaxPauseMs);
        rig.call();
        QCOMPARE(rig.session.calls().jobsRun(), 1);
    }

    // A modem switched off and on while the server waits. On a line whose DSR was seen on, its
    // drop is said once, nothing is written while it is off, and the modem is started again as soon
    // as DSR is back. Where DSR never came on (not wired) the idle check finds it, as before.
    void powerCycle_data()
    {
        const auto row = columns<bool>("dsrWired");
        row("DSR", true);
        row("DSR not wired", false);
    }

    void powerCycle()
    {
        auto [wired] = fetch<bool>("dsrWired");
        ModemRig rig(m_dir);
        rig.line.ready = wired;
        rig.session.modem().InitializeModem();
        rig.idle(2000);
        const qsizetype before = rig.line.writes.size();
        rig.powerCycle();
        rig.silent = true;
        rig.line.ready = false;
        rig.idle(20000);
        QCOMPARE(rig.line.writes.size(), before);
        QCOMPARE(rig.reporter.logged.count("Modem switched off or unplugged"), wired ? 1 : 0);
        QCOMPARE(rig.reporter.tip(), wired ? "Modem off" : "Waiting call ...");

        rig.silent = false;
        rig.line.ready = wired;
        const qint64 back = rig.clock.now();
        rig.idle(wired ? 15000 : ModemReadiness::CheckEveryMs);
        QCOMPARE(rig.s0, 1);
        QCOMPARE(rig.reporter.logged.count("Restarting modem"), 1);
        QVERIFY(rig.triesAt.value(0) >= back);
        if (wired)
            QVERIFY(rig.triesAt.value(0) - back <= 1000);
        rig.call();
        QCOMPARE(rig.session.calls().jobsRun(), 1);
    }

    // The carrier lost under a job. A modem set to &D2 is back in command mode after the DTR drop
    // and says nothing: it answers the "AT" that follows, and is hung up and armed without the
    // escape. A modem that ignores DTR holds the call: the "AT" goes into it as data, and the
    // "+++" comes only after a second of silence. Held 1.4 s, it says "NO CARRIER" on the way:
    // the hang-up reads it and arms at once; held longer, it answers the escape, then "ATH0". The
    // portable's redial is served with nothing written into it. A modem that answers nothing
    // after the loss is not armed: recovery restarts it later, the port closed (DTR dropped)
    // first. A call that rings in during the hang-up is a new call: nothing more is written, and
    // it is served.
    void lostCallHangUp_data()
    {
        const auto row = columns<QString>("modem");
        row("modem in command mode after the DTR drop", "command mode");
        row("modem ignoring DTR, NO CARRIER 1.4 s later", "ignores DTR");
        row("modem ignoring DTR, online until the escape", "online");
        row("every step of the hang-up fails", "silent");
        row("a new call rings in during the hang-up", "rings");
    }

    void lostCallHangUp()
    {
        auto [modem] = fetch<QString>("modem");
        ModemRig rig(m_dir);
        rig.ignoresDtr = modem == "ignores DTR" || modem == "online" || modem == "silent";
        rig.holdMs = modem == "online" ? 10000 : rig.holdMs;
        rig.session.modem().InitializeModem();
        QList<qint64> armedAt;
        qint64 lastWriteAt = -1, escapeQuietMs = -1;
        rig.line.peer = [&, toModem = rig.line.peer](const QByteArray &bytes) {
            armedAt += bytes == "ATS0=1\r" ? QList<qint64>{rig.clock.now()} : QList<qint64>();
            if (bytes == "+++")
                escapeQuietMs = rig.clock.now() - lastWriteAt;
            lastWriteAt = rig.clock.now();
            toModem(bytes);
        };
        rig.line.onDtr = [&, &modem = modem, fromHost = rig.line.onDtr](bool on) {
            if (!on && modem == "rings" && rig.lostAt >= 0)
                rig.line.deliver("\r\nRING\r\n", 100);
            fromHost(on);
        };
        qint64 lossAt = -1;
        rig.portable.onFrame = [&, &modem = modem, packets = 0](char type) mutable {
            if (type != 'Y' || ++packets != 3)
                return;
            lossAt = rig.clock.now();
            rig.lostAt = lossAt;
            if (modem == "silent") {
                rig.setOnline(false);
                rig.silent = true;
            }
        };
        rig.call();
        QVERIFY(lossAt >= 0);
        QVERIFY(!rig.state.Connected);
        QCOMPARE(readFile(rig.target), QByteArray("old"));

        if (modem == "rings") { // the modem, still armed, answers it
            QCOMPARE(rig.reporter.tip(), QString("RING"));
            QVERIFY(armedAt.isEmpty());
            QCOMPARE(rig.line.writes.count("AT\r") + rig.line.writes.count("ATH0\r"), 0);
            rig.idle(2000);
            rig.setOnline(true);
            rig.receive("\r\nCONNECT 9600\r\nPortable ready\r\n");
            QCOMPARE(rig.session.calls().jobsRun(), 2);
            QCOMPARE(readFile(rig.target), pattern(3000));
            QVERIFY(armedAt.isEmpty());
            QCOMPARE(rig.commandsIntoCall, 0);
            return;
        }
        QCOMPARE(rig.line.writes.count("AT\r"), 1); // the probe, after the DTR drop
        if (modem == "command mode") {
            QCOMPARE(armedAt.size(), 1);
            // Carrier detect low half a second, DTR low 0.2 s, then "AT", "ATH0", "ATS0=1".
            QVERIFY2(armedAt[0] - lossAt <= LineWait::CarrierLossMs + 300,
                     QByteArray::number(armedAt[0] - lossAt));
            QCOMPARE(rig.line.writes.count("+++"), 0);
            QCOMPARE(rig.line.writes.count("ATH0\r"), 1);
            QCOMPARE(rig.commandsIntoLostCall, 0);
        } else if (modem == "ignores DTR") {
            QCOMPARE(armedAt.size(), 1);
            const qint64 noCarrierAt = lossAt + rig.holdMs;
            // The "NO CARRIER" ended the hang-up as it came: no "ATH0" after the escape.
            QVERIFY(armedAt[0] >= noCarrierAt && armedAt[0] - noCarrierAt <= 100);
            QCOMPARE(rig.line.writes.count("ATH0\r"), 0);
        } else if (modem == "online") {
            QCOMPARE(armedAt.size(), 1);
            QVERIFY2(escapeQuietMs >= 1000, QByteArray::number(escapeQuietMs));
            QCOMPARE(rig.commandsIntoLostCall, 1); // the probe, as data
            QVERIFY(rig.reporter.logged.contains("+++OK"));
            QCOMPARE(rig.line.writes.count("ATH0\r"), 1);
            QVERIFY(armedAt[0] < lossAt + rig.holdMs);
        } else {
            QVERIFY(armedAt.isEmpty());
            QVERIFY(rig.reporter.redText().contains("Hang up failed"));
            rig.silent = false;
            rig.idle(ModemReadiness::FirstPauseMs + 2000);
            QCOMPARE(armedAt.size(), 1);
            QVERIFY(armedAt[0] - lossAt >= ModemReadiness::FirstPauseMs);
            QCOMPARE(rig.line.closes, 1); // DTR dropped again before the restart
        }
        rig.idle(3000);
        rig.call();
        QCOMPARE(rig.session.calls().jobsRun(), 2);
        QCOMPARE(readFile(rig.target), pattern(3000));
        QCOMPARE(rig.commandsIntoCall, 0);
        QVERIFY(!rig.reporter.redText().contains("Start auto answer"));
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
