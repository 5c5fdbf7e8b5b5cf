// Two hundred calls in a row against tarvo-portable, unpaced, small files.
// Memory and open file descriptors after the last call must stay within a
// small margin of what they were after call 20: nothing may accumulate per
// call. Labelled "soak": run it with `ctest -L soak`.
#include "PortableRig.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Bench;

namespace {
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                   .size());
}
} // namespace

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void twoHundredCalls();
};

void SoakTest::twoHundredCalls()
{
    constexpr int Calls = 200;
    PortableRig rig;
    PortableRig::writeFile(rig.hostPath("d.txt"), QByteArray(900, 'd'));
    PortableRig::writeFile(rig.portableFile("U.TXT"), QByteArray(700, 'u'));
    rig.config.JobType = DownloadAndUpload;
    rig.config.DownloadList[0] = {"D.TXT", rig.hostPath("d.txt")};
    rig.config.UploadList[0] = {"U.TXT", rig.hostPath("u.txt")};
    rig.config.deriveCounts();

    QVERIFY(rig.startPortable({.interval = 0.05, .calls = Calls}));
    QVERIFY(rig.startHost());

    // On failure: the calls so far and what the host showed last.
    const auto seen = [&rig] { return rig.summaries.join('\n') + '\n' + rig.log.right(1500); };
    QVERIFY2(rig.waitForCalls(20, 120000), qPrintable(seen()));
    const long rss20 = residentKiB();
    const int fds20 = openDescriptors();

    QVERIFY2(rig.waitForCalls(Calls, 900000), qPrintable(seen()));
    const long rss200 = residentKiB();
    const int fds200 = openDescriptors();

    qInfo("after call 20: RSS %ld KiB, %d descriptors; after call %d: RSS %ld KiB, %d descriptors",
          rss20, fds20, Calls, rss200, fds200);
    QCOMPARE(rig.log.count("Portable ready"), Calls);
    QCOMPARE(rig.log.count("Waiting call ..."), Calls + 1); // every call re-armed
    QVERIFY2(rig.reporter.failures().isEmpty(), qPrintable(rig.reporter.failures().left(500)));
    QVERIFY(fds200 <= fds20 + 2);
    QVERIFY(rss200 <= rss20 + 1024);
}

QTEST_GUILESS_MAIN(SoakTest)
#include "test_soak.moc"
