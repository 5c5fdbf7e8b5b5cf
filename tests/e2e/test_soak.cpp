// Two hundred unpaced calls against tarvo-portable: memory and open descriptors after the last stay
// within a small margin of those after call 20. Labelled "soak": run it with `ctest -L soak`.
#include "Calls.h"

#include <QtTest>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Bench;

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void twoHundredCalls()
    {
        constexpr int Calls = 200;
        const auto residentKiB = [] {
            QFile statm(QStringLiteral("/proc/self/statm")); // sizes in pages: total, resident, ...
            statm.open(QIODevice::ReadOnly);                 // 0 when unreadable: checked below
            return statm.readAll().split(' ').value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
        };
        const auto openDescriptors = [] { return int(QDir("/proc/self/fd").count()) - 2; }; // . ..
        PortableRig rig;
        QVERIFY(start(rig, {.host = {{"d.txt", QByteArray(900, 'd')}},
                            .portable = {{"U.TXT", QByteArray(700, 'u')}},
                            .downloads = {{"D.TXT", "d.txt"}},
                            .uploads = {{"U.TXT", "u.txt"}},
                            .options = {.interval = 0.05, .calls = Calls}}));

        // On failure: the calls so far and what the host showed last.
        const auto seen = [&rig] { return rig.summaries.join('\n') + '\n' + rig.log.right(1500); };
        QVERIFY2(rig.waitForCalls(20, 120000), qPrintable(seen()));
        const long rss20 = residentKiB();
        const auto fds20 = openDescriptors();

        QVERIFY2(rig.waitForCalls(Calls, 900000), qPrintable(seen()));
        const long rss200 = residentKiB();
        const auto fds200 = openDescriptors();

        qInfo("after call 20: RSS %ld KiB, %d descriptors; after call %d: RSS %ld KiB, %d "
              "descriptors",
              rss20, fds20, Calls, rss200, fds200);
        QCOMPARE(rig.log.count("Portable ready"), Calls);
        QCOMPARE(rig.log.count("Waiting call ..."), Calls + 1); // every call re-armed
        QVERIFY2(rig.reporter.failures().isEmpty(), qPrintable(rig.reporter.failures().left(500)));
        QVERIFY(rss20 > 0);
        QVERIFY(fds200 <= fds20 + 2);
        QVERIFY(rss200 <= rss20 + 1024);
    }
};

QTEST_GUILESS_MAIN(SoakTest)
#include "test_soak.moc"
