// Fetching files from the portable: packets, restarts, the backup of the
// copy being replaced, and every way an upload can fail.
#include "TransferRig.h"

#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

const QByteArray OldContent = "the previous copy\r\n";

struct UploadRig : TransferRig
{
    explicit UploadRig(const QByteArray &source, int chunk = 100)
    {
        portable.source = source;
        portable.chunk = chunk;
        config.UploadList[1] = {QStringLiteral("a.txt"), saveAs()};
        config.UploadCount = 2;
    }
    QString saveAs() const { return path(QStringLiteral("ORDERS.TXT")); }
    QString backup() const { return path(QStringLiteral("ORDERS.BAK")); }
    bool run() { return job.RunUploadJob(1); }

    UploadJob job{link, reporter, config};
};

// The trace of a clean upload that takes the given number of data packets.
QStringList cleanTrace(int packets)
{
    QStringList trace{"0 SENDING A.TXT\r\n", "U a.txt[0]", "0 ."};
    for (int i = 0; i <= packets; ++i) // the last round brings the "Z" frame
        trace << "Y"
              << "ACK"
              << "0 .";
    return trace;
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT

private slots:
    void backupPath_data();
    void backupPath();
    void wholeFile_data();
    void wholeFile();
    void backupDuringTransferGoneAfter();
    void requestRefused_data();
    void requestRefused();
    void badFrameAnsweredByNak();
    void lastFrameDataNotWritten();
    void restartAtCurrentLength();
    void failureRestoresHost_data();
    void failureRestoresHost();
    void hostFileErrors_data();
    void hostFileErrors();
};

void TestUpload::backupPath_data()
{
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QString>("backup");
    QTest::newRow("extension replaced") << "/in/ORDERS.TXT"
                                        << "/in/ORDERS.BAK";
    QTest::newRow("cut at the first dot") << "/in/A.B.C"
                                          << "/in/A.BAK";
    QTest::newRow("no extension") << "/in/README"
                                  << "/in/README.BAK";
    QTest::newRow("dot in the folder") << "/in.d/README"
                                       << "/in.d/README.BAK";
    QTest::newRow("root folder") << "/x.txt"
                                 << "/x.BAK";
    QTest::newRow("bare name stays beside it") << "x.txt"
                                               << "x.BAK";
    QTest::newRow("own name is the backup's") << "/in/ORDERS.BAK"
                                              << "/in/ORDERS.BAK.BAK";
}

void TestUpload::backupPath()
{
    QFETCH(QString, saveAs);
    QFETCH(QString, backup);
    QCOMPARE(UploadJob::backupPath(saveAs), backup);
}

void TestUpload::wholeFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("packets");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("1 byte") << 1 << 1;
    QTest::newRow("one full packet") << 100 << 1;
    QTest::newRow("every byte value") << 1000 << 10;
    QTest::newRow("ragged end") << 1001 << 11;
}

void TestUpload::wholeFile()
{
    QFETCH(int, size);
    QFETCH(int, packets);

    const QByteArray source = TransferRig::pattern(size);
    UploadRig rig(source);
    QVERIFY(rig.run());

    QCOMPARE(TransferRig::readFile(rig.saveAs()), source);
    QCOMPARE(rig.files(), QStringList{"ORDERS.TXT"});
    QCOMPARE(rig.portable.trace, cleanTrace(packets));
    QVERIFY(rig.portable.uploadFinished);
    QCOMPARE(rig.portable.badFrames, 0);
    QCOMPARE(rig.reporter.clears, 1);
    // The request, every data packet and the closing packet each show a dot.
    QCOMPARE(rig.reporter.paneText(), QStringLiteral("Upload a.txt ...\r\n") +
                                          QString(packets + 2, QLatin1Char('.')) +
                                          QStringLiteral("\r\nDone\r\n"));
    QVERIFY(rig.reporter.redText().isEmpty());
    QCOMPARE(rig.reporter.tips, (QStringList{"Upload a.txt ...", "Upload success"}));
}

