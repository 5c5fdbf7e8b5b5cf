// The control channel over a real socket in a temporary folder: a fake
// target behind the server, raw clients that send what they like.
#include "Columns.h"
#include "ControlClient.h"
#include "ControlProtocol.h"
#include "FakeTarget.h"
#include "RawClient.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace Tarvo;
using namespace Tarvo::Testing;

class TestControlServer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void versioning_data();
    void versioning();
    void watchResumes();
    void badInputClosesOnlyThatConnection_data();
    void badInputClosesOnlyThatConnection();
    void refusedPeer();
    void rightsPerConnection_data();
    void rightsPerConnection();
    void clientReopens();
    void staleSocket();

private:
    void feed(int from, int to);

    std::unique_ptr<ControlBench> m;
};

void TestControlServer::init()
{
    m = std::make_unique<ControlBench>();
    QVERIFY(m->listen());
}

void TestControlServer::cleanup()
{
    m.reset();
}

void TestControlServer::feed(int from, int to)
{
    for (int i = from; i <= to; ++i)
        m->feed.AppendStatus(QStringLiteral("line %1\r\n").arg(i), i % 2 ? ColourRed : ColourBlue);
}

void TestControlServer::versioning_data()
{
    const auto row = columns<QByteArray, QString>("first", "error"); // error empty: accepted
    row("same version", R"({"op":"hello","version":"1.0"})", "");
    row("newer minor", R"({"op":"hello","version":"1.7"})", "");
    row("next major", R"({"op":"hello","version":"2.0"})",
        "version mismatch: the server speaks 1.0, the client 2.0");
    row("no version", R"({"op":"hello"})", "the hello names no version");
    row("no hello", R"({"id":1,"op":"status"})", "the client must say hello first");
}

void TestControlServer::versioning()
{
    auto [first, error] = fetch<QByteArray, QString>("first", "error");
    RawClient client;
    QVERIFY(client.open(m->path, first));
    client.send(R"({"id":2,"op":"version"})");
    QVERIFY(client.waitLines(error.isEmpty() ? 2 : 1));
    const QJsonObject answer = client.lines[0];
    QCOMPARE(answer.value("ok").toBool(), error.isEmpty());
    if (!error.isEmpty()) {
        QCOMPARE(answer.value("error").toString(), error);
        QVERIFY(client.waitClosed());
        return;
    }
    QCOMPARE(answer.value("version").toString(), QStringLiteral("1.0"));
    QCOMPARE(client.lines[1].value("id").toInt(), 2);
    QCOMPARE(client.lines[1].value("server").toString(), QStringLiteral("test 1"));
}

void TestControlServer::watchResumes()
{
    m->feed.setLimits(50, 1 << 20);
    feed(1, 10);
    QList<FeedEntry> seen;
    ControlClient client(QStringLiteral("test"));
    connect(&client, &ControlClient::entry, this, [&](const FeedEntry &e) { seen << e; });
    QSignalSpy backlogDone(&client, &ControlClient::backlogDone), gap(&client, &ControlClient::gap);
    client.open(m->path);
    QVERIFY(client.waitForReady(2000));
    client.watch(4);
    QVERIFY(backlogDone.wait(2000));
    QCOMPARE(seen.size(), 6);
    feed(11, 15); // live
    QVERIFY(QTest::qWaitFor([&] { return seen.size() == 11; }, 2000));
    QTest::qWait(50);
    QCOMPARE(seen.size(), 11);
    QCOMPARE(client.lastSeq(), quint64(15));
    QCOMPARE(gap.size(), 0);
    for (int i = 0; i < seen.size(); ++i) {
        QCOMPARE(seen[i].seq, quint64(5 + i));
        QCOMPARE(seen[i].text, QStringLiteral("line %1\r\n").arg(5 + i));
        QCOMPARE(seen[i].colour, (5 + i) % 2 ? ColourRed : ColourBlue);
    }

    // Asked for what came after 3 once the backlog holds only 11 to 60.
    feed(16, 60);
    ControlClient late(QStringLiteral("test"));
    QList<quint64> lateSeqs;
    connect(&late, &ControlClient::entry, this, [&](const FeedEntry &e) { lateSeqs << e.seq; });
    QSignalSpy lateGap(&late, &ControlClient::gap);
    late.open(m->path);
    QVERIFY(late.waitForReady(2000));
    const QJsonObject answer = late.waitForAnswer(late.watch(3), 2000);
    QCOMPARE(answer.value("gap").toBool(), true);
    QCOMPARE(answer.value("first").toInt(), 11);
    QCOMPARE(lateGap.size(), 1);
    QVERIFY(QTest::qWaitFor([&] { return lateSeqs.size() == 50; }, 2000));
    QCOMPARE(lateSeqs.front(), quint64(11));
    QCOMPARE(lateSeqs.back(), quint64(60));
}

