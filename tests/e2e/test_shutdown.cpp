// A real server process (this program again, with --serve, wired as the program wires it) ended in
// the middle of an upload from tarvo-portable: by a signal, or by the end of its X display, where
// Qt calls exit(1); after a SIGKILL the next start repairs. The old copy comes back every time.
#include "LogFile.h"
#include "MessageBoxPrompter.h"
#include "Portable.h"
#include "PortableRig.h"
#include "ServerState.h"
#include "ServerWiring.h"
#include "TrayIcon.h"
#include "TrayWiring.h"

#include <QtTest>
#include <csignal>

using namespace Tarvo;
using namespace Tarvo::Bench;
using Tarvo::Testing::pattern;

namespace {

const QByteArray OldCopy = "yesterday's orders\r\n";

int serve(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvo"));
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments(); // --serve pty target logFolder

    Configuration config;
    config.ModemPort = 1;
    config.JobType = UploadOnly;
    config.UploadList[0] = {QStringLiteral("BIG.TXT"), args.at(3)};
    config.deriveCounts();
    LogFile log(args.at(4));
    SystemTrayIcon tray;
    MessageBoxPrompter prompter;
    ServerState state;
    frmServer server(state, log, tray, prompter, config, {}, {});
    prompter.setParent(&server);

    UploadJournal journal;
    QString error;
    journal.acquire(error);
    ServerRuntime runtime(
        server, prompter, state, config, [device = args.at(2)](int) { return device; }, journal);
    connectTray(app, server);
    server.Form_Load();
    return app.exec();
}

} // namespace

class ShutdownTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir; // the server's data folder and log
    QProcess m_server;

    QString log() const
    {
        return QString::fromLatin1(Testing::readFile(m_dir.filePath("log/Tarvo.Log")));
    }
    QString journalPath() const { return m_dir.filePath("data/Tarvo/uploads.journal"); }

    void startServer(const QString &pty, const QString &target, const QString &display = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        env.insert("DISPLAY", display);
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedChannels);
        m_server.start(QCoreApplication::applicationFilePath(),
                       {"--serve", pty, target, m_dir.filePath("log")});
        QVERIFY(m_server.waitForStarted(5000));
    }

private slots:
    void endedMidUpload_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: the display's server ends
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGKILL, then a new start") << SIGKILL;
        QTest::newRow("display gone: Qt's exit(1)") << 0;
    }

    void endedMidUpload()
    {
        QFETCH(int, signalNumber);
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());

        PortableRig rig;
        const QString target = rig.hostPath("big.txt"), backup = rig.hostPath("big.BAK");
        const QString users = rig.hostPath("orders.BAK"); // no upload's backup
        PortableRig::writeFile(target, OldCopy);
        PortableRig::writeFile(users, "the user's own");
        PortableRig::writeFile(rig.portableFile("BIG.TXT"), pattern(200000));
        QVERIFY(rig.startPortable({.bitsPerSecond = 38400}));
        QProcess xvfb; // its own display, reported on its output
        if (signalNumber == 0) {
            xvfb.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
            if (!xvfb.waitForStarted(5000))
                QSKIP("No Xvfb here.");
            QVERIFY(xvfb.waitForReadyRead(20000));
        }
        startServer(rig.ptyPath(), target, xvfb.isOpen() ? ":" + xvfb.readLine().trimmed() : "");

        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo(target).size() > 1000, qPrintable(log()), 30000);
        QCOMPARE(Testing::readFile(backup), OldCopy);
        if (signalNumber == 0) {
            xvfb.terminate();
            xvfb.waitForFinished();
        } else
            ::kill(pid_t(m_server.processId()), signalNumber);
        QVERIFY(m_server.waitForFinished(40000));
        if (signalNumber == 0) // all at once, not at the next start
            QCOMPARE(m_server.exitCode(), 1);

        if (signalNumber == SIGKILL) {
            QCOMPARE(m_server.exitStatus(), QProcess::CrashExit);
            QVERIFY(Testing::readFile(target) != OldCopy);
            QVERIFY(QFile::exists(journalPath()));
            rig.killPortable();
            // The next start puts the old copy back before it opens the port.
            startServer(rig.ptyPath(), target);
            QTRY_VERIFY2_WITH_TIMEOUT(log().contains("Restored"), qPrintable(log()), 20000);
            ::kill(pid_t(m_server.processId()), SIGTERM);
            QVERIFY(m_server.waitForFinished(40000));
        } else {
            QVERIFY2(log().contains("Upload failed"), qPrintable(log()));
            QCOMPARE(log().count("Not connected"), signalNumber == SIGTERM); // the port closed once
        }
        QCOMPARE(m_server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_server.exitCode(), signalNumber == 0 ? 1 : 0);
        QCOMPARE(Testing::readFile(target), OldCopy);
        QVERIFY(!QFile::exists(backup));
        QCOMPARE(Testing::readFile(users), QByteArray("the user's own"));
        QVERIFY(!QFile::exists(journalPath()));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--serve") == 0)
        return serve(argc, argv);
    QCoreApplication app(argc, argv);
    ShutdownTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_shutdown.moc"