void TestUpload::backupDuringTransferGoneAfter()
{
    const QByteArray source = TransferRig::pattern(250);
    UploadRig rig(source);
    TransferRig::writeFile(rig.saveAs(), OldContent);
    TransferRig::writeFile(rig.backup(), "an older backup");

    QList<QByteArray> backupSeen;
    rig.portable.onFrame = [&](const HostFrame &frame) {
        if (frame.type == 'Y')
            backupSeen += TransferRig::readFile(rig.backup());
    };
    QVERIFY(rig.run());

    QCOMPARE(backupSeen.size(), 4);
    for (const QByteArray &seen : backupSeen)
        QCOMPARE(seen, OldContent);
    QCOMPARE(TransferRig::readFile(rig.saveAs()), source);
    QCOMPARE(rig.files(), QStringList{"ORDERS.TXT"});
}

void TestUpload::requestRefused_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("red");
    QTest::newRow("no such file: at once") << Reply::Eot << 1 << "File doesnot exist on portable.";
    QTest::newRow("NAKed") << Reply::Nak << 3 << "NAK error (1)";
    QTest::newRow("unanswered") << Reply::Silent << 3 << "Time out error (1)";
}

void TestUpload::requestRefused()
{
    QFETCH(Reply, reply);
    QFETCH(int, requests);
    QFETCH(QString, red);

    UploadRig rig("new content");
    TransferRig::writeFile(rig.saveAs(), OldContent);
    rig.portable.rules = {{'U', 0, 9, reply}};
    QVERIFY(!rig.run());

    QCOMPARE(rig.portable.count("U a.txt[0]"), requests);
    QCOMPARE(rig.portable.count("Y"), 0);
    QCOMPARE(rig.reporter.redText(), red + "\r\nUpload failed\r\n");
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Upload failed"));
    // Nothing on the host was touched.
    QCOMPARE(rig.files(), QStringList{"ORDERS.TXT"});
    QCOMPARE(TransferRig::readFile(rig.saveAs()), OldContent);
}

void TestUpload::badFrameAnsweredByNak()
{
    // Two NAKs, a bad frame, two more NAKs: the bad frame starts the counts
    // afresh, so no restart happens; bad frames alone never end the upload.
    const QByteArray source = TransferRig::pattern(150);
    UploadRig rig(source);
    rig.portable.rules = {{'Y', 0, 1, Reply::Nak},
                          {'Y', 2, 2, Reply::Corrupt},
                          {'Y', 3, 4, Reply::Nak},
                          {'Y', 5, 14, Reply::Corrupt}};
    QVERIFY(rig.run());

    QCOMPARE(TransferRig::readFile(rig.saveAs()), source);
    QVERIFY(rig.reporter.logOnly.isEmpty());
    QCOMPARE(rig.portable.trace.mid(3, 6), (QStringList{"Y", "Y", "Y", "NAK", "Y", "Y"}));
    QCOMPARE(rig.portable.count("NAK"), 11);
    QCOMPARE(rig.portable.count("U a.txt[0]"), 1);
}

void TestUpload::lastFrameDataNotWritten()
{
    UploadRig rig{QByteArray()};
    rig.portable.zData = "NOT PART OF THE FILE";
    TransferRig::writeFile(rig.saveAs(), OldContent);
    QVERIFY(rig.run());
    QCOMPARE(TransferRig::readFile(rig.saveAs()), QByteArray());
    QCOMPARE(rig.files(), QStringList{"ORDERS.TXT"});
}

