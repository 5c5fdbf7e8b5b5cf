// tarvoctl as a user runs it: the real program against a control server in
// this process (a fake target behind it), its exit status and its output.
#include "ControlProtocol.h"
#include "ControlServer.h"
#include "FakeTarget.h"
#include "LogFeed.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Tarvo;
using namespace Tarvo::Testing;

// The program's output with plain line ends (a Windows console program ends
// its lines with CR LF).
static QString text(const QByteArray &output)
{
    return QString::fromUtf8(output).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

class TestTarvoctl : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void exitStatus_data();
    void exitStatus();
    void pathFromEnvironment();
    void versionMismatch();
    void watchWithNumbers();
    void closeWhenIdle();

private:
    struct Run
    {
        int exitCode = -1;
        QString out, err;
    };
    Run run(const QStringList &arguments, const QProcessEnvironment &environment = {});
    QString path() const { return m_dir->filePath(QStringLiteral("control")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeTarget> m_target;
    std::unique_ptr<LogFeed> m_feed;
    std::unique_ptr<ControlServer> m_server;
};

void TestTarvoctl::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_target = std::make_unique<FakeTarget>();
    m_feed = std::make_unique<LogFeed>();
    m_server = std::make_unique<ControlServer>(*m_target, *m_feed, QStringLiteral("tarvod test"));
    QVERIFY2(m_server->listen(path()), qPrintable(m_server->errorString()));
}

void TestTarvoctl::cleanup()
{
    m_server.reset();
}

// Runs the program while this process's event loop serves it.
TestTarvoctl::Run TestTarvoctl::run(const QStringList &arguments,
                                    const QProcessEnvironment &environment)
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARVOCTL_PATH), arguments);
    Run result;
    if (!process.waitForStarted(5000))
        return result;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = text(process.readAllStandardOutput());
    result.err = text(process.readAllStandardError());
    return result;
}

void TestTarvoctl::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("callUp");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // a line of standard output, or of standard error
    QTest::addColumn<QString>("calls");  // what the target was asked, in order

    const QStringList c{QStringLiteral("--control"), QStringLiteral("@")};
    QTest::newRow("status") << c + QStringList{"status"} << false << 0
                            << "state: Waiting call ...\narmed: yes\nconnected: no\ntip: Tarvo - "
                               "Waiting call ...\nlast line: 2\n"
                            << "";
    QTest::newRow("start") << c + QStringList{"start"} << false << 0 << ""
                           << "start,start done";
    QTest::newRow("recheck") << c + QStringList{"recheck"} << false << 0 << ""
                             << "recheck";
    QTest::newRow("stop, no call") << c + QStringList{"stop"} << false << 0 << ""
                                   << "stop keep";
    QTest::newRow("stop, call up, no answer")
        << c + QStringList{"stop"} << true << 1
        << "tarvoctl: a call is up: say --hang-up to end it, or --keep-call to stop once it is "
           "over\n"
        << "";
    QTest::newRow("stop --hang-up") << c + QStringList{"stop", "--hang-up"} << true << 0 << ""
                                    << "stop end";
    QTest::newRow("stop --keep-call") << c + QStringList{"stop", "--keep-call"} << true << 0 << ""
                                      << "stop keep";
    QTest::newRow("version") << c + QStringList{"version"} << false << 0
                             << "server: tarvod test\nprotocol: 1.0\n"
                             << "";
    QTest::newRow("unknown command")
        << c + QStringList{"reboot"} << false << 2 << "tarvoctl: unknown command reboot\n"
        << "";
    QTest::newRow("option of another command") << c + QStringList{"start", "--hang-up"} << false
                                               << 2 << "tarvoctl: start takes no --hang-up\n"
                                               << "";
    QTest::newRow("no server")
        << QStringList{"--control", "/nonexistent/tarvo/control", "status"} << false << 1
        << "tarvoctl: cannot connect to /nonexistent/tarvo/control: no server there\n"
        << "";
}

void TestTarvoctl::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, callUp);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, calls);
    arguments.replaceInStrings(QStringLiteral("@"), path());
    m_target->state.connected = callUp;
    m_feed->AppendStatus(QStringLiteral("Open COM1 ..."));
    m_feed->AppendStatus(QStringLiteral(" OK\r\n"));

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2((result.out + result.err).contains(output), qPrintable(result.out + result.err));
    // Every failure says why in one line.
    if (exitCode == 1)
        QCOMPARE(result.err.count(QLatin1Char('\n')), 1);
    QStringList asked = m_target->calls;
    for (int i = 0, s = 0; i < asked.size(); ++i)
        if (asked[i] == QLatin1String("stop"))
            asked[i] += m_target->stops[s++] == ControlTarget::CallOnStop::EndCall
                            ? QStringLiteral(" end")
                            : QStringLiteral(" keep");
    QCOMPARE(asked.join(QLatin1Char(',')), calls);
}

