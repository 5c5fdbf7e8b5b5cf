// tarvoctl as a user runs it: the real program against a control server in
// this process (a fake target behind it), its exit status and its output.
#include "Columns.h"
#include "ControlProtocol.h"
#include "FakeTarget.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
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
    void saveSettingsFromFile_data();
    void saveSettingsFromFile();

private:
    struct Run
    {
        int exitCode = -1;
        QString out, err;
    };
    Run run(const QStringList &arguments, const QProcessEnvironment &environment = {});

    std::unique_ptr<ControlBench> m;
};

void TestTarvoctl::init()
{
    m = std::make_unique<ControlBench>();
    QVERIFY(m->listen(QStringLiteral("tarvod test")));
}

void TestTarvoctl::cleanup()
{
    m.reset();
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
    // output: a line of standard output, or of standard error; calls: what the target was asked.
    // The server in this process is the one asked unless a row says otherwise.
    const auto row = columns<QStringList, bool, int, QString, QString>(
        "arguments", "callUp", "exitCode", "output", "calls");
    row("status", {"status"}, false, 0,
        "state: Waiting call ...\narmed: yes\nconnected: no\ntip: Tarvo - Waiting call ...\nlast "
        "line: 2\n",
        "");
    row("start", {"start"}, false, 0, "", "start,start done");
    row("recheck", {"recheck"}, false, 0, "", "recheck");
    row("stop, no call", {"stop"}, false, 0, "", "stop keep");
    row("stop, call up, no answer", {"stop"}, true, 1,
        "tarvoctl: a call is up: say --hang-up to end it, or --keep-call to stop once it is over\n",
        "");
    row("stop --hang-up", {"stop", "--hang-up"}, true, 0, "", "stop end");
    row("stop --keep-call", {"stop", "--keep-call"}, true, 0, "", "stop keep");
    row("version", {"version"}, false, 0, "server: tarvod test\nprotocol: 1.0\n", "");
    row("unknown command", {"reboot"}, false, 2, "tarvoctl: unknown command reboot\n", "");
    row("option of another command", {"start", "--hang-up"}, false, 2,
        "tarvoctl: start takes no --hang-up\n", "");
    row("save-settings without a file", {"save-settings"}, false, 2,
        "tarvoctl: save-settings needs --from FILE\n", "");
    row("no server", {"--control", "/nonexistent/tarvo/control", "status"}, false, 1,
        "tarvoctl: cannot connect to /nonexistent/tarvo/control: no server there\n", "");
}

void TestTarvoctl::exitStatus()
{
    auto [arguments, callUp, exitCode, output, calls] =
        fetch<QStringList, bool, int, QString, QString>("arguments", "callUp", "exitCode", "output",
                                                        "calls");
    if (arguments.first() != QLatin1String("--control"))
        arguments = QStringList{QStringLiteral("--control"), m->path} + arguments;
    m->target.state.connected = callUp;
    m->feed.AppendStatus(QStringLiteral("Open COM1 ..."));
    m->feed.AppendStatus(QStringLiteral(" OK\r\n"));

    const Run result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2((result.out + result.err).contains(output), qPrintable(result.out + result.err));
    // Every failure says why in one line.
    if (exitCode == 1)
        QCOMPARE(result.err.count(QLatin1Char('\n')), 1);
    QCOMPARE(m->target.calls.join(QLatin1Char(',')), calls);
}

void TestTarvoctl::pathFromEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARVO_CONTROL"), m->path);
    Run result = run({QStringLiteral("status"), QStringLiteral("--json")}, environment);
    QCOMPARE(result.exitCode, 0);
    const QJsonObject status = QJsonDocument::fromJson(result.out.toUtf8()).object();
    QCOMPARE(status.value("armed").toBool(), true);
    QCOMPARE(status.value("state").toString(), QStringLiteral("Waiting call ..."));
    QCOMPARE(status.value("lastSeq").toInt(), 0);

    // --control wins over the environment.
    result = run({QStringLiteral("--control"), m->dir.filePath(QStringLiteral("none")),
                  QStringLiteral("status")},
                 environment);
    QCOMPARE(result.exitCode, 1);
}

