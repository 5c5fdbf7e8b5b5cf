// The control channel over a real socket in a temporary folder: a fake
// target behind the server, raw clients that send what they like.
#include "ControlClient.h"
#include "ControlProtocol.h"
#include "ControlServer.h"
#include "FakeTarget.h"
#include "LogFeed.h"
#include "RawClient.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    void statusAndSettings();
    void watchResumes();
    void badInputClosesOnlyThatConnection_data();
    void badInputClosesOnlyThatConnection();
    void refusedPeer();
    void clientReopens();
    void staleSocket();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("control")); }
    void feed(int from, int to);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeTarget> m_target;
    std::unique_ptr<LogFeed> m_feed;
    std::unique_ptr<ControlServer> m_server;
};

void TestControlServer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_target = std::make_unique<FakeTarget>();
    m_feed = std::make_unique<LogFeed>();
    m_server = std::make_unique<ControlServer>(*m_target, *m_feed, QStringLiteral("test 1"));
    QVERIFY2(m_server->listen(path()), qPrintable(m_server->errorString()));
}

void TestControlServer::cleanup()
{
    m_server.reset();
    QTest::qWait(0); // deferred deletions of the connections
}

void TestControlServer::feed(int from, int to)
{
    for (int i = from; i <= to; ++i)
        m_feed->AppendStatus(QStringLiteral("line %1\r\n").arg(i), i % 2 ? ColourRed : ColourBlue);
}

void TestControlServer::versioning_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QString>("error"); // empty: accepted
    QTest::newRow("same version") << QByteArray(R"({"op":"hello","version":"1.0"})") << QString();
    QTest::newRow("newer minor") << QByteArray(R"({"op":"hello","version":"1.7"})") << QString();
    QTest::newRow("next major") << QByteArray(R"({"op":"hello","version":"2.0"})")
                                << QStringLiteral(
                                       "version mismatch: the server speaks 1.0, the client 2.0");
    QTest::newRow("no version") << QByteArray(R"({"op":"hello"})")
                                << QStringLiteral("the hello names no version");
    QTest::newRow("no hello") << QByteArray(R"({"id":1,"op":"status"})")
                              << QStringLiteral("the client must say hello first");
}

