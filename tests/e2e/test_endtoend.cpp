// Whole unattended calls: the real host pieces over a pseudo-terminal against
// tarvo-portable, unpaced, from RING to NO CARRIER and the re-armed modem.
#include "PortableRig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

using namespace Tarvo;
using namespace Tarvo::Bench;

namespace {
QByteArray allByteValues(int repeats)
{
    QByteArray data;
    for (int r = 0; r < repeats; ++r)
        for (int b = 0; b < 256; ++b)
            data += char(b);
    return data;
}

QByteArray text(int size, char seed)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data += char('A' + (i * 7 + seed) % 26);
    return data;
}
} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void twoCallsBothWays();
    void secondDownloadFailsEndsTheJob();
    void portVanishesDuringTransfer();
};

void EndToEndTest::twoCallsBothWays()
{
    PortableRig rig;
    const QByteArray binary = allByteValues(3);
    const QByteArray notes = text(300, 1);
    const QByteArray fresh = allByteValues(2) + text(1000, 3);
    PortableRig::writeFile(rig.hostPath("all.bin"), binary);
    PortableRig::writeFile(rig.hostPath("notes.txt"), notes);
    PortableRig::writeFile(rig.portableFile("ORDERS.TXT"), fresh);
    PortableRig::writeFile(rig.hostPath("orders.txt"), "old orders");
    rig.config.JobType = DownloadAndUpload;
    rig.config.DownloadList[0] = {"ALL.BIN", rig.hostPath("all.bin")};
    rig.config.DownloadList[1] = {"Notes.txt", rig.hostPath("notes.txt")};
    rig.config.UploadList[0] = {"ORDERS.TXT", rig.hostPath("orders.txt")};
    rig.config.deriveCounts();

    QVERIFY(rig.startPortable({.calls = 2}));
    QVERIFY(rig.startHost());
    QVERIFY(rig.waitForCalls(2, 90000));

    QCOMPARE(PortableRig::readFile(rig.receivedFile("ALL.BIN")), binary);
    QCOMPARE(PortableRig::readFile(rig.receivedFile("Notes.txt")), notes);
    QCOMPARE(PortableRig::readFile(rig.hostPath("all.bin")), binary);
    QCOMPARE(PortableRig::readFile(rig.hostPath("orders.txt")), fresh);
    QVERIFY(!QFile::exists(rig.hostPath("orders.BAK")));
    QVERIFY2(rig.reporter.failures().isEmpty(), qPrintable(rig.reporter.failures()));
    QCOMPARE(rig.log.count("Portable ready"), 2);
    QCOMPARE(rig.log.count("NO CARRIER"), 2);
    QCOMPARE(rig.log.count("Waiting call ..."), 3); // the start and two re-arms
    QVERIFY(!rig.state.Connected);
    QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
}

void EndToEndTest::secondDownloadFailsEndsTheJob()
{
    PortableRig rig;
    PortableRig::writeFile(rig.hostPath("a.txt"), "first file");
    PortableRig::writeFile(rig.portableFile("U.TXT"), "never fetched");
    rig.config.JobType = DownloadAndUpload;
    rig.config.DownloadList[0] = {"A.TXT", rig.hostPath("a.txt")};
    rig.config.DownloadList[1] = {"B.TXT", rig.hostPath("vanished.txt")};
    rig.config.UploadList[0] = {"U.TXT", rig.hostPath("u.txt")};
    rig.config.deriveCounts();

    QVERIFY(rig.startPortable({}));
    QVERIFY(rig.startHost());
    QVERIFY(rig.waitForCalls(1, 60000));

    QCOMPARE(PortableRig::readFile(rig.receivedFile("A.TXT")), QByteArray("first file"));
    QVERIFY(!QFile::exists(rig.receivedFile("B.TXT")));
    QVERIFY(!QFile::exists(rig.hostPath("u.txt")));
    QVERIFY(rig.reporter.failures().contains("Download failed"));
    QVERIFY(!rig.log.contains("Upload U.TXT"));
    QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
}

void EndToEndTest::portVanishesDuringTransfer()
{
    // The simulator goes away in the middle of an upload, taking the
    // pseudo-terminal with it: the old copy must survive and the server
    // must end up stopped with a clear message, not hanging or crashing.
    PortableRig rig;
    PortableRig::writeFile(rig.portableFile("BIG.TXT"), text(200000, 1));
    PortableRig::writeFile(rig.hostPath("big.txt"), "previous copy");
    rig.config.JobType = UploadOnly;
    rig.config.UploadList[0] = {"BIG.TXT", rig.hostPath("big.txt")};
    rig.config.deriveCounts();

    QVERIFY(rig.startPortable({.bitsPerSecond = 38400}));
    // The job runs inside one event, so the kill must come from a timer that
    // fires in the middle of the transfer's own waits.
    QElapsedTimer sinceStart;
    QTimer killer;
    QObject::connect(&killer, &QTimer::timeout, [&] {
        if (!rig.log.contains("Upload BIG.TXT"))
            return;
        if (!sinceStart.isValid())
            sinceStart.start();
        else if (sinceStart.elapsed() > 500) {
            killer.stop();
            rig.killPortable();
        }
    });
    killer.start(20);
    QVERIFY(rig.startHost());

    QTRY_VERIFY_WITH_TIMEOUT(!rig.state.PortOpened, 20000);
    QCOMPARE(PortableRig::readFile(rig.hostPath("big.txt")), QByteArray("previous copy"));
    QVERIFY(!QFile::exists(rig.hostPath("big.BAK")));
    QVERIFY(rig.reporter.failures().contains("Upload failed"));
    QVERIFY(rig.reporter.failures().contains("Modem port lost"));
    QCOMPARE(rig.controls.startStop, QString("Start"));
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "test_endtoend.moc"
