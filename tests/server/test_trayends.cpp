// The ends of a tray attached to a server: whatever ends the tray (the
// installer's requests, the session's end, Exit) ends it at once and leaves
// the server as it was, also with a call up and with the hang-up question
// open at that moment.
#include "AttachRig.h"
#include "CloseRequests.h"
#include "ModemControl.h"

#include <QUuid>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {
enum class End { Close, CloseWhenIdle, CloseNow, SessionEnd };
} // namespace
Q_DECLARE_METATYPE(End)

class TestTrayEnds : public QObject
{
    Q_OBJECT
private slots:
    void endsLeaveTheServerAlone_data();
    void endsLeaveTheServerAlone();
    void stopAnsweredBeforeTheEndIsSent();
};

void TestTrayEnds::endsLeaveTheServerAlone_data()
{
    // inQuestion: the end comes while "Hang up (disconnect) modem?" is open
    // after Stop was confirmed; the box it closes answers No.
    const auto row = columns<End, bool, bool>("end", "call", "inQuestion");
    const QList<std::pair<const char *, End>> ends{{"close", End::Close},
                                                   {"close when idle", End::CloseWhenIdle},
                                                   {"close now", End::CloseNow},
                                                   {"session end", End::SessionEnd}};
    for (const auto &[name, end] : ends) {
        row(QByteArray(name) + ", idle", end, false, false);
        row(QByteArray(name) + ", call up", end, true, false);
        row(QByteArray(name) + ", in the hang-up question", end, true, true);
    }
}

void TestTrayEnds::endsLeaveTheServerAlone()
{
    auto [end, call, inQuestion] = fetch<End, bool, bool>("end", "call", "inQuestion");
    Rig rig;
    rig.target.state.started = rig.target.state.portOpen = true;
    rig.target.state.connected = call;
    // The requests' own events are unique to this run; the test sends the signal.
    CloseRequests requests(QUuid::createUuid().toString(QUuid::WithoutBraces));
    connectCloseRequestsAttached(requests, rig.tray.window());
    const auto endNow = [&, end = end] {
        if (end == End::SessionEnd) // what the session's end filter calls
            rig.tray.window().shutdownNow(QStringLiteral("Windows is shutting down."));
        else
            emit requests.received(end == End::Close           ? CloseRequests::Kind::Close
                                   : end == End::CloseWhenIdle ? CloseRequests::Kind::CloseWhenIdle
                                                               : CloseRequests::Kind::CloseNow);
    };
    QVERIFY(rig.listen());
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.settle();

    if (inQuestion) {
        rig.prompter.answers = {true, false}; // Stop: Yes; the box closed by the end: No
        rig.prompter.whileAsking = [&](const QString &question) {
            if (question == ModemControl::hangUpQuestion())
                endNow();
        };
        rig.button("cmdWaitingCall")->click();
        QCOMPARE(rig.prompter.questions.last(), ModemControl::hangUpQuestion());
    } else {
        endNow();
    }
    QTRY_VERIFY(rig.tray.window().isUnloaded());
    QTest::qWait(100); // whatever the tray sent on its way out has arrived
    QCOMPARE(stopsOf(rig.target), QStringList());
    QCOMPARE(rig.target.calls, QStringList());

    // The server goes on serving, for a tray started later.
    ControlClient later(QStringLiteral("test"));
    later.open(rig.path);
    QVERIFY(later.waitForReady(5000));
    QVERIFY(ControlClient::statusOf(later.waitForAnswer(later.status(), 5000)).started);
}

// The other side of the same guard: a hang-up question answered by the user
// before anything ends still sends the stop with its answer.
void TestTrayEnds::stopAnsweredBeforeTheEndIsSent()
{
    Rig rig;
    rig.target.state.started = rig.target.state.portOpen = rig.target.state.connected = true;
    QVERIFY(rig.listen());
    rig.tray.start(rig.path);
    QTRY_VERIFY(rig.tray.server().attached());
    rig.settle();
    rig.prompter.answers = {true, false}; // Stop: Yes; keep the call
    rig.button("cmdWaitingCall")->click();
    QTRY_COMPARE(stopsOf(rig.target), QStringList("keep"));
    QVERIFY(!rig.tray.window().isUnloaded());
}

QTEST_MAIN(TestTrayEnds)
#include "test_trayends.moc"