// A server of the next major version that greets back in its own version.
void TestTarvoctl::versionMismatch()
{
    m->server.reset();
    QLocalServer future;
    QVERIFY(future.listen(m->path));
    connect(&future, &QLocalServer::newConnection, this, [&] {
        QLocalSocket *socket = future.nextPendingConnection();
        connect(socket, &QLocalSocket::readyRead, socket, [socket] {
            socket->readAll();
            socket->write(R"({"ok":true,"op":"hello","version":"2.0"})"
                          "\n");
        });
    });
    const Run result = run({QStringLiteral("--control"), m->path, QStringLiteral("status")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err,
             QStringLiteral("tarvoctl: version mismatch: the server speaks 2.0, the client 1.0\n"));
}

// The backlog after --since, then live lines, each with its number; the
// end of the server ends the watch with the number to resume from.
void TestTarvoctl::watchWithNumbers()
{
    m->feed.SetTrayTip(QStringLiteral("Waiting call ..."));
    m->feed.clearStatus();
    m->feed.AppendStatus(QStringLiteral("RING\r\n"));
    QProcess process;
    process.start(QStringLiteral(TARVOCTL_PATH),
                  {QStringLiteral("--control"), m->path, QStringLiteral("watch"),
                   QStringLiteral("--since"), QStringLiteral("1"), QStringLiteral("--seq")});
    QVERIFY(process.waitForStarted(5000));
    QVERIFY(QTest::qWaitFor([&] { return m->server->connectionCount() == 1; }, 5000));
    QTest::qWait(300);
    m->feed.AppendStatus(QStringLiteral("Time-out\r\n"), ColourRed);
    m->feed.WriteLog(QStringLiteral("two\r\nlines\r\n"));
    QTest::qWait(300);
    m->server.reset();
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
        m->target.onCloseWhenIdle = [this, delayMs] {
            QTimer::singleShot(delayMs, this, [this] { m->server.reset(); });
        };
        const Run result =
            run({QStringLiteral("--control"), m->path, QStringLiteral("close-when-idle"),
                 QStringLiteral("--wait"), QStringLiteral("5")});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(!m->server);
        init();
    }

    // A server that keeps running (a call still up): not done after the wait.
    QElapsedTimer clock;
    clock.start();
    const Run result = run({QStringLiteral("--control"), m->path, QStringLiteral("close-when-idle"),
                            QStringLiteral("--wait"), QStringLiteral("1")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err, QStringLiteral("tarvoctl: the server still runs after 1 s\n"));
    QVERIFY(clock.elapsed() >= 1000);
    QCOMPARE(m->target.calls, QStringList{QStringLiteral("close-when-idle")});
}

void TestTarvoctl::saveSettingsFromFile_data()
{
    // file: what --from names (none: no such file); administrator: the
    // connection's role; error: the reason on standard error and in the
    // report, empty when saved.
    const auto row =
        columns<QByteArray, bool, int, QString>("file", "administrator", "exitCode", "error");
    const QByteArray good = R"({"Settings/Modem Port":"3","Settings/Job":"1"})";
    row("saved", good, true, 0, "");
    row("not an administrator", good, false, 1, "Changing the settings needs an administrator.");
    row("refused by the server", R"({"Settings/Modem Port":"0"})", true, 1,
        "Modem Port must be 1 to 4");
    row("not the settings", R"({"Settings/Modem Port":3})", true, 1,
        "the value of \"Settings/Modem Port\" is not a text");
    row("no such file", "none", true, 1, "cannot read");
}

// The elevated helper's half: the values from the file reach the server, and
// whoever ran it learns the outcome from the exit status and the report.
void TestTarvoctl::saveSettingsFromFile()
{
    auto [file, administrator, exitCode, error] =
        fetch<QByteArray, bool, int, QString>("file", "administrator", "exitCode", "error");
    m->server->setAccessRule([administrator = administrator](const PeerCredentials &) {
        return AccessDecision{
            true, {}, administrator ? PeerRole::Administrator : PeerRole::Operator};
    });
    const QString from = m->dir.filePath(QStringLiteral("values.json"));
    const QString report = m->dir.filePath(QStringLiteral("report.txt"));
    if (file != "none") {
        QFile values(from);
        QVERIFY(values.open(QIODevice::WriteOnly));
        values.write(file);
    }
    const auto before = m->target.values;
    const Run result = run({QStringLiteral("--control"), m->path, QStringLiteral("save-settings"),
                            QStringLiteral("--from"), from, QStringLiteral("--report"), report});
    QCOMPARE(result.exitCode, exitCode);
    if (error.isEmpty()) {
        QCOMPARE(m->target.values.value("Settings/Modem Port"), QStringLiteral("3"));
        QCOMPARE(m->target.values.value("Settings/Job"), QStringLiteral("1"));
        QVERIFY(!QFile::exists(report) || QFileInfo(report).size() == 0);
        return;
    }
    QCOMPARE(m->target.values, before);
    QVERIFY2(result.err.startsWith("tarvoctl: ") && result.err.contains(error),
             qPrintable(result.err));
    QFile written(report);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(text(written.readAll()), result.err.mid(10)); // without "tarvoctl: "
}

QTEST_GUILESS_MAIN(TestTarvoctl)
#include "test_tarvoctl.moc"
