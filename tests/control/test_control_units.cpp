// The control channel's pure parts: the line parser's limits, the feed's
// numbering and resumption, the access rule and the rights per request,
// the client's check of the pipe's server, and the settings file, each as
// a table.
#include "Columns.h"
#include "ControlClient.h"
#include "ControlProtocol.h"
#include "LogFeed.h"
#include "PeerAccess.h"
#include "SettingsFile.h"

#include <QSignalSpy>
#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Control;
using namespace Tarvo::Testing;

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
    void requestRights_data();
    void requestRights();
    void serverCheck_data();
    void serverCheck();
    void settingsFile_data();
    void settingsFile();
};

void TestControlUnits::parseLimits_data()
{
    const auto row = columns<QByteArray, QString>("line", "error"); // error empty: accepted

    const Limits &l = RequestLimits;
    row("request", R"({"id":1,"op":"status"})", "");
    row("cr before the end", QByteArray("{\"op\":\"hello\"}\r"), "");
    row("settings object", R"({"op":"save-settings","values":{"Settings/Job":"2"}})", "");
    row("longest line", R"({"a":")" + QByteArray(l.maxLine - 8, 'x') + R"("})",
        "a field is too long");
    row("one byte too long", R"({"a":")" + QByteArray(l.maxLine - 7, 'x') + R"("})",
        "line too long");
    row("not JSON", "status", "not JSON");
    row("cut off", R"({"op":"sta)", "not JSON");
    row("array", "[1,2]", "not a JSON object");
    row("string", R"("hello")", "not JSON");
    row("three deep", R"({"a":{"b":[1]}})", "");
    row("four deep", R"({"a":{"b":{"c":{}}}})", "nested too deep");
    row("deep brackets", QByteArray(10000, '['), "nested too deep");
    row("brackets in a string", R"({"a":"[[[[{{{{\"[[["})", "");
    QByteArray many = "{";
    for (int i = 0; i <= l.maxFields; ++i)
        many += (i ? "," : "") + QByteArray("\"k") + QByteArray::number(i) + "\":1";
    row("too many fields", many + "}", "too many fields");
    row("long key", R"({")" + QByteArray(l.maxField + 1, 'k') + R"(":1})", "a field is too long");
    row("longest field", R"({"a":")" + QByteArray(l.maxField, 'v') + R"("})", "");
}

void TestControlUnits::parseLimits()
{
    auto [line, error] = fetch<QByteArray, QString>("line", "error");
    const Parsed parsed = parseLine(line, RequestLimits);
    QCOMPARE(parsed.ok, error.isEmpty());
    QVERIFY2(error.isEmpty() || parsed.error.startsWith(error), qPrintable(parsed.error));
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
    const auto row = columns<quint64, quint64, bool>("seq", "first", "gap");
    row("from the start of the backlog", 4, 5, false);
    row("in the middle", 7, 8, false);
    row("up to date", 10, 11, false);
    row("left the backlog", 3, 5, true);
    row("nothing seen", 0, 5, true);
    row("another run's number", 11, 5, true);
}

void TestControlUnits::since()
{
    auto [seq, first, gap] = fetch<quint64, quint64, bool>("seq", "first", "gap");
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
    const auto row = columns<bool, unsigned, unsigned, QList<unsigned>, bool, bool>(
        "known", "uid", "gid", "groups", "groupExists", "allowed");

    // The server runs as user 120; the group "tarvo" is 990 where it exists.
    const QList<unsigned> none;
    row("root", true, 0, 0, none, true, true);
    row("root, no group", true, 0, 0, none, false, true);
    row("the server's user", true, 120, 120, none, true, true);
    row("primary group tarvo", true, 1000, 990, none, true, true);
    row("supplementary tarvo", true, 1000, 1000, QList<unsigned>{27, 990}, true, true);
    row("other groups only", true, 1000, 1000, QList<unsigned>{27, 20}, true, false);
    row("gid 990 but no group", true, 1000, 990, none, false, false);
    row("a stranger", true, 1001, 1001, none, true, false);
    row("unknown credentials", false, 0, 0, none, true, false);
}

void TestControlUnits::accessRule()
{
    auto [known, uid, gid, groups, groupExists, allowed] =
        fetch<bool, unsigned, unsigned, QList<unsigned>, bool, bool>(
            "known", "uid", "gid", "groups", "groupExists", "allowed");
    const AccessPolicy policy{120, groupExists, 990, QStringLiteral("tarvo")};
    const PeerCredentials peer{known, uid, gid, {groups.begin(), groups.end()}};
    const AccessDecision decision = decideAccess(peer, policy);
    QCOMPARE(decision.allowed, allowed);
    QCOMPARE(decision.reason.isEmpty(), allowed);
    if (!allowed)
        QVERIFY(decision.reason.startsWith(QLatin1String("refused: ")));
}

void TestControlUnits::requestRights_data()
{
    // windows: the pipe's rule, else the Linux one (the server runs as user
    // 120, the group "tarvo" is 990). refusal: the answer's error, empty
    // when the request is made.
    const auto row = columns<bool, bool, bool, unsigned, unsigned, QString, QString>(
        "windows", "known", "administrator", "uid", "gid", "op", "refusal");
    const QString save = "Changing the settings needs an administrator.";
    const QString close = "Closing the server needs an administrator.";
    for (const char *op : {"status", "watch", "settings", "start", "stop", "recheck", "version"})
        row(QStringLiteral("windows user: %1").arg(op), true, true, false, 0, 0, op, "");
    row("windows user: save-settings", true, true, false, 0, 0, "save-settings", save);
    row("windows user: close-when-idle", true, true, false, 0, 0, "close-when-idle", close);
    row("windows administrator: save-settings", true, true, true, 0, 0, "save-settings", "");
    row("windows administrator: close-when-idle", true, true, true, 0, 0, "close-when-idle", "");
    row("windows, token unread: save-settings", true, false, true, 0, 0, "save-settings", save);
    row("windows, token unread: status", true, false, false, 0, 0, "status", "");
    row("linux root: save-settings", false, true, false, 0, 0, "save-settings", "");
    row("linux server's user: close-when-idle", false, true, false, 120, 120, "close-when-idle",
        "");
    row("linux group member: save-settings", false, true, false, 1000, 990, "save-settings", "");
}

void TestControlUnits::requestRights()
{
    auto [windows, known, administrator, uid, gid, op, refusal] =
        fetch<bool, bool, bool, unsigned, unsigned, QString, QString>(
            "windows", "known", "administrator", "uid", "gid", "op", "refusal");
    PeerCredentials peer{known, uid, gid, {}};
    peer.administrator = administrator;
    const AccessDecision decision =
        windows ? decidePipeAccess(peer)
                : decideAccess(peer, AccessPolicy{120, true, 990, QStringLiteral("tarvo")});
    QVERIFY(decision.allowed); // the pipe lets everybody in; these Linux peers are allowed
    const ControlResult right = requestRight(op, decision.role);
    QCOMPARE(right.ok, refusal.isEmpty());
    QCOMPARE(right.message, refusal);
}

void TestControlUnits::serverCheck_data()
{
    const auto row = columns<unsigned long, int, unsigned long, QString>(
        "server", "state", "servicePid", "failure"); // failure: a part of it; empty: passes
    const int running = int(ServiceInfo::State::Running);
    row("the service's process", 4242, running, 4242, "");
    row("another process", 5150, running, 4242,
        "is served by process 5150, not by the service Tarvo (process 4242); nothing was sent");
    row("service stopped", 5150, int(ServiceInfo::State::Stopped), 0,
        "is served by process 5150, but the service Tarvo does not run; nothing was sent");
    row("service not installed", 5150, int(ServiceInfo::State::NotInstalled), 0,
        "the service Tarvo does not run");
    row("service starting, no process yet", 5150, int(ServiceInfo::State::StartPending), 0,
        "does not run");
    row("server unknown", 0, running, 4242, "cannot tell which process serves tarvo-control");
    row("server unknown, no service", 0, int(ServiceInfo::State::Stopped), 0,
        "cannot tell which process serves");
}

void TestControlUnits::serverCheck()
{
    auto [server, state, servicePid, failure] = fetch<unsigned long, int, unsigned long, QString>(
        "server", "state", "servicePid", "failure");
    ServiceInfo service;
    service.state = ServiceInfo::State(state);
    service.processId = servicePid;
    const QString said =
        ControlClient::serverCheckFailure(QStringLiteral("tarvo-control"), server, service);
    QCOMPARE(said.isEmpty(), failure.isEmpty());
    QVERIFY2(said.contains(failure), qPrintable(said));
}

void TestControlUnits::settingsFile_data()
{
    const auto row = columns<QByteArray, QString>("data", "error"); // error empty: read
    row("values", R"({"Settings/Job":"2","Dnld1/Open From":"C:\\out\\a.txt"})", "");
    row("empty object", "{}", "");
    row("empty text", R"({"File1/Save As":""})", "");
    row("number", R"({"Settings/Job":2})", "the value of \"Settings/Job\" is not a text");
    row("nested", R"({"Settings/Job":{"a":"b"}})", "is not a text");
    row("no group", R"({"Job":"2"})", "\"Job\" is no \"Group/Key\"");
    row("array", R"(["Settings/Job"])", "not a JSON object");
    row("cut off", R"({"Settings/Job":"2")", "not JSON");
    row("empty file", "", "not JSON");
}

void TestControlUnits::settingsFile()
{
    auto [data, error] = fetch<QByteArray, QString>("data", "error");
    QMap<QString, QString> values{{QStringLiteral("Old/Value"), QStringLiteral("kept")}};
    const QMap<QString, QString> before = values;
    QString said;
    QCOMPARE(SettingsFile::decode(data, values, said), error.isEmpty());
    QVERIFY2(said.contains(error), qPrintable(said));
    if (!error.isEmpty()) {
        QCOMPARE(values, before); // nothing half read
        return;
    }
    // What the tray writes is read back as it was.
    QMap<QString, QString> again;
    QVERIFY(SettingsFile::decode(SettingsFile::encode(values), again, said));
    QCOMPARE(again, values);
}

QTEST_GUILESS_MAIN(TestControlUnits)
#include "test_control_units.moc"
