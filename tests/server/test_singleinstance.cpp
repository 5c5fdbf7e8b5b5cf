// One instance per user, tried with real processes: a second start is
// refused within seconds while the first runs, and the lock is free again
// once the first has ended, even when it was killed.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Holder
{
    QProcess process;

    QByteArray start(const QString &lockPath)
    {
        process.start(QStringLiteral(TARVO_LOCK_HOLDER), {lockPath});
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return "no answer";
        return process.readLine().trimmed();
    }
    ~Holder()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondStartIsRefused_data();
    void secondStartIsRefused();
};

void SingleInstanceTest::secondStartIsRefused_data()
{
    QTest::addColumn<bool>("killFirst");
    QTest::newRow("first ends normally") << false;
    QTest::newRow("first crashes") << true;
}

void SingleInstanceTest::secondStartIsRefused()
{
    QFETCH(bool, killFirst);
    QTemporaryDir dir;
    const QString lock = dir.filePath("tarvo.lock");

    Holder first;
    QCOMPARE(first.start(lock), QByteArray("acquired"));

    QElapsedTimer timer;
    timer.start();
    Holder second;
    QCOMPARE(second.start(lock), QByteArray("refused"));
    QVERIFY(second.process.waitForFinished(5000));
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(second.process.exitCode(), 1);
    QVERIFY(first.process.state() == QProcess::Running);

    if (killFirst) {
        first.process.kill(); // leaves the lock file behind
        QVERIFY(first.process.waitForFinished(5000));
        QVERIFY(QFile::exists(lock));
    } else {
        first.process.closeWriteChannel();
        QVERIFY(first.process.waitForFinished(5000));
        QCOMPARE(first.process.exitCode(), 0);
    }

    Holder third;
    QCOMPARE(third.start(lock), QByteArray("acquired"));
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_singleinstance.moc"
