// The control channel's pure parts: the line parser's limits, the feed's
// numbering and resumption, and the access rule, each as a table.
#include "ControlProtocol.h"
#include "LogFeed.h"
#include "PeerAccess.h"

#include <QSignalSpy>
#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Control;

class TestControlUnits : public QObject
{
    Q_OBJECT
private slots:
    void parseLimits_data();
    void parseLimits();
    void takeLineLimits();
    void entryRoundTrip();
    void since_data();
    void since();
    void backlogBoundedByBytes();
    void feedPassesOn();
    void accessRule_data();
    void accessRule();
};

void TestControlUnits::parseLimits_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error"); // empty: accepted

    const Limits &l = RequestLimits;
    QTest::newRow("request") << QByteArray(R"({"id":1,"op":"status"})") << QString();
    QTest::newRow("cr before the end") << QByteArray("{\"op\":\"hello\"}\r") << QString();
    QTest::newRow("settings object")
        << QByteArray(R"({"op":"save-settings","values":{"Settings/Job":"2"}})") << QString();
    QTest::newRow("longest line") << (R"({"a":")" + QByteArray(l.maxLine - 8, 'x') + R"("})")
                                  << QStringLiteral("a field is too long");
    QTest::newRow("one byte too long") << (R"({"a":")" + QByteArray(l.maxLine - 7, 'x') + R"("})")
                                       << QStringLiteral("line too long");
    QTest::newRow("not JSON") << QByteArray("status") << QStringLiteral("not JSON");
    QTest::newRow("cut off") << QByteArray(R"({"op":"sta)") << QStringLiteral("not JSON");
    QTest::newRow("array") << QByteArray("[1,2]") << QStringLiteral("not a JSON object");
    QTest::newRow("string") << QByteArray(R"("hello")") << QStringLiteral("not JSON");
    QTest::newRow("three deep") << QByteArray(R"({"a":{"b":[1]}})") << QString();
    QTest::newRow("four deep") << QByteArray(R"({"a":{"b":{"c":{}}}})")
                               << QStringLiteral("nested too deep");
    QTest::newRow("deep brackets") << QByteArray(10000, '[') << QStringLiteral("nested too deep");
    QTest::newRow("brackets in a string") << QByteArray(R"({"a":"[[[[{{{{\"[[["})") << QString();
    QByteArray many = "{";
    for (int i = 0; i <= l.maxFields; ++i)
        many += (i ? "," : "") + QByteArray("\"k") + QByteArray::number(i) + "\":1";
    QTest::newRow("too many fields") << (many + "}") << QStringLiteral("too many fields");
    QTest::newRow("long key") << (R"({")" + QByteArray(l.maxField + 1, 'k') + R"(":1})")
                              << QStringLiteral("a field is too long");
    QTest::newRow("longest field")
        << (R"({"a":")" + QByteArray(l.maxField, 'v') + R"("})") << QString();
}

void TestControlUnits::parseLimits()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, error);
    const Parsed parsed = parseLine(line, RequestLimits);
    QCOMPARE(parsed.ok, error.isEmpty());
    QVERIFY2(parsed.error.startsWith(error), qPrintable(parsed.error));
}

void TestControlUnits::takeLineLimits()
{
    QByteArray buffer = "{\"a\":1}\n{\"b\"";
    QByteArray line;
    QCOMPARE(takeLine(buffer, line, 10), Take::Line);
    QCOMPARE(line, QByteArray("{\"a\":1}"));
    QCOMPARE(takeLine(buffer, line, 10), Take::NeedMore);
    QCOMPARE(buffer, QByteArray("{\"b\""));
    // No line end within the limit: refused before the rest arrives.
    buffer = QByteArray(12, 'x');
    QCOMPARE(takeLine(buffer, line, 10), Take::Overlong);
    buffer = QByteArray(11, 'x') + "\r\n";
    QCOMPARE(takeLine(buffer, line, 10), Take::Overlong);
    buffer = QByteArray(10, 'x') + "\r\n";
    QCOMPARE(takeLine(buffer, line, 10), Take::Line);
    QVERIFY(parseLine(line, {10, 3, 10, 10}).error.startsWith(QLatin1String("not JSON")));
}

void TestControlUnits::entryRoundTrip()
{
    const FeedEntry pane{7, FeedEntry::Kind::Pane, QStringLiteral("Open COM1 ...\r\n"), ColourRed};
    FeedEntry back;
    QVERIFY(fromJson(parseLine(encode(toJson(pane)).trimmed(), ReplyLimits).object, back));
    QCOMPARE(back.seq, pane.seq);
    QCOMPARE(back.text, pane.text);
    QCOMPARE(back.colour, ColourRed);
    QVERIFY(back.kind == FeedEntry::Kind::Pane);

    QJsonObject object = toJson(pane);
    object[QStringLiteral("kind")] = QStringLiteral("beep");
    QVERIFY(!fromJson(object, back));
    object = toJson(pane);
    object[QStringLiteral("seq")] = 1.5;
    QVERIFY(!fromJson(object, back));
    object = toJson(pane);
    object[QStringLiteral("colour")] = -1;
    QVERIFY(!fromJson(object, back));
}

// A feed of 10 entries whose backlog keeps the newest 6 (5 to 10).
void TestControlUnits::since_data()
{
    QTest::addColumn<quint64>("seq");
    QTest::addColumn<quint64>("first");
    QTest::addColumn<bool>("gap");
    QTest::newRow("from the start of the backlog") << quint64(4) << quint64(5) << false;
    QTest::newRow("in the middle") << quint64(7) << quint64(8) << false;
    QTest::newRow("up to date") << quint64(10) << quint64(11) << false;
    QTest::newRow("left the backlog") << quint64(3) << quint64(5) << true;
    QTest::newRow("nothing seen") << quint64(0) << quint64(5) << true;
    QTest::newRow("another run's number") << quint64(11) << quint64(5) << true;
}

void TestControlUnits::since()
{
    QFETCH(quint64, seq);
    QFETCH(quint64, first);
    QFETCH(bool, gap);
    LogFeed feed;
    feed.setLimits(6, 1 << 20);
    for (int i = 1; i <= 10; ++i)
        feed.AppendStatus(QStringLiteral("line %1\r\n").arg(i));
    QCOMPARE(feed.firstSeq(), quint64(5));
    const LogFeed::Since got = feed.since(seq);
    QCOMPARE(got.gap, gap);
    QCOMPARE(quint64(got.entries.size()), 10 - first + 1);
    for (std::size_t i = 0; i < got.entries.size(); ++i) {
        QCOMPARE(got.entries[i].seq, first + i);
        QCOMPARE(got.entries[i].text, QStringLiteral("line %1\r\n").arg(first + i));
    }
}

void TestControlUnits::backlogBoundedByBytes()
{
    LogFeed feed;
    feed.setLimits(100000, 64 * 1024);
    const QString text(1000, QLatin1Char('x'));
    for (int i = 0; i < 1000; ++i)
        feed.WriteLog(text);
    const quint64 kept = feed.lastSeq() - feed.firstSeq() + 1;
    QVERIFY2(kept * 2000 <= 64 * 1024 && kept >= 25, qPrintable(QString::number(kept)));
    // One entry larger than the whole bound still stays, cut to the text limit.
    feed.AppendStatus(QString(LogFeed::MaxTextChars * 2, QLatin1Char('y')));
    QCOMPARE(feed.firstSeq(), feed.lastSeq());
    QCOMPARE(feed.entry(feed.lastSeq())->text.size(), LogFeed::MaxTextChars);
}

class Recorder : public Reporter
{
public:
    QStringList calls;
    void AppendStatus(const QString &text, std::uint32_t colour) override
    {
        calls << QStringLiteral("pane %1 %2").arg(text).arg(colour);
    }
    void clearStatus() override { calls << QStringLiteral("clear"); }
    void WriteLog(const QString &text) override { calls << QStringLiteral("log ") + text; }
    void SetTrayTip(const QString &state) override { calls << QStringLiteral("tip ") + state; }
};

void TestControlUnits::feedPassesOn()
{
    Recorder inner;
    LogFeed feed(&inner);
    QSignalSpy added(&feed, &LogFeed::added);
    feed.SetTrayTip(QStringLiteral("Waiting call ..."));
    feed.clearStatus();
    feed.AppendStatus(QStringLiteral("RING\r\n"));
    feed.AppendStatus(QStringLiteral("Time-out\r\n"), ColourRed);
    feed.WriteLog(QStringLiteral("log only\r\n"));
    QCOMPARE(
        inner.calls,
        QStringList({QStringLiteral("tip Waiting call ..."), QStringLiteral("clear"),
                     QStringLiteral("pane RING\r\n 16711680"),
                     QStringLiteral("pane Time-out\r\n 255"), QStringLiteral("log log only\r\n")}));
    QCOMPARE(feed.state(), QStringLiteral("Waiting call ..."));
    QCOMPARE(added.size(), 5);
    const auto kinds = {FeedEntry::Kind::State, FeedEntry::Kind::Clear, FeedEntry::Kind::Pane,
                        FeedEntry::Kind::Pane, FeedEntry::Kind::Log};
    quint64 seq = 1;
    for (FeedEntry::Kind kind : kinds) {
        const auto entry = added[int(seq - 1)][0].value<FeedEntry>();
        QCOMPARE(entry.seq, seq++);
        QVERIFY(entry.kind == kind);
    }
    QCOMPARE(added[3][0].value<FeedEntry>().colour, ColourRed);
}

void TestControlUnits::accessRule_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<unsigned>("uid");
    QTest::addColumn<unsigned>("gid");
    QTest::addColumn<QList<unsigned>>("groups");
    QTest::addColumn<bool>("groupExists");
    QTest::addColumn<bool>("allowed");

    // The server runs as user 120; the group "tarvo" is 990 where it exists.
    const QList<unsigned> none;
    QTest::newRow("root") << true << 0u << 0u << none << true << true;
    QTest::newRow("root, no group") << true << 0u << 0u << none << false << true;
    QTest::newRow("the server's user") << true << 120u << 120u << none << true << true;
    QTest::newRow("primary group tarvo") << true << 1000u << 990u << none << true << true;
    QTest::newRow("supplementary tarvo")
        << true << 1000u << 1000u << QList<unsigned>{27, 990} << true << true;
    QTest::newRow("other groups only")
        << true << 1000u << 1000u << QList<unsigned>{27, 20} << true << false;
    QTest::newRow("gid 990 but no group") << true << 1000u << 990u << none << false << false;
    QTest::newRow("a stranger") << true << 1001u << 1001u << none << true << false;
    QTest::newRow("unknown credentials") << false << 0u << 0u << none << true << false;
}

void TestControlUnits::accessRule()
{
    QFETCH(bool, known);
    QFETCH(unsigned, uid);
    QFETCH(unsigned, gid);
    QFETCH(QList<unsigned>, groups);
    QFETCH(bool, groupExists);
    QFETCH(bool, allowed);
    const AccessPolicy policy{120, groupExists, 990, QStringLiteral("tarvo")};
    const PeerCredentials peer{known, uid, gid, {groups.begin(), groups.end()}};
    const AccessDecision decision = decideAccess(peer, policy);
    QCOMPARE(decision.allowed, allowed);
    QCOMPARE(decision.reason.isEmpty(), allowed);
    if (!allowed)
        QVERIFY(decision.reason.startsWith(QLatin1String("refused: ")));
}

QTEST_GUILESS_MAIN(TestControlUnits)
#include "test_control_units.moc"
