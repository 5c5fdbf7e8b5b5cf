// One instance per user and settings, tried with real processes: this program again (with --hold)
// and the real program.
#include "Columns.h"
#include "SingleInstance.h"

#include <QtTest>
#include <cstdio>

using Tarvo::Testing::columns;
using Tarvo::Testing::fetch;

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
        // What a crash leaves behind: the lock file, or on Windows nothing. A lock file that names
        // a live process (its id reused) of another machine (a home folder restored) is free.
        QCOMPARE(QFile::exists(lock), !LockIsMutex);
        if (QFile stale(lock); stale.open(QIODevice::WriteOnly))
            stale.write(QByteArray::number(QCoreApplication::applicationPid()) +
                        "\nTarvo\nanother-machine\n");
        QCOMPARE(start(third, lock), QByteArray("acquired"));
        third.closeWriteChannel();
        QVERIFY(third.waitForFinished(Patience));
    }

    // The same user from another session (another runtime folder) sharing the settings or the
    // journal: the second ends at once, silently, and the first is not stopped by a folder it
    // cannot write. "-" stands for a plain file, under which no folder can be made; read-only:
    // the settings folder (with a settings file) is mounted read-only for both.
    void secondSessionIsRefused_data()
    {
        const auto row = columns<QString, QString, QString, QString, bool>(
            "config", "secondConfig", "data", "secondData", "readOnly");
        row("same settings", "config", "config", "data", "data", false);
        row("other settings, same journal", "config", "config2", "data", "data", false);
        row("read-only settings, other journals", "config", "config", "data", "data2", true);
        row("no settings folder, other journals", "-/config", "-/config", "data", "data2", false);
        row("no journal folder", "config", "config", "-/data", "-/data", false);
    }
    void secondSessionIsRefused()
    {
#ifdef Q_OS_WIN
        QSKIP("Every log-in session sees the global mutex; Wine has no second session.");
#endif
        auto [config, secondConfig, data, secondData, readOnly] =
            fetch<QString, QString, QString, QString, bool>("config", "secondConfig", "data",
                                                            "secondData", "readOnly");
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath("-")).open(QIODevice::WriteOnly));
        const QString settings = dir.filePath("config/Tarvo");
        QVERIFY(QDir().mkpath(settings));
        QVERIFY(QFile(settings + "/Tarvo.conf").open(QIODevice::WriteOnly));
        const auto launch = [&dir, &settings,
                             readOnly = readOnly](QProcess &tarvo, const QString &cfg,
                                                  const QString &dat, const QString &run) {
            tarvo.setProcessEnvironment(
                environment(dir.filePath(cfg), dir.filePath(dat), dir.filePath(run)));
            if (!readOnly)
                return tarvo.start(TARVO_PATH, {});
            tarvo.start("unshare",
                        {"--user", "--map-root-user", "--mount", "sh", "-c",
                         "mount --bind -o ro \"$0\" \"$0\" && exec \"$1\"", settings, TARVO_PATH});
        };
        if (readOnly && QProcess::execute("unshare", {"-rm", "true"}) != 0)
            QSKIP("No user namespaces here to mount the settings folder read-only in.");
        QProcess first, second;
        launch(first, config, data, "run1");
        // Up once it holds a lock, wherever (it then waits in the configuration window).
        const auto holdsLock = [&first] {
            const QDir fds(QString("/proc/%1/fd").arg(first.processId()));
            for (const QFileInfo &fd : fds.entryInfoList(QDir::AllEntries | QDir::System))
                if (fd.symLinkTarget().endsWith(".lock"))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(holdsLock(), Patience);
        launch(second, secondConfig, secondData, "run2");
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