void TestTarvoctl::pathFromEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARVO_CONTROL"), path());
    Run result = run({QStringLiteral("status"), QStringLiteral("--json")}, environment);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject status = QJsonDocument::fromJson(result.out.toUtf8()).object();
    QCOMPARE(status.value("armed").toBool(), true);
    QCOMPARE(status.value("state").toString(), QStringLiteral("Waiting call ..."));
    QCOMPARE(status.value("lastSeq").toInt(), 0);

    // --control wins over the environment.
    result = run({QStringLiteral("--control"), m_dir->filePath(QStringLiteral("none")),
                  QStringLiteral("status")},
                 environment);
    QCOMPARE(result.exitCode, 1);

    m_server->setAccessRule([](const PeerCredentials &) {
        return AccessDecision{false, QStringLiteral("refused: not you")};
    });
    result = run({QStringLiteral("start")}, environment);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, QStringLiteral("tarvoctl: refused: not you\n"));
    QVERIFY(m_target->calls.isEmpty());
}

// A server of the next major version that greets back in its own version.
void TestTarvoctl::versionMismatch()
{
    m_server.reset();
    QLocalServer future;
    QVERIFY(future.listen(path()));
    connect(&future, &QLocalServer::newConnection, this, [&] {
        QLocalSocket *socket = future.nextPendingConnection();
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write(R"({"ok":true,"op":"hello","version":"2.0"})"
                          "\n");
        });
    });
    const Run result = run({QStringLiteral("--control"), path(), QStringLiteral("status")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err,
             QStringLiteral("tarvoctl: version mismatch: the server speaks 2.0, the client 1.0\n"));
}

// The backlog after --since, then live lines, each with its number; the
// end of the server ends the watch with the number to resume from.
void TestTarvoctl::watchWithNumbers()
{
    m_feed->SetTrayTip(QStringLiteral("Waiting call ..."));
    m_feed->clearStatus();
    m_feed->AppendStatus(QStringLiteral("RING\r\n"));
    QProcess process;
    process.start(QStringLiteral(TARVOCTL_PATH),
                  {QStringLiteral("--control"), path(), QStringLiteral("watch"),
                   QStringLiteral("--since"), QStringLiteral("1"), QStringLiteral("--seq")});
    QVERIFY(process.waitForStarted(5000));
    QVERIFY(QTest::qWaitFor([&] { return m_server->connectionCount() == 1; }, 5000));
    QTest::qWait(300);
    m_feed->AppendStatus(QStringLiteral("Time-out\r\n"), ColourRed);
    m_feed->WriteLog(QStringLiteral("two\r\nlines\r\n"));
    QTest::qWait(300);
    m_server.reset();
    QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(text(process.readAllStandardOutput()),
             QStringLiteral("2 clear \n3 pane RING \n4 pane Time-out  [red]\n5 log two lines \n"));
    QVERIFY(text(process.readAllStandardError()).endsWith("(resume with --since 5)\n"));
}

void TestTarvoctl::closeWhenIdle()
{
    // The server goes 300 ms after the request, or at once, perhaps before
    // its answer is out: done either way.
    for (const int delayMs : {300, 0}) {
        m_target->onCloseWhenIdle = [this, delayMs] {
            QTimer::singleShot(delayMs, this, [this] { m_server.reset(); });
        };
        const Run result =
            run({QStringLiteral("--control"), path(), QStringLiteral("close-when-idle"),
                 QStringLiteral("--wait"), QStringLiteral("5")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(!m_server);
        init();
    }

    // A server that keeps running (a call still up): not done after the wait.
    QElapsedTimer clock;
    clock.start();
    const Run result = run({QStringLiteral("--control"), path(), QStringLiteral("close-when-idle"),
                            QStringLiteral("--wait"), QStringLiteral("1")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, QStringLiteral("tarvoctl: the server still runs after 1 s\n"));
    QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(m_target->calls, QStringList{QStringLiteral("close-when-idle")});
}

QTEST_GUILESS_MAIN(TestTarvoctl)
#include "test_tarvoctl.moc"