void TestControlServer::badInputClosesOnlyThatConnection_data()
{
    const auto row = columns<QByteArray, QString>("input", "error");
    row("over-long line", QByteArray(70 * 1024, 'x'), "line too long");
    row("bad JSON", "{\"op\":\n", "not JSON");
    row("deep", QByteArray(500, '{') + '\n', "nested too deep");
    row("binary", QByteArray("\0\xff\xfe\n", 4), "not JSON");
}

void TestControlServer::badInputClosesOnlyThatConnection()
{
    auto [input, error] = fetch<QByteArray, QString>("input", "error");
    RawClient good, bad;
    QVERIFY(good.open(m->path));
    QVERIFY(good.waitLines(1));
    QVERIFY(bad.open(m->path));
    QVERIFY(bad.waitLines(1));
    bad.socket.write(input);
    QVERIFY(bad.waitLines(2));
    QVERIFY2(bad.lines[1].value("error").toString().startsWith(error),
             qPrintable(bad.lines[1].value("error").toString()));
    QVERIFY(bad.waitClosed());
    good.send(R"({"id":5,"op":"status"})");
    QVERIFY(good.waitLines(2));
    QCOMPARE(good.lines[1].value("id").toInt(), 5);
    QCOMPARE(good.lines[1].value("ok").toBool(), true);
    QCOMPARE(m->server->connectionCount(), 1);
}

void TestControlServer::refusedPeer()
{
    m->server->setAccessRule([](const PeerCredentials &peer) {
        return AccessDecision{false, QStringLiteral("refused: user %1 is not in the group "
                                                    "\"tarvo\"")
                                         .arg(peer.uid)};
    });
    ControlClient client(QStringLiteral("test"));
    QSignalSpy failed(&client, &ControlClient::failed);
    client.open(m->path);
    QVERIFY(!client.waitForReady(2000));
    QCOMPARE(failed.size(), 1);
    // No credentials are read on Windows: the rule sees user 0 there.
#ifdef Q_OS_UNIX
    const unsigned uid = getuid();
#else
    const unsigned uid = 0;
#endif
    QCOMPARE(failed[0][0].toString(),
             QStringLiteral("refused: user %1 is not in the group \"tarvo\"").arg(uid));
    QVERIFY(m->target.calls.isEmpty());
}

void TestControlServer::rightsPerConnection_data()
{
    // request: one line after the hello; calls: what the target did for it;
    // refusal: the answer's error, empty when answered ok.
    const auto row =
        columns<bool, QByteArray, QString, QString>("administrator", "request", "calls", "refusal");
    const QByteArray save = R"({"id":7,"op":"save-settings","values":{"Settings/Modem Port":"2"}})";
    const QByteArray close = R"({"id":7,"op":"close-when-idle"})";
    row("user: status", false, R"({"id":7,"op":"status"})", "", "");
    row("user: watch", false, R"({"id":7,"op":"watch"})", "", "");
    row("user: settings", false, R"({"id":7,"op":"settings"})", "", "");
    row("user: start", false, R"({"id":7,"op":"start"})", "start,start done", "");
    row("user: stop", false, R"({"id":7,"op":"stop","call":"keep"})", "stop keep", "");
    row("user: recheck", false, R"({"id":7,"op":"recheck"})", "recheck", "");
    row("user: save-settings", false, save, "", "Changing the settings needs an administrator.");
    row("user: close-when-idle", false, close, "", "Closing the server needs an administrator.");
    row("administrator: save-settings", true, save, "", "");
    row("administrator: close-when-idle", true, close, "close-when-idle", "");
}

