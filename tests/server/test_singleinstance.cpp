// One instance per user, tried with real processes (this program again, with
// --hold): a second start is refused within seconds while the first runs, and
// a lock left behind by a killed first is taken over, on Windows even when
// the killed holder's process id has gone to a live process. A lock that
// cannot be made at all stops the real program with its reason and a
// failure status.
#include "SingleInstance.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

// Each wait ends as soon as the process answers; the bound only has to
// outlast a slow start (a loaded machine, a process under Wine).
constexpr int Patience = 30000;

#ifdef Q_OS_WIN
constexpr bool LockIsMutex = true;
#else
constexpr bool LockIsMutex = false;
#endif

QByteArray start(QProcess &process, const QString &lockPath)
{
    process.start(QCoreApplication::applicationFilePath(), {"--hold", lockPath});
    if (!process.waitForStarted(Patience) || !process.waitForReadyRead(Patience))
        return "no answer";
    return process.readLine().trimmed();
}

} // namespace

class SingleInstanceTest : public QObject
{
    Q_OBJECT

private slots:
    void secondStartIsRefused()
    {
        QTemporaryDir dir;
        const QString lock = dir.filePath("tarvo.lock");
        QProcess first, second, third;
        QCOMPARE(start(first, lock), QByteArray("acquired"));
        QCOMPARE(start(second, lock), QByteArray("refused"));
        QVERIFY(second.waitForFinished(Patience));

        first.kill();
        QVERIFY(first.waitForFinished(Patience));
        // What a crash leaves behind: the lock file, or on Windows nothing.
        QCOMPARE(QFile::exists(lock), !LockIsMutex);
        QCOMPARE(start(third, lock), QByteArray("acquired"));
        third.closeWriteChannel();
        QVERIFY(third.waitForFinished(Patience));
    }

    void unwritableLockFolderIsSaid()
    {
#ifdef Q_OS_WIN
        QSKIP("The Windows lock is a named mutex, not a file in a folder.");
#endif
        // Under a plain file no folder can be made, whoever runs the test; the
        // runtime folder's fallbacks (in the temporary folder, then the data
        // folder) are put there too.
        QTemporaryDir dir;
        const QString blocker = dir.filePath("file");
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", blocker + "/run");
        env.insert("TMPDIR", blocker);
        env.insert("XDG_DATA_HOME", blocker + "/data");
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess tarvo;
        tarvo.setProcessEnvironment(env);
        tarvo.start(TARVO_PATH, {});
        QVERIFY(tarvo.waitForFinished(Patience)); // not waiting in the configuration window
        QCOMPARE(tarvo.exitStatus(), QProcess::NormalExit);
        QVERIFY(tarvo.exitCode() != 0);
        const QString said = QString::fromLocal8Bit(tarvo.readAllStandardError());
        QVERIFY2(said.contains("Tarvo cannot start") && said.contains("Not a directory"),
                 qPrintable(said));
    }

    // A crashed holder whose process id now belongs to a live process of the
    // same program (quick to happen under Wine): the lock must still be free.
    void crashedHolderWithReusedIdDoesNotBlock()
    {
#ifndef Q_OS_WIN
        QSKIP("The lock file trusts a live holder id; only the Windows lock ignores ids.");
#endif
        QTemporaryDir dir;
        const QString lock = dir.filePath("tarvo.lock");
        QProcess first, second;
        QCOMPARE(start(first, lock), QByteArray("acquired"));
        first.kill();
        QVERIFY(first.waitForFinished(Patience));
        if (QFile left(lock); left.open(QIODevice::ReadWrite)) {
            // A lock file names its holder on the first line.
            QByteArray content = left.readAll();
            content.replace(0, content.indexOf('\n'), QByteArray::number(qApp->applicationPid()));
            left.resize(0);
            left.write(content);
        }
        QCOMPARE(start(second, lock), QByteArray("acquired"));
        second.closeWriteChannel();
        QVERIFY(second.waitForFinished(Patience));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0) {
        Tarvo::SingleInstance instance(QString::fromLocal8Bit(argv[2]));
        const bool got = instance.tryAcquire() == Tarvo::SingleInstance::Acquire::Acquired;
        std::fputs(got ? "acquired\n" : "refused\n", stdout);
        std::fflush(stdout);
        while (got && std::getchar() != EOF) // holds the lock until its input closes
            continue;
        return 0;
    }
    QCoreApplication app(argc, argv);
    SingleInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_singleinstance.moc"