void TestUpload::restartAtCurrentLength()
{
    const QByteArray source = TransferRig::pattern(600);
    UploadRig rig(source, 120);
    // Three packets (360 bytes) arrive, then the next request is NAKed
    // three times; two more NAKs after the restart only repeat it.
    rig.portable.rules = {{'Y', 3, 7, Reply::Nak}};
    QByteArray atRestart;
    rig.portable.onFrame = [&](const HostFrame &frame) {
        if (frame.type == 'U' && frame.body != "a.txt[0]")
            atRestart = TransferRig::readFile(rig.saveAs());
    };
    QVERIFY(rig.run());

    QCOMPARE(rig.reporter.logOnly, QStringList{"NAK, restart uploading\r\n"});
    const QStringList expected{"Y",   "ACK", "0 .", "Y", "Y",   "Y",  "U a.txt[360]",
                               "0 .", "Y",   "Y",   "Y", "ACK", "0 ."};
    QCOMPARE(rig.portable.trace.mid(3 + 6, expected.size()), expected);
    QCOMPARE(rig.portable.count("U a.txt[360]"), 1);
    QCOMPARE(atRestart, source.left(360));
    QCOMPARE(TransferRig::readFile(rig.saveAs()), source);
}

void TestUpload::failureRestoresHost_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<int>("how");
    QTest::addColumn<QString>("red");

    const QString timeout = QStringLiteral("Time out error (2)\r\nUpload failed\r\n");
    const QString restart = QStringLiteral("NAK error (2)\r\nUpload failed\r\n");
    const QString lost =
        QStringLiteral("Serial port failed: Input/output error\r\nUpload failed\r\n");
    for (bool existing : {true, false}) {
        const char *which = existing ? "over an old copy" : "new path";
        QTest::addRow("time-out, %s", which) << existing << 0 << timeout;
        QTest::addRow("restart refused, %s", which) << existing << 1 << restart;
        QTest::addRow("line lost, %s", which) << existing << 2 << lost;
    }
}

void TestUpload::failureRestoresHost()
{
    QFETCH(bool, existing);
    QFETCH(int, how);
    QFETCH(QString, red);

    UploadRig rig(TransferRig::pattern(500));
    if (existing)
        TransferRig::writeFile(rig.saveAs(), OldContent);
    // Two packets go through before trouble starts.
    switch (how) {
    case 0:
        rig.portable.rules = {{'Y', 2, 99, Reply::Silent}};
        break;
    case 1:
        rig.portable.rules = {{'Y', 2, 4, Reply::Nak}, {'U', 1, 3, Reply::Nak}};
        break;
    case 2:
        rig.portable.onFrame = [&](const HostFrame &frame) {
            if (frame.type == 'Y' && rig.portable.count("Y") == 3)
                rig.line.vanish();
        };
        break;
    }
    QVERIFY(!rig.run());

    QCOMPARE(rig.reporter.redText(), red);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Upload failed"));
    if (existing) {
        QCOMPARE(rig.files(), QStringList{"ORDERS.TXT"});
        QCOMPARE(TransferRig::readFile(rig.saveAs()), OldContent);
    } else {
        QCOMPARE(rig.files(), QStringList{});
    }
}

void TestUpload::hostFileErrors_data()
{
    QTest::addColumn<QString>("saveAs");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("folder does not exist") << "missing/ORDERS.TXT" << QStringList{};
    // A folder in the file's place cannot be backed up or replaced.
    QTest::newRow("a folder in its place") << "ORDERS.TXT" << QStringList{"ORDERS.TXT"};
}

void TestUpload::hostFileErrors()
{
    QFETCH(QString, saveAs);
    QFETCH(QStringList, left);

    UploadRig rig("data");
    if (!left.isEmpty())
        QVERIFY(QDir(rig.dir.path()).mkdir(saveAs));
    rig.config.UploadList[1].SaveAs = rig.path(saveAs);
    QVERIFY(!rig.run());

    const QString red = rig.reporter.redText();
    QVERIFY2(red.contains(rig.path(saveAs)) && red.endsWith("\r\nUpload failed\r\n"),
             qPrintable(red));
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Upload failed"));
    QCOMPARE(rig.portable.count("Y"), 0);
    QCOMPARE(rig.files(), left);
}

QTEST_GUILESS_MAIN(TestUpload)
#include "test_upload.moc"