void TestControlServer::versioning()
{
    QFETCH(QByteArray, first);
    QFETCH(QString, error);
    RawClient client;
    QVERIFY(client.open(path(), first));
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

void TestControlServer::statusAndSettings()
{
    feed(1, 3);
    ControlClient client(QStringLiteral("test"));
    client.open(path());
    QVERIFY(client.waitForReady(2000));
    QCOMPARE(client.serverName(), QStringLiteral("test 1"));
    std::uint64_t lastSeq = 0;
    const ControlStatus s =
        ControlClient::statusOf(client.waitForAnswer(client.status(), 2000), &lastSeq);
    QCOMPARE(s.state, m_target->state.state);
    QCOMPARE(s.tip, m_target->state.tip);
    QVERIFY(s.armed && !s.connected);
    QCOMPARE(lastSeq, quint64(3));

    QCOMPARE(ControlClient::settingsOf(client.waitForAnswer(client.settings(), 2000)),
             m_target->values);
    QMap<QString, QString> values{{QStringLiteral("Settings/Modem Port"), QStringLiteral("3")}};
    QVERIFY(ControlClient::resultOf(client.waitForAnswer(client.saveSettings(values), 2000)).ok);
    QCOMPARE(m_target->values, values);
    values[QStringLiteral("Settings/Modem Port")] = QStringLiteral("0");
    const ControlResult refused =
        ControlClient::resultOf(client.waitForAnswer(client.saveSettings(values), 2000));
    QVERIFY(!refused.ok);
    QCOMPARE(refused.message, QStringLiteral("Modem Port must be 1 to 4"));
    QCOMPARE(m_target->values.value(QStringLiteral("Settings/Modem Port")), QStringLiteral("3"));

    QVERIFY(ControlClient::resultOf(
                client.waitForAnswer(client.stop(ControlTarget::CallOnStop::EndCall), 2000))
                .ok);
    QVERIFY(ControlClient::resultOf(
                client.waitForAnswer(client.stop(ControlTarget::CallOnStop::KeepCall), 2000))
                .ok);
    QCOMPARE(m_target->stops,
             (QList<ControlTarget::CallOnStop>{ControlTarget::CallOnStop::EndCall,
                                               ControlTarget::CallOnStop::KeepCall}));
#ifdef Q_OS_UNIX
    struct stat info
    {
    };
    QCOMPARE(stat(QFile::encodeName(path()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0660u);
#endif
}

void TestControlServer::watchResumes()
{
    m_feed->setLimits(50, 1 << 20);
    feed(1, 10);
    QList<FeedEntry> seen;
    auto client = std::make_unique<ControlClient>(QStringLiteral("test"));
    connect(client.get(), &ControlClient::entry, this, [&](const FeedEntry &e) { seen << e; });
    QSignalSpy backlogDone(client.get(), &ControlClient::backlogDone);
    client->open(path());
    QVERIFY(client->waitForReady(2000));
    client->watch(4);
    QVERIFY(backlogDone.wait(2000));
    QCOMPARE(seen.size(), 6);
    feed(11, 15); // live
    QVERIFY(QTest::qWaitFor([&] { return seen.size() == 11; }, 2000));
    QCOMPARE(client->lastSeq(), quint64(15));

    // Lost while entries keep coming; the resume picks up exactly after 15.
    client.reset();
    feed(16, 30);
    client = std::make_unique<ControlClient>(QStringLiteral("test"));
    connect(client.get(), &ControlClient::entry, this, [&](const FeedEntry &e) { seen << e; });
    QSignalSpy gap(client.get(), &ControlClient::gap);
    client->open(path());
    QVERIFY(client->waitForReady(2000));
    client->watch(15);
    feed(31, 32);
    QVERIFY(QTest::qWaitFor([&] { return seen.size() == 28; }, 2000));
    QTest::qWait(50);
    QCOMPARE(seen.size(), 28);
    for (int i = 0; i < seen.size(); ++i) {
        QCOMPARE(seen[i].seq, quint64(5 + i));
        QCOMPARE(seen[i].text, QStringLiteral("line %1\r\n").arg(5 + i));
        QCOMPARE(seen[i].colour, (5 + i) % 2 ? ColourRed : ColourBlue);
    }
    QCOMPARE(gap.size(), 0);

    // Asked for what came after 3 once the backlog holds only 11 to 60.
    feed(33, 60);
    ControlClient late(QStringLiteral("test"));
    QList<quint64> lateSeqs;
    connect(&late, &ControlClient::entry, this, [&](const FeedEntry &e) { lateSeqs << e.seq; });
    QSignalSpy lateGap(&late, &ControlClient::gap);
    late.open(path());
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
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("error");
    QTest::newRow("over-long line")
        << QByteArray(70 * 1024, 'x') << QStringLiteral("line too long");
    QTest::newRow("bad JSON") << QByteArray("{\"op\":\n") << QStringLiteral("not JSON");
    QTest::newRow("deep") << QByteArray(500, '{') + '\n' << QStringLiteral("nested too deep");
    QTest::newRow("binary") << QByteArray("\0\xff\xfe\n", 4) << QStringLiteral("not JSON");
}

void TestControlServer::badInputClosesOnlyThatConnection()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, error);
    RawClient good, bad;
    QVERIFY(good.open(path()));
    QVERIFY(good.waitLines(1));
    QVERIFY(bad.open(path()));
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
    QCOMPARE(m_server->connectionCount(), 1);
}

void TestControlServer::refusedPeer()
{
    m_server->setAccessRule([](const PeerCredentials &peer) {
        return AccessDecision{false, QStringLiteral("refused: user %1 is not in the group "
                                                    "\"tarvo\"")
                                         .arg(peer.uid)};
    });
    ControlClient client(QStringLiteral("test"));
    QSignalSpy failed(&client, &ControlClient::failed);
    client.open(path());
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
    QVERIFY(m_target->calls.isEmpty());
}

// The tray keeps one client and opens it again after a lost connection:
// the old connection's end is no failure, and a resumed watch goes on.
void TestControlServer::clientReopens()
{
    ControlClient client(QStringLiteral("tray"));
    QSignalSpy failed(&client, &ControlClient::failed);
    QSignalSpy closed(&client, &ControlClient::closed);
    QSignalSpy ready(&client, &ControlClient::ready);
    client.open(path());
    QVERIFY(client.waitForReady(2000));
    feed(1, 3);
    client.watch();
    QVERIFY(QTest::qWaitFor([&] { return client.lastSeq() == 3; }, 2000));
    client.open(path());
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
    QVERIFY(!second.listen(path()));
    QCOMPARE(second.errorString(), QStringLiteral("Another server answers at %1.").arg(path()));
    RawClient client;
    QVERIFY(client.open(path()));
    QVERIFY(client.waitLines(1));
    QCOMPARE(client.lines[0].value("server").toString(), QStringLiteral("test 1"));

#ifdef Q_OS_UNIX
    // A socket file nobody answers on, as a crash leaves it: taken over.
    const QString stale = m_dir->filePath(QStringLiteral("stale"));
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
    const QString file = m_dir->filePath(QStringLiteral("notes"));
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
