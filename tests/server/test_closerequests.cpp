// The installer's requests to close a running Tarvo: each one carried out on
// the server window with the real host behind it on the fake line, in the
// middle of an upload of 25 packets that replaces "old" on the host; what
// becomes of the file, the call and the open dialogs. On Windows also the
// named events themselves, signalled as the installer does.
#include "CloseRequests.h"
#include "Configuration.h"
#include "FakeLine.h"
#include "HostSession.h"
#include "LogFile.h"
#include "Portable.h"
#include "ServerState.h"
#include "TrayIcon.h"
#include "frmServer.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace Tarvo;
using namespace Tarvo::Testing;
using Kind = CloseRequests::Kind;

namespace {

struct NoTray final : TrayIcon
{
    void add(const QIcon &, const QString &) override {}
    void setTip(const QString &) override {}
    void remove() override {}
    void setMenu(QMenu *) override {}
    bool isAvailable() const override { return true; }
};

// The window and the real host on the fake line, wired as the program does,
// with the modem started and an upload from the portable configured.
struct UploadRig
{
    UploadRig()
    {
        server.operations().attachModem(session.modem(), &session.wait());
        line.setReceiveHandler([this] {
            server.operations().runOperation([this] { session.calls().HandleCommEvent(); });
        });
        connectCloseRequests(requests, server);
        portable.answerModem = true;
        portable.source = pattern(3000);
        Testing::Rig::write(target, "old");
        config.JobType = UploadOnly;
        config.UploadList[0] = {"ORDERS.TXT", target};
        config.deriveCounts();
        server.operations().runOperation([this] { session.modem().InitializeModem(); });
    }

    QTemporaryDir dir;
    QString target = dir.filePath("orders.txt");
    ServerState state;
    LogFile log{dir.path()};
    VirtualClock clock;
    FakeLine line{clock};
    NoTray tray;
    ScriptedPrompter prompter;
    Configuration config;
    frmServer server{state, log, tray, prompter, config, {}, {}};
    HostSession session{line, clock, server, prompter, server, state, config};
    Portable portable{line};
    CloseRequests requests{QStringLiteral("Local\\Tarvo-test-requests")};
};

} // namespace

class CloseRequestsTest : public QObject
{
    Q_OBJECT

private slots:
    // The request comes twice in the middle of the upload (an installer's
    // Retry sends it again). Close asks only about the call, and only once:
    // Yes ends the upload with the old file back, No lets it finish first.
    // CloseWhenIdle asks nothing and lets it finish; CloseNow asks nothing
    // and ends it. Each way the program then ends with the port closed,
    // unless the call was kept.
    void requestDuringAnUpload_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("yes");      // the answer to the hang-up question
        QTest::addColumn<bool>("asked");    // the hang-up question came
        QTest::addColumn<bool>("finished"); // the new file arrived
        QTest::addColumn<bool>("portOpen"); // afterwards

