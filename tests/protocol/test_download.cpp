// Sending host files to the portable: blocks, restarts, every failure.
#include "TransferRig.h"

#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

const QString Name = QStringLiteral("a.txt");

struct DownloadRig : TransferRig
{
    explicit DownloadRig(const QByteArray &content, const QString &name = Name)
    {
        writeFile(path(QStringLiteral("source.bin")), content);
        config.DownloadList[2] = {name, path(QStringLiteral("source.bin"))};
        config.DownloadCount = 3;
    }
    bool run() { return job.RunDownloadJob(2); }

    DownloadJob job{link, reporter, config};
};

// The trace of a clean download of blocks of the given sizes.
QStringList cleanTrace(const QList<int> &blocks)
{
    QStringList trace{"0 RECEIVING A.TXT\r\n", "L a.txt", "0 ."};
    for (int size : blocks)
        trace << QStringLiteral("Y %1").arg(size) << "0 .";
    trace << "Z";
    return trace;
}

} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void wholeFile_data();
    void wholeFile();
    void restartAfterThirdNak_data();
    void restartAfterThirdNak();
    void restartOnlyOncePerBlock();
    void failures_data();
    void failures();
    void unreadableHostFile_data();
    void unreadableHostFile();
    void lineLostOrStopped_data();
    void lineLostOrStopped();
};

void TestDownload::wholeFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("blocks");

    QTest::newRow("empty") << 0 << QList<int>{};
    QTest::newRow("1 byte") << 1 << QList<int>{1};
    QTest::newRow("120 bytes") << 120 << QList<int>{120};
    QTest::newRow("121 bytes") << 121 << QList<int>{120, 1};
    QTest::newRow("every byte value twice") << 512 << QList<int>{120, 120, 120, 120, 32};
    QTest::newRow("three whole blocks") << 360 << QList<int>{120, 120, 120};
}

void TestDownload::wholeFile()
{
    QFETCH(int, size);
    QFETCH(QList<int>, blocks);

    const QByteArray content = TransferRig::pattern(size);
    DownloadRig rig(content);
    QVERIFY(rig.run());

    QCOMPARE(rig.portable.trace, cleanTrace(blocks));
    QCOMPARE(rig.portable.stored, content);
    QCOMPARE(rig.portable.badFrames, 0);
    QCOMPARE(rig.reporter.clears, 1);
    QCOMPARE(rig.reporter.paneText(), QStringLiteral("Download a.txt ...\r\n") +
                                          QString(blocks.size() + 1, QLatin1Char('.')) +
                                          QStringLiteral("\r\nDone\r\n"));
    QVERIFY(rig.reporter.redText().isEmpty());
    QCOMPARE(rig.reporter.tips, (QStringList{"Download a.txt ...", "Download success"}));
    // The host file is only read.
    QCOMPARE(TransferRig::readFile(rig.path("source.bin")), content);
}

void TestDownload::restartAfterThirdNak_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("announce");

    QTest::newRow("first block: announce without offset") << 1 << "L a.txt";
    QTest::newRow("second block") << 2 << "L a.txt[120]";
    QTest::newRow("last, short block") << 3 << "L a.txt[240]";
}

void TestDownload::restartAfterThirdNak()
{
    QFETCH(int, block);
    QFETCH(QString, announce);

    const QByteArray content = TransferRig::pattern(300);
    DownloadRig rig(content);
    const int first = block - 1; // the block's first transmission among the "Y" frames
    rig.portable.rules = {{'Y', first, first + 2, Reply::Nak}};
    QVERIFY(rig.run());

    const QList<int> sizes{120, 120, 60};
    QStringList expected{"0 RECEIVING A.TXT\r\n", "L a.txt", "0 ."};
    for (int i = 1; i <= 3; ++i) {
        const QString data = QStringLiteral("Y %1").arg(sizes[i - 1]);
        if (i == block)
            expected << data << data << data << "Z" << announce << "0 .";
        expected << data << "0 .";
    }
    expected << "Z";
    QCOMPARE(rig.portable.trace, expected);
    QCOMPARE(rig.portable.stored, content);
    QCOMPARE(rig.reporter.logOnly, QStringList{"NAK, restart downloading\r\n"});
    // Two announces and three blocks.
    QCOMPARE(rig.reporter.paneText(), QStringLiteral("Download a.txt ...\r\n.....\r\nDone\r\n"));
}

void TestDownload::restartOnlyOncePerBlock()
{
    // Six NAKs for block 2: the third restarts, the next three only repeat it.
    DownloadRig rig(TransferRig::pattern(300));
    rig.portable.rules = {{'Y', 1, 6, Reply::Nak}};
    QVERIFY(rig.run());
    QCOMPARE(rig.portable.count("Y 120"), 1 + 7);
    QCOMPARE(rig.portable.count("Z"), 2);
    QCOMPARE(rig.portable.count("L a.txt[120]"), 1);
    QCOMPARE(rig.reporter.logOnly.size(), 1);

    // The next block has a fresh count and may restart again.
    DownloadRig twice(TransferRig::pattern(300));
    twice.portable.rules = {{'Y', 1, 3, Reply::Nak}, {'Y', 5, 7, Reply::Nak}};
    QVERIFY(twice.run());
    QCOMPARE(twice.portable.count("L a.txt[120]"), 1);
    QCOMPARE(twice.portable.count("L a.txt[240]"), 1);
    QCOMPARE(twice.portable.stored, TransferRig::pattern(300));
}

