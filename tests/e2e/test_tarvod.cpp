// The real tarvod process, started as the service manager starts it (no display, no home, no
// session: env -i, locations on its command line), against tarvo-portable on a pseudo-terminal:
// calls served byte for byte, the service manager's notifications, the orderly end on SIGTERM in
// the middle of an upload, recovery before arming after kill -9, one server per state folder and
// device, two servers side by side, and a start without settings.
#include "Portable.h"
#include "PortableRig.h"
#include "TarvodProcess.h"

#include <QtTest>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Bench;
using Tarvo::Testing::pattern;

namespace {

const QByteArray OldCopy = "yesterday's orders\r\n";

using Daemon = TarvodProcess;

void configure(Daemon &daemon, const Configuration &config, const QString &device)
{
    QString error;
    QVERIFY2(daemon.writeSettings(config, device, error), qPrintable(error));
}

// A datagram socket in the abstract namespace, as the service manager's $NOTIFY_SOCKET.
class NotifySocket
{
public:
    NotifySocket()
    {
        m_name = "tarvo-test-notify-" + QByteArray::number(::getpid());
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, m_name.constData(), std::size_t(m_name.size()));
        ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address),
               socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(m_name.size())));
    }
    ~NotifySocket() { ::close(m_fd); }
    QString variable() const { return "NOTIFY_SOCKET=@" + QString::fromLatin1(m_name); }
    // Every datagram received so far, in order.
    QList<QByteArray> &received()
    {
        char buffer[512];
        for (ssize_t got; (got = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            m_received += QByteArray(buffer, int(got));
        return m_received;
    }

private:
    QByteArray m_name;
    int m_fd = -1;
    QList<QByteArray> m_received;
};

// Until the portable has reported calls finished calls, or ms have passed.
bool served(const PortableRig &rig, int calls, int ms)
{
    QDeadlineTimer deadline(ms);
    while (rig.summaries.size() < calls && !deadline.hasExpired())
        QTest::qWait(20);
    return rig.summaries.size() >= calls;
}

} // namespace

class TarvodTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void linksNoGui()
    {
        QProcess ldd;
        ldd.start("ldd", {TARVOD_PATH});
        QVERIFY(ldd.waitForFinished(10000));
        const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(libraries.contains("Qt6Core"), qPrintable(libraries));
        for (const char *library : {"Qt6Gui", "Qt6Widgets", "libX11", "libxcb", "libGL"})
            QVERIFY2(!libraries.contains(library), library);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "tarvod 2.";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--state-dir <DIR>";
        QTest::newRow("unknown option") << QStringList{"--port", "1"} << 2 << "Unknown option";
        QTest::newRow("empty location")
            << QStringList{"--log-dir", ""} << 2 << "--log-dir may not be empty";
        QTest::newRow("an argument") << QStringList{"serve"} << 2 << "Unexpected argument: serve";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        QProcess tarvod;
        tarvod.start(TARVOD_PATH, arguments);
        QVERIFY(tarvod.waitForFinished(5000));
        QCOMPARE(tarvod.exitCode(), status);
        const QString output =
            QString::fromLocal8Bit(tarvod.readAllStandardOutput() + tarvod.readAllStandardError());
        QVERIFY2(output.contains(says), qPrintable(output));
    }

    void servesWithoutSessionAndNotifies()
    {
        // A download and an upload byte for byte; READY=1 once armed, the watchdog's pings
        // during the transfer, STOPPING=1 at the end.
        PortableRig rig;
        const QByteArray outgoing = pattern(20000),
                         incoming = pattern(30000).toBase64().left(30000);
        PortableRig::writeFile(rig.hostPath("out.bin"), outgoing);
        PortableRig::writeFile(rig.hostPath("in.txt"), OldCopy);
        PortableRig::writeFile(rig.portableFile("IN.TXT"), incoming);
        QVERIFY(rig.startPortable({.bitsPerSecond = 38400}));
        Configuration config;
        config.JobType = DownloadAndUpload;
        config.DownloadList[0] = {"OUT.BIN", rig.hostPath("out.bin")};
        config.UploadList[0] = {"IN.TXT", rig.hostPath("in.txt")};
        Daemon daemon(m_dir.filePath("served"));
        configure(daemon, config, rig.ptyPath());
        NotifySocket notify;
        QVERIFY(daemon.start({}, {notify.variable(), "WATCHDOG_USEC=200000"}));
        QTimer reader; // the service manager reads as they come
        QObject::connect(&reader, &QTimer::timeout, [&notify] { notify.received(); });
        reader.start(50);

        QTRY_VERIFY2_WITH_TIMEOUT(daemon.log().contains("Waiting call ..."),
                                  qPrintable(daemon.log()), 5000);
        QVERIFY2(daemon.sinceStart() < 5000, QByteArray::number(daemon.sinceStart()));
        qInfo("armed %lld ms after the start", daemon.sinceStart());
        QTRY_VERIFY_WITH_TIMEOUT(notify.received().contains("READY=1\nSTATUS=Waiting call ..."),
                                 2000);
        const int beforeCall = int(notify.received().size());
        QVERIFY2(served(rig, 1, 60000), qPrintable(daemon.log()));
        QVERIFY2(rig.summaries.first().contains("outcome=all-done"),
                 qPrintable(rig.summaries.first()));
        QCOMPARE(PortableRig::readFile(rig.receivedFile("OUT.BIN")), outgoing);
        QTRY_COMPARE_WITH_TIMEOUT(PortableRig::readFile(rig.hostPath("in.txt")), incoming, 5000);
        QVERIFY(!QFile::exists(rig.hostPath("in.BAK")));
        // 50 000 bytes at 38400 bit/s take more than 10 s: pings came from within the job's waits.
        QVERIFY2(notify.received().mid(beforeCall).count("WATCHDOG=1") >= 20,
                 QByteArray::number(notify.received().mid(beforeCall).count("WATCHDOG=1")));

        QTRY_COMPARE_WITH_TIMEOUT(daemon.log().count("Waiting call ..."), 2, 10000); // re-armed
        QVERIFY(daemon.terminate() >= 0);
        QCOMPARE(daemon.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.process().exitCode(), 0);
        QVERIFY(notify.received().contains("STOPPING=1"));
        QVERIFY2(daemon.log().contains("Stop auto answer ... OK"), qPrintable(daemon.log()));
    }

    void endedMidUpload_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM: put back, hung up, disarmed") << SIGTERM;
        QTest::newRow("kill -9, then recovery before arming") << SIGKILL;
    }

    void endedMidUpload()
    {
        QFETCH(int, signalNumber);
        PortableRig rig;
        const QString target = rig.hostPath("big.txt"), backup = rig.hostPath("big.BAK");
        PortableRig::writeFile(target, OldCopy);
        PortableRig::writeFile(rig.portableFile("BIG.TXT"), pattern(200000));
        QVERIFY(rig.startPortable({.bitsPerSecond = 38400}));
        Configuration config;
        config.JobType = UploadOnly;
        config.UploadList[0] = {"BIG.TXT", target};
        Daemon daemon(m_dir.filePath(QString("ended%1").arg(signalNumber)));
        configure(daemon, config, rig.ptyPath());
        QVERIFY(daemon.start());

        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo(target).size() > 1000, qPrintable(daemon.log()), 30000);
        QCOMPARE(Testing::readFile(backup), OldCopy);
        if (signalNumber == SIGTERM) {
            const qint64 took = daemon.terminate();
            QVERIFY2(took >= 0 && took < 5000, QByteArray::number(took));
            qInfo("ended %lld ms after SIGTERM", took);
            QCOMPARE(daemon.process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(daemon.process().exitCode(), 0);
            QVERIFY2(daemon.log().contains("Upload failed"), qPrintable(daemon.log()));
            QCOMPARE(daemon.log().count("Not connected"), 1);
            const QString log = daemon.log();
            QVERIFY2(log.indexOf("Hanging up ...") >= 0 &&
                         log.indexOf("Hanging up ...") < log.indexOf("Stop auto answer ... OK"),
                     qPrintable(log));
            QCOMPARE(Testing::readFile(target), OldCopy);
            QVERIFY(!QFile::exists(backup));
            return;
        }
        ::kill(pid_t(daemon.process().processId()), SIGKILL);
        QVERIFY(daemon.process().waitForFinished(10000));
        QVERIFY(Testing::readFile(target) != OldCopy);
        rig.killPortable();

        // A new line for the next start: the old copy is back before the modem is armed, and the
        // next call is served.
        PortableRig next;
        PortableRig::writeFile(next.portableFile("BIG.TXT"), "today's orders\r\n");
        QVERIFY(next.startPortable({}));
        configure(daemon, config, next.ptyPath());
        QVERIFY(daemon.start());
        QVERIFY2(served(next, 1, 30000), qPrintable(daemon.log()));
        const QString log = daemon.log();
        const qsizetype restored = log.indexOf("Restored"), run = log.lastIndexOf("----------");
        QVERIFY2(restored > run && restored < log.indexOf("Waiting call ...", run),
                 qPrintable(log));
        QTRY_COMPARE_WITH_TIMEOUT(Testing::readFile(target), QByteArray("today's orders\r\n"),
                                  5000);
        QVERIFY(!QFile::exists(backup));
        QVERIFY(daemon.terminate() >= 0);
        QCOMPARE(daemon.process().exitCode(), 0);
    }

    void oneServerPerStateFolderAndDevice()
    {
        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600, .calls = 0}));
        Daemon first(m_dir.filePath("first"));
        configure(first, {}, rig.ptyPath());
        QVERIFY(first.start());
        QTRY_VERIFY2_WITH_TIMEOUT(first.log().contains("Waiting call ..."), qPrintable(first.log()),
                                  5000);
        const QString before = first.log();

        Daemon sameState(m_dir.filePath("sameState")), sameDevice(m_dir.filePath("sameDevice"));
        PortableRig other;
        QVERIFY(other.startPortable({.firstCallDelay = 3600, .calls = 0}));
        configure(sameState, {}, other.ptyPath());
        QVERIFY(sameState.start(first.stateDir()));
        configure(sameDevice, {}, rig.ptyPath());
        QVERIFY(sameDevice.start());
        for (auto [daemon, why] : {std::pair{&sameState, "state folder"}, {&sameDevice, "uses"}}) {
            QVERIFY(daemon->process().waitForFinished(3000));
            QVERIFY(daemon->process().exitCode() != 0);
            const QString said = QString::fromLocal8Bit(daemon->process().readAllStandardError());
            QVERIFY2(said.contains(why), qPrintable(said));
        }
        QCOMPARE(first.process().state(), QProcess::Running);
        QCOMPARE(first.log(), before);
        QVERIFY(first.terminate() >= 0);
    }

    void twoServersSideBySide()
    {
        PortableRig rigs[2];
        Daemon daemons[2] = {Daemon(m_dir.filePath("line1")), Daemon(m_dir.filePath("line2"))};
        for (int i = 0; i < 2; ++i) {
            PortableRig::writeFile(rigs[i].hostPath("out.bin"), pattern(8000 + i));
            QVERIFY(rigs[i].startPortable({.bitsPerSecond = 38400, .calls = 2}));
            Configuration config;
            config.JobType = DownloadOnly;
            config.DownloadList[0] = {"OUT.BIN", rigs[i].hostPath("out.bin")};
            configure(daemons[i], config, rigs[i].ptyPath());
            QVERIFY(daemons[i].start());
        }
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(served(rigs[i], 2, 60000), qPrintable(daemons[i].log()));
            QCOMPARE(PortableRig::readFile(rigs[i].receivedFile("OUT.BIN")), pattern(8000 + i));
            QCOMPARE(daemons[i].log().count("Portable ready"), 2);
        }
        for (Daemon &daemon : daemons)
            QVERIFY(daemon.terminate() >= 0);
    }

    void servesWithoutItsControlChannel()
    {
        // A file where the socket goes: said in red, and the next call is served all the same.
        PortableRig rig;
        const QByteArray outgoing = pattern(3000);
        PortableRig::writeFile(rig.hostPath("out.bin"), outgoing);
        QVERIFY(rig.startPortable({.bitsPerSecond = 38400}));
        Configuration config;
        config.JobType = DownloadOnly;
        config.DownloadList[0] = {"OUT.BIN", rig.hostPath("out.bin")};
        Daemon daemon(m_dir.filePath("nochannel"));
        configure(daemon, config, rig.ptyPath());
        PortableRig::writeFile(daemon.controlPath(), "not a socket");
        QVERIFY(daemon.start());
        QVERIFY2(served(rig, 1, 60000), qPrintable(daemon.log()));
        QCOMPARE(PortableRig::readFile(rig.receivedFile("OUT.BIN")), outgoing);
        QVERIFY2(daemon.log().contains("control channel is not open"), qPrintable(daemon.log()));
        QVERIFY(daemon.terminate() >= 0);
        QCOMPARE(daemon.process().exitCode(), 0);
    }

    void startsWithoutSettings()
    {
        // Said in red (an error in the journal), the server keeps running.
        Daemon daemon(m_dir.filePath("unset"));
        QVERIFY(daemon.start({}, {"JOURNAL_STREAM=8:4242"}));
        QTRY_VERIFY_WITH_TIMEOUT(daemon.log().contains("There is no settings file"), 5000);
        QTest::qWait(1000);
        QCOMPARE(daemon.process().state(), QProcess::Running);
        QVERIFY(QString::fromLocal8Bit(daemon.process().readAllStandardError())
                    .contains("<3>There is no settings file " + daemon.settingsPath()));
        QVERIFY(daemon.terminate() >= 0);
        QCOMPARE(daemon.process().exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TarvodTest)
#include "test_tarvod.moc"
