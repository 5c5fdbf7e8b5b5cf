// One instance per user, tried with real processes: this program started
// again with --hold takes the lock. A second start is refused within seconds
// while the first runs, and the lock is free again once the first has ended,
// even when it was killed.
#include "SingleInstance.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

// The child: says whether it got the lock, and holds it until its input closes.
int hold(const char *lockPath)
{
    Tarvo::SingleInstance instance(QString::fromLocal8Bit(lockPath));
    const bool got = instance.tryAcquire();
    std::fputs(got ? "acquired\n" : "refused\n", stdout);
    std::fflush(stdout);
    QFile input;
    if (got && input.open(stdin, QIODevice::ReadOnly))
        input.readAll();
    return got ? 0 : 1;
}

QByteArray start(QProcess &process, const QString &lockPath)
{
    process.start(QCoreApplication::applicationFilePath(), {"--hold", lockPath});
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
        return "no answer";
    return process.readLine().trimmed();
}

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondStartIsRefused_data()
    {
        QTest::addColumn<bool>("killFirst");
        QTest::newRow("first ends normally") << false;
        QTest::newRow("first crashes") << true;
    }

    void secondStartIsRefused()
    {
        QFETCH(bool, killFirst);
        QTemporaryDir dir;
        const QString lock = dir.filePath("tarvo.lock");
        QProcess first, second, third;
        QCOMPARE(start(first, lock), QByteArray("acquired"));

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(start(second, lock), QByteArray("refused"));
        QVERIFY(second.waitForFinished(5000));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(first.state(), QProcess::Running);

        if (killFirst)
            first.kill(); // leaves the lock file behind
        else
            first.closeWriteChannel();
        QVERIFY(first.waitForFinished(5000));
        QCOMPARE(QFile::exists(lock), killFirst);

        QCOMPARE(start(third, lock), QByteArray("acquired"));
        third.closeWriteChannel();
        QVERIFY(third.waitForFinished(5000));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0)
        return hold(argv[2]);
    QCoreApplication app(argc, argv);
    SingleInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_singleinstance.moc"