void TestDownload::failures_data()
{
    QTest::addColumn<QList<Rule>>("rules");
    QTest::addColumn<QString>("red");
    QTest::addColumn<QStringList>("tail"); // the last frames the portable saw

    const Rule neverNakAgain{'Y', 1, 3, Reply::Nak};
    QTest::newRow("announce NAKed")
        << QList<Rule>{{'L', 0, 2, Reply::Nak}} << "NAK error (1)"
        << QStringList{"0 RECEIVING A.TXT\r\n", "L a.txt", "L a.txt", "L a.txt"};
    QTest::newRow("announce unanswered")
        << QList<Rule>{{'L', 0, 2, Reply::Silent}} << "Time out error (1)"
        << QStringList{"L a.txt", "L a.txt", "L a.txt"};
    QTest::newRow("data block unanswered: no end packet")
        << QList<Rule>{{'Y', 1, 3, Reply::Silent}} << "Time out error (2)"
        << QStringList{"0 .", "Y 120", "Y 120", "Y 120"};
    QTest::newRow("end packet NAKed") << QList<Rule>{{'Z', 0, 2, Reply::Nak}} << "NAK error (3)"
                                      << QStringList{"0 .", "Z", "Z", "Z"};
    QTest::newRow("end packet unanswered")
        << QList<Rule>{{'Z', 0, 2, Reply::Silent}} << "Time out error (3)"
        << QStringList{"0 .", "Z", "Z", "Z"};
    QTest::newRow("restart: end packet NAKed")
        << QList<Rule>{neverNakAgain, {'Z', 0, 2, Reply::Nak}} << "NAK error (3)"
        << QStringList{"Y 120", "Z", "Z", "Z"};
    QTest::newRow("restart: announce NAKed")
        << QList<Rule>{neverNakAgain, {'L', 1, 3, Reply::Nak}} << "NAK error (2)"
        << QStringList{"Z", "L a.txt[120]", "L a.txt[120]", "L a.txt[120]"};
    QTest::newRow("restart: announce unanswered")
        << QList<Rule>{neverNakAgain, {'L', 1, 3, Reply::Silent}} << "Time out error (1)"
        << QStringList{"Z", "L a.txt[120]", "L a.txt[120]", "L a.txt[120]"};
}

void TestDownload::failures()
{
    QFETCH(QList<Rule>, rules);
    QFETCH(QString, red);
    QFETCH(QStringList, tail);

    DownloadRig rig(TransferRig::pattern(300));
    rig.portable.rules = rules;
    QVERIFY(!rig.run());
    QCOMPARE(rig.reporter.redText(), red + "\r\nDownload failed\r\n");
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Download failed"));
    QVERIFY(!rig.reporter.paneText().contains("Done"));
    QCOMPARE(rig.portable.trace.mid(rig.portable.trace.size() - tail.size()), tail);
}

void TestDownload::unreadableHostFile_data()
{
    QTest::addColumn<QString>("openFrom");
    QTest::newRow("vanished") << "gone.bin";
    QTest::newRow("a folder") << ".";
}

void TestDownload::unreadableHostFile()
{
    QFETCH(QString, openFrom);

    DownloadRig rig("content");
    const QString path = rig.path(openFrom);
    rig.config.DownloadList[2].OpenFrom = path;
    QVERIFY(!rig.run());

    // Neither an announce nor data: the portable only saw the name.
    QCOMPARE(rig.portable.trace, QStringList{"0 RECEIVING A.TXT\r\n"});
    const QString red = rig.reporter.redText();
    QVERIFY2(red.contains(path) && red.endsWith("\r\nDownload failed\r\n"), qPrintable(red));
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Download failed"));
    QVERIFY(!QFile::exists(rig.path("gone.bin")));
}

void TestDownload::lineLostOrStopped_data()
{
    QTest::addColumn<bool>("lost");
    QTest::addColumn<QString>("red");
    QTest::newRow("device lost") << true
                                 << "Serial port failed: Input/output error\r\nDownload failed\r\n";
    QTest::newRow("stop requested") << false << "Transfer stopped\r\nDownload failed\r\n";
}

void TestDownload::lineLostOrStopped()
{
    QFETCH(bool, lost);
    QFETCH(QString, red);

    DownloadRig rig(TransferRig::pattern(300));
    // Trouble strikes while the second block waits for its answer.
    rig.portable.rules = {{'Y', 1, 1, Reply::Silent}};
    rig.portable.onFrame = [&](const HostFrame &frame) {
        if (frame.type == 'Y' && rig.portable.count("Y 120") == 2)
            rig.clock.onEvents = [&] { lost ? rig.line.vanish() : rig.wait.requestAbort(); };
    };
    QVERIFY(!rig.run());
    QCOMPARE(rig.reporter.redText(), red);
    QCOMPARE(rig.reporter.tip(), QStringLiteral("Download failed"));
    QCOMPARE(rig.portable.trace.last(), QStringLiteral("Y 120"));
    QCOMPARE(rig.portable.count("Z"), 0);
}

QTEST_GUILESS_MAIN(TestDownload)
#include "test_download.moc"