        QTest::newRow("Close, hang up") << Kind::Close << true << true << false << false;
        QTest::newRow("Close, keep the call") << Kind::Close << false << true << true << true;
        QTest::newRow("CloseWhenIdle") << Kind::CloseWhenIdle << true << false << true << false;
        QTest::newRow("CloseNow") << Kind::CloseNow << true << false << false << false;
    }

    void requestDuringAnUpload()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, yes);
        QFETCH(bool, asked);
        QFETCH(bool, finished);
        QFETCH(bool, portOpen);

        UploadRig rig;
        rig.prompter.holdAnswers = true;
        rig.prompter.answers = {yes};
        int polls = 0;
        rig.clock.onEvents = [&] {
            if (++polls == 40 || polls == 41)
                emit rig.requests.received(kind);
            else if (polls > 41 && !rig.prompter.held.isEmpty() && polls % 20 == 0)
                rig.prompter.answerHeld();
        };
        rig.line.deliver("\r\nCONNECT 9600\r\nPortable ready\r\n");
        rig.line.pump();

        QCOMPARE(rig.prompter.questions,
                 asked ? QStringList{"Hang up (disconnect) modem?"} : QStringList{});
        QCOMPARE(readFile(rig.target), finished ? pattern(3000) : QByteArray("old"));
        QVERIFY(!QFile::exists(rig.dir.filePath("orders.BAK")));
        QVERIFY(rig.server.isUnloaded());
        QCOMPARE(rig.state.PortOpened, portOpen);
        QCOMPARE(rig.line.closes, portOpen ? 0 : 1);
    }

    // With no job running, Close ends the program at once, and whatever
    // dialog is open (here a question box) goes as Cancel first.
    void closeShutsTheOpenDialogs()
    {
        UploadRig rig;
        bool unloadedUnderTheBox = false;
        QTimer::singleShot(0, [&] {
            emit rig.requests.received(Kind::Close);
            unloadedUnderTheBox = rig.server.isUnloaded();
        });
        const bool answer =
            QMessageBox::question(nullptr, "Tarvo", "Exit Tarvo program?") == QMessageBox::Yes;
        QVERIFY(!answer);
        QVERIFY(unloadedUnderTheBox);
        QVERIFY(!rig.state.PortOpened);
        QCOMPARE(rig.line.closes, 1);
    }

    // While a question about the running call is open, a Close neither
    // answers it nor closes anything: the answer is the user's.
    void closeLeavesAnOpenQuestionAlone()
    {
        UploadRig rig;
        rig.prompter.holdAnswers = true;
        QMessageBox box(QMessageBox::Question, "Tarvo", "Hang up (disconnect) modem?",
                        QMessageBox::Yes | QMessageBox::No);
        int polls = 0;
        bool boxStayed = false;
        rig.clock.onEvents = [&] {
            ++polls;
            if (polls == 30)
                rig.server.mPopExit_Click(); // its questions are held: one stays open
            if (polls == 40) {
                box.setWindowModality(Qt::ApplicationModal);
                box.show();
                emit rig.requests.received(Kind::Close);
                boxStayed = box.isVisible();
                box.hide();
            }
            if (polls > 40 && !rig.prompter.held.isEmpty() && polls % 20 == 0)
                rig.prompter.answerHeld();
        };
        rig.prompter.answers = {true, false};
        rig.line.deliver("\r\nCONNECT 9600\r\nPortable ready\r\n");
        rig.line.pump();

        QVERIFY(boxStayed);
        QCOMPARE(rig.prompter.questions,
                 (QStringList{"Exit Tarvo program?", "Hang up (disconnect) modem?"}));
        QCOMPARE(readFile(rig.target), pattern(3000));
        QVERIFY(rig.server.isUnloaded());
    }

    // The installer signals the named events; each arrives as its request.
    void namedEventsArrive()
    {
#ifndef Q_OS_WIN
        QSKIP("The requests are named events of Windows.");
#else
        const QString name =
            QStringLiteral("Local\\Tarvo-test-events-%1").arg(QCoreApplication::applicationPid());
        CloseRequests requests(name);
        QVERIFY(requests.isListening());
        QList<Kind> received;
        connect(&requests, &CloseRequests::received, this,
                [&received](Kind kind) { received += kind; });
        const QList<Kind> sent{Kind::CloseWhenIdle, Kind::CloseNow, Kind::Close};
        for (const Kind kind : sent) {
            const QString event = CloseRequests::eventName(name, kind);
            HANDLE handle =
                OpenEventW(EVENT_MODIFY_STATE, FALSE, reinterpret_cast<LPCWSTR>(event.utf16()));
            QVERIFY2(handle, qPrintable(event));
            QVERIFY(SetEvent(handle));
            CloseHandle(handle);
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.indexOf(kind) + 1, 10000);
        }
        QCOMPARE(received, sent);
#endif
    }
};

QTEST_MAIN(CloseRequestsTest)
#include "test_closerequests.moc"
