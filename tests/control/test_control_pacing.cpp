// The control channel under load, over a real socket: clients that stop
// reading are dropped with the server's output for them bounded, and a
// request that keeps the target busy holds up no other client.
#include "ControlClient.h"
#include "FakeTarget.h"
#include "RawClient.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Tarvo;
using namespace Tarvo::Testing;

class TestControlPacing : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void stuckClientDropped();
    void unreadAnswersDropped();
    void slowRequestBlocksNobody();

private:
    std::unique_ptr<ControlBench> m;
};

void TestControlPacing::init()
{
    m = std::make_unique<ControlBench>();
    QVERIFY(m->listen());
}

void TestControlPacing::cleanup()
{
    m.reset();
}

// A watcher that never reads while lines keep coming: the output waiting
// for it stays under the bound, then it is dropped; a reading watcher gets
// everything meanwhile.
void TestControlPacing::stuckClientDropped()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a client socket that does not read at all");
#else
    m->feed.setLimits(2000, 4 << 20);
    m->server->setMaxPending(32 * 1024);
    QSignalSpy ended(m->server.get(), &ControlServer::connectionEnded);
    const int fd = rawConnect(
        m->path, "{\"op\":\"hello\",\"version\":\"1.0\"}\n{\"id\":1,\"op\":\"watch\"}\n");
    QVERIFY(fd >= 0);

    ControlClient reader(QStringLiteral("test"));
    quint64 readerSeen = 0;
    connect(&reader, &ControlClient::entry, this, [&](const FeedEntry &e) { readerSeen = e.seq; });
    reader.open(m->path);
    QVERIFY(reader.waitForReady(2000));
    reader.watch();
    QTest::qWait(50);

    qsizetype mostPending = 0;
    const QString text(100, QLatin1Char('t'));
    for (int i = 0; i < 10000 && ended.isEmpty(); ++i) {
        m->feed.WriteLog(text);
        mostPending = std::max(mostPending, m->server->largestPending());
        if (i % 50 == 0)
            QCoreApplication::processEvents();
    }
    QVERIFY(QTest::qWaitFor([&] { return !ended.isEmpty(); }, 5000));
    QCOMPARE(ended[0][0].toString(), QStringLiteral("fell behind the backlog (not reading)"));
    // The bound plus one entry at most ever waited for one client.
    QVERIFY2(mostPending <= 32 * 1024 + 400, qPrintable(QString::number(mostPending)));
    QVERIFY(QTest::qWaitFor([&] { return readerSeen == m->feed.lastSeq(); }, 5000));
    QCOMPARE(m->server->connectionCount(), 1);
    ::close(fd);
#endif
}

// A client that sends request after request and reads no answer is
// dropped once the answers pile up; the server reads on meanwhile.
void TestControlPacing::unreadAnswersDropped()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a client socket that does not read at all");
#else
    m->server->setMaxPending(8 * 1024);
    QSignalSpy ended(m->server.get(), &ControlServer::connectionEnded);
    QByteArray requests = "{\"op\":\"hello\",\"version\":\"1.0\"}\n";
    for (int i = 0; i < 4000; ++i)
        requests += "{\"id\":" + QByteArray::number(i) + ",\"op\":\"status\"}\n";
    const int fd = rawConnect(m->path, requests);
    QVERIFY(fd >= 0);
    QVERIFY(QTest::qWaitFor([&] { return !ended.isEmpty(); }, 5000));
    QCOMPARE(ended[0][0].toString(), QStringLiteral("answers not read"));
    QCOMPARE(m->server->connectionCount(), 0);
    ::close(fd);
#endif
}

// A start that keeps the target busy for a while (pumping events, as the
// modem's waits do) does not keep another client's status waiting, and
// each answer goes to the connection that asked.
void TestControlPacing::slowRequestBlocksNobody()
{
    m->target.startMs = 1500;
    RawClient slow, quick;
    QVERIFY(slow.open(m->path));
    QVERIFY(quick.open(m->path));
    QVERIFY(slow.waitLines(1) && quick.waitLines(1));
    QElapsedTimer clock;
    clock.start();
    slow.send(R"({"id":1,"op":"start"})");
    // Comes while the start runs, and waits behind it.
    QTimer::singleShot(300, this, [&] { slow.send(R"({"id":2,"op":"status"})"); });
    // Noted as the bytes arrive: the test's own waits sit below the start.
    qint64 quickAnswered = -1;
    connect(&quick.socket, &QLocalSocket::readyRead, this, [&] {
        if (quickAnswered < 0)
            quickAnswered = clock.elapsed();
    });
    QTimer::singleShot(200, this, [&] { quick.send(R"({"id":7,"op":"status"})"); });
    QVERIFY(quick.waitLines(2, 5000));
    QVERIFY(slow.waitLines(3, 5000));
    const qint64 slowAnswered = clock.elapsed();
    QVERIFY2(quickAnswered < 1000, qPrintable(QString::number(quickAnswered)));
    QVERIFY(slowAnswered >= 1500);
    QCOMPARE(quick.lines[1].value("id").toInt(), 7);
    QCOMPARE(slow.lines[1].value("id").toInt(), 1);
    QCOMPARE(slow.lines[2].value("id").toInt(), 2);
    QCOMPARE(quick.lines.size(), 2);
    QCOMPARE(m->target.calls, QStringList({QStringLiteral("start"), QStringLiteral("start done")}));
}

QTEST_GUILESS_MAIN(TestControlPacing)
#include "test_control_pacing.moc"