// The role the rule gives a connection holds for each of its requests; a
// refused request leaves the connection open for the next.
void TestControlServer::rightsPerConnection()
{
    auto [administrator, request, calls, refusal] =
        fetch<bool, QByteArray, QString, QString>("administrator", "request", "calls", "refusal");
    m->server->setAccessRule([administrator = administrator](const PeerCredentials &) {
        return AccessDecision{
            true, {}, administrator ? PeerRole::Administrator : PeerRole::Operator};
    });
    const auto valuesBefore = m->target.values;
    RawClient client;
    QVERIFY(client.open(m->path));
    client.send(request);
    client.send(R"({"id":8,"op":"status"})");
    QVERIFY(client.waitLines(3));
    const QJsonObject answer = client.lines[1];
    QCOMPARE(answer.value("id").toInt(), 7);
    QCOMPARE(answer.value("ok").toBool(), refusal.isEmpty());
    QCOMPARE(answer.value("error").toString(), refusal);
    QCOMPARE(m->target.calls.join(QLatin1Char(',')), calls);
    const bool saved = m->target.values != valuesBefore;
    QCOMPARE(saved, request.contains("save-settings") && refusal.isEmpty());
    // The connection goes on after a refusal.
    QCOMPARE(client.lines[2].value("id").toInt(), 8);
    QCOMPARE(client.lines[2].value("ok").toBool(), true);
}

// The tray keeps one client and opens it again after a lost connection:
// the old connection's end is no failure, and a resumed watch goes on.
void TestControlServer::clientReopens()
{
    ControlClient client(QStringLiteral("tray"));
    QSignalSpy failed(&client, &ControlClient::failed);
    QSignalSpy closed(&client, &ControlClient::closed);
    QSignalSpy ready(&client, &ControlClient::ready);
    client.open(m->path);
    QVERIFY(client.waitForReady(2000));
    feed(1, 3);
    client.watch();
    QVERIFY(QTest::qWaitFor([&] { return client.lastSeq() == 3; }, 2000));
    client.open(m->path);
    QVERIFY(client.waitForReady(2000));
    QCOMPARE(ready.size(), 2);
    QCOMPARE(failed.size() + closed.size(), 0);
    client.watch(client.lastSeq());
    feed(4, 4);
    QVERIFY(QTest::qWaitFor([&] { return client.lastSeq() == 4; }, 2000));
    QCOMPARE(client.waitForAnswer(client.status(), 2000).value("lastSeq").toInt(), 4);
}

void TestControlServer::staleSocket()
{
    // A live server at the path: refused, and the first keeps serving.
    FakeTarget otherTarget;
    LogFeed otherFeed;
    ControlServer second(otherTarget, otherFeed, QStringLiteral("test 2"));
    QVERIFY(!second.listen(m->path));
    QCOMPARE(second.errorString(), QStringLiteral("Another server answers at %1.").arg(m->path));
    RawClient client;
    QVERIFY(client.open(m->path));
    QVERIFY(client.waitLines(1));
    QCOMPARE(client.lines[0].value("server").toString(), QStringLiteral("test 1"));

#ifdef Q_OS_UNIX
    struct stat info = {};
    QCOMPARE(stat(QFile::encodeName(m->path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0660u); // the owner and the group only
    // A socket file nobody answers on, as a crash leaves it: taken over.
    const QString stale = m->dir.filePath(QStringLiteral("stale"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(stale).constData(), sizeof address.sun_path);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    QVERIFY(QFile::exists(stale));
    QVERIFY2(second.listen(stale), qPrintable(second.errorString()));
    second.close();

    // Not a socket: left alone.
    const QString file = m->dir.filePath(QStringLiteral("notes"));
    QFile notes(file);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("keep") == 4);
    notes.close();
    QVERIFY(!second.listen(file));
    QVERIFY(second.errorString().contains(QLatin1String("is not a socket")));
    QCOMPARE(QFileInfo(file).size(), 4);
#endif
}

QTEST_GUILESS_MAIN(TestControlServer)
#include "test_control_server.moc"
