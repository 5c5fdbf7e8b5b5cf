// One instance per user and settings, tried with real processes: this program again (with --hold)
// and the real program.
#include "SingleInstance.h"

#include <QtTest>
#include <cstdio>

namespace {

// Waits end when the process answers; the bound outlasts a slow start (Wine).
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

// A real Tarvo's surroundings: its own folders, no screen.
QProcessEnvironment environment(const QString &config, const QString &data, const QString &runtime)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_DATA_HOME", data);
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
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
        // What a crash leaves behind: the lock file, or on Windows nothing. There a stale file
        // naming a live process (its id reused) must not block either.
        QCOMPARE(QFile::exists(lock), !LockIsMutex);
        if (QFile stale(lock); LockIsMutex && stale.open(QIODevice::WriteOnly))
            stale.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        QCOMPARE(start(third, lock), QByteArray("acquired"));
        third.closeWriteChannel();
        QVERIFY(third.waitForFinished(Patience));
    }

    void unwritableLockFolderIsSaid()
    {
#ifdef Q_OS_WIN
        QSKIP("The Windows lock is a named mutex, not a file in a folder.");
#endif
        // Under a plain file no folder can be made, whoever runs the test.
        QTemporaryDir dir;
        const QString blocker = dir.filePath("file");
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        QProcess tarvo;
        tarvo.setProcessEnvironment(environment(blocker + "/config", blocker + "/data", blocker));
        tarvo.start(TARVO_PATH, {});
        QVERIFY(tarvo.waitForFinished(Patience)); // not waiting in the configuration window
        QCOMPARE(tarvo.exitStatus(), QProcess::NormalExit);
        QVERIFY(tarvo.exitCode() != 0);
        const QString said = QString::fromLocal8Bit(tarvo.readAllStandardError());
        QVERIFY2(said.contains("Tarvo cannot start") && said.contains("Not a directory"),
                 qPrintable(said));
    }

    // The same user from another session (another runtime folder) sharing the settings or the
    // journal: the second ends at once, silently.
    void secondSessionIsRefused_data()
    {
        QTest::addColumn<QString>("secondConfig");
        QTest::newRow("same settings") << "config";
        QTest::newRow("other settings, same journal") << "config2";
    }
    void secondSessionIsRefused()
    {
#ifdef Q_OS_WIN
        QSKIP("Every log-in session sees the global mutex; Wine has no second session.");
#endif
        QFETCH(QString, secondConfig);
        QTemporaryDir dir;
        QProcess first, second;
        first.setProcessEnvironment(
            environment(dir.filePath("config"), dir.filePath("data"), dir.filePath("run1")));
        second.setProcessEnvironment(
            environment(dir.filePath(secondConfig), dir.filePath("data"), dir.filePath("run2")));
        first.start(TARVO_PATH, {});
        // Up once it holds a lock, wherever (it then waits in the configuration window).
        const auto holdsLock = [&first] {
            const QDir fds(QString("/proc/%1/fd").arg(first.processId()));
            for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System))
                if (fd.symLinkTarget().endsWith(".lock"))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(holdsLock(), Patience);
        second.start(TARVO_PATH, {});
        QVERIFY(second.waitForFinished(Patience));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished(Patience));
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
