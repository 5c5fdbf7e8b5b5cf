// Faults on the line must never cost a file: an upload target holds its old content or the
// complete new one and no ".BAK", a download leaves the host file alone, the log says what
// happened, and the server waits for the next call (or is stopped, in red, when the port is
// gone). Slow faults run on the fake line with a virtual clock; NAKs and corrupted frames
// against tarvo-portable over a pseudo-terminal.
#include "Calls.h"
#include "FakeHost.h"
#include "PathHelpers.h"
#include "Portable.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Testing;
using namespace Tarvo::Bench;

class FaultTest : public QObject
{
    Q_OBJECT

    struct Rig : FakeHost
    {
        Portable portable{line};

        Rig()
        {
            portable.answerModem = true;
            config.ModemPort = 1;
            session.modem().InitializeModem();
        }
    };

    QTemporaryDir m_dir;

private slots:
    void filesSurviveFaults_data();
    void filesSurviveFaults();
    void nakAndCorruptionOverThePseudoTerminal_data();
    void nakAndCorruptionOverThePseudoTerminal();
};

void FaultTest::filesSurviveFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("file");

    for (const char *fault : {"silent", "hangup", "vanish"})
        for (const char *file : {"upload over an old copy", "upload, new file", "download"})
            QTest::addRow("%s, %s", fault, file) << QString(fault) << QString(file);
}

void FaultTest::filesSurviveFaults()
{
    QFETCH(QString, fault);
    QFETCH(QString, file);

    Rig rig;
    QVERIFY(rig.state.PortOpened);
    const bool download = file == "download";
    const QString target = m_dir.filePath(QStringLiteral("%1, %2.txt").arg(fault, file));
    const QByteArray old = download ? pattern(5000) : QByteArray("old content");
    if (file != "upload, new file")
        PortableRig::writeFile(target, old);
    const QDateTime modified = QFileInfo(target).lastModified();
    rig.config.JobType = download ? DownloadOnly : UploadOnly; // runs one of the two lists
    rig.config.DownloadList[0] = {"DATA.TXT", target};
    rig.config.UploadList[0] = {"DATA.TXT", target};
    rig.config.deriveCounts();
    rig.portable.source = pattern(5000);
    const QList<Rule> silence{{'Y', 10, 1 << 30, {}}}; // "Y" frames after the tenth go unanswered
    if (fault == "silent")
        rig.portable.rules = silence;
    int frames = 0; // "Y" both ways: data blocks sent, next-packet requests
    rig.portable.onFrame = [&](char type) {
        if (fault == "silent" || type != 'Y' || ++frames < 10)
            return;
        rig.portable.rules = silence;
        if (fault == "vanish")
            return rig.line.vanish();
        rig.line.carrier = false;
        rig.line.deliver("\r\nNO CARRIER\r\n", 30);
    };

    rig.receive("\r\nCONNECT 9600\r\nPortable ready\r\n");

    if (file == "upload, new file")
        QVERIFY(!QFile::exists(target));
    else
        QCOMPARE(readFile(target), old);
    if (download) // not even touched; a restored upload target is a fresh copy
        QCOMPARE(QFileInfo(target).lastModified(), modified);
    QVERIFY(!QFile::exists(Tarvo::backupPath(target)));
    QVERIFY(rig.reporter.log.contains(download ? "Download failed" : "Upload failed"));

    if (fault == "vanish") {
        QVERIFY(!rig.state.PortOpened);
        QCOMPARE(rig.line.closes, 1);
        QVERIFY(rig.reporter.redText().contains("Modem port lost"));
        QCOMPARE(rig.controls.startStop, ServerControls::StartStop::Start);
        return;
    }
    if (fault == "silent") {
        QVERIFY(rig.reporter.redText().contains("Time out error (2)"));
        rig.line.carrier = false; // the portable gives up and hangs up
        rig.receive("\r\nNO CARRIER\r\n");
    }
    QVERIFY(!rig.state.Connected);
    QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
    QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
}

void FaultTest::nakAndCorruptionOverThePseudoTerminal_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("mustComplete");

    // A third random NAK in one exchange may fail a file; corrupted frames are NAKed and sent
    // again, so alone they never end an upload.
    QTest::newRow("random NAKs") << QStringList{"--nak-random", "10", "--seed", "7"} << false;
    QTest::newRow("corrupted frames") << QStringList{"--corrupt-every", "3"} << true;
}

void FaultTest::nakAndCorruptionOverThePseudoTerminal()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, mustComplete);

    PortableRig rig;
    const QByteArray outgoing = pattern(6000), incoming = pattern(7000).toBase64().left(7000);
    QVERIFY(start(rig, {.host = {{"out.bin", outgoing}, {"in.txt", "old copy"}},
                        .portable = {{"IN.TXT", incoming}},
                        .downloads = {{"OUT.BIN", "out.bin"}},
                        .uploads = {{"IN.TXT", "in.txt"}},
                        .options = {.extra = faults}}));
    QVERIFY(rig.waitForCalls(1, 120000));

    QCOMPARE(readFile(rig.hostPath("out.bin")), outgoing);
    const QByteArray uploaded = readFile(rig.hostPath("in.txt"));
    QVERIFY(uploaded == incoming || uploaded == "old copy");
    QVERIFY(!QFile::exists(rig.hostPath("in.BAK")));
    if (mustComplete) {
        QCOMPARE(uploaded, incoming);
        QCOMPARE(readFile(rig.receivedFile("OUT.BIN")), outgoing);
    }
    QVERIFY(rig.log.contains("failed") || rig.log.contains("Done"));
    QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
}

QTEST_GUILESS_MAIN(FaultTest)
#include "test_faults.moc"
