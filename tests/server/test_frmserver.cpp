// The server window with a recording tray, scripted questions, a scratch log, and a fake modem or
// the real host on the fake line; the installer's close requests.
#include "CloseRequests.h"
#include "Columns.h"
#include "FakeTray.h"
#include "LogFile.h"
#include "Portable.h"
#include "ServerWiring.h"
#include "StatusPane.h"
#include "StdinClosed.h"
#include "TrayWiring.h"

#include <QAbstractEventDispatcher>
#include <QtTest/qtestspontaneevent.h>
#include <QtWidgets>
#include <cerrno>
#include <csignal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using namespace Tarvo;
using namespace Tarvo::Testing;
using Kind = CloseRequests::Kind;

namespace {

// Opens and closes the port as the modem control does, with no line behind
// it and no call. What comes while a start waits for the modem runs inside it.
struct FakeModem final : ModemService
{
    FakeModem(frmServer &window, ServerState &shared) : server(window), state(shared) {}
    void InitializeModem() override
    {
        ++inits;
        show(true);
        server.setSettingsEnabled(false);
        if (during)
            std::exchange(during, nullptr)();
    }
    using ModemService::HangUp;
    void HangUp(CallAnswer) override { show(false); }
    bool callUp() const override { return false; }
    void askHangUpLater(std::function<void(bool)> answered) override { answered(true); }
    void show(bool opened)
    {
        state.PortOpened = opened;
        server.setStartStop(opened ? ServerControls::StartStop::Stop
                                   : ServerControls::StartStop::Start);
        server.setCloseCaption(opened ? "Hide" : "Exit");
        server.SetTrayTip(opened ? "Waiting call ..." : "Not connected");
    }

    frmServer &server;
    ServerState &state;
    int inits = 0;
    std::function<void()> during;
};

// What both rigs hold: the window and what it reports to.
struct Window
{
    QPushButton *button(const char *name) { return server.findChild<QPushButton *>(name); }

    QTemporaryDir dir;
    ServerState state;
    LogFile log{dir.path(), {}, dir.filePath("per-user")};
    VirtualClock clock;
    FakeLine line{clock};
    FakeTray tray;
    ScriptedPrompter prompter;
    Configuration config;
    std::function<bool()> configure; // the configuration window, OK when true
    frmServer server{state,    log,    tray,
                     prompter, config, [this](QWidget *) { return configure && configure(); },
                     {}};
};

struct WindowRig : Window
{
    WindowRig()
    {
        server.operations().attachModem(modem, &wait);
        server.operations().setPortLostHandler(
            [this] { // the port closes, as the modem control does
                modem.HangUp();
                server.setSettingsEnabled(true);
            });
    }

    LineWait wait{line, clock};
    FakeModem modem{server, state};
};

// The real host behind the window, wired as the program wires them, the modem
// started (unless the test starts it as the program does), and a job of 25
// packets from the portable to replace "old".
struct CallRig : Window
{
    explicit CallRig(bool started = true)
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
        if (started)
            server.operations().runOperation([this] { session.modem().InitializeModem(); });
    }

    QString target = dir.filePath("orders.txt");
    HostSession session{line, clock, server, prompter, server, state, config};
    Portable portable{line};
    CloseRequests requests{QStringLiteral("Local\\Tarvo-test-requests")};
};

// Keeps the application's answer to Quit (closing every window, ending the loop) out of the test.
struct SwallowQuit final : QObject
{
    bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::Quit; }
};

} // namespace

class FrmServerTest : public QObject
{
    Q_OBJECT

private slots:
    // Script: S Start/Stop, C Hide/Exit, X close box, M minimise, T the tray's Exit, L the port
    // lost; + or - answers the action's question. After ">" it runs while the first start waits,
    // a second activation first. Without a tray the window stays on the task bar, tip in its title.
    void buttons_data()
    {
        // end: running, stopped, hidden or unloaded
        const auto row = columns<QString, bool, QString>("script", "tray", "end");
        row("Stop answered No", "S-", true, "running");
        row("Stop: No, then Yes", "S-S+", true, "stopped");
        row("Start after a Stop", "S+S", true, "running");
        row("minimise hides", "M", true, "hidden");
        row("close box hides while waiting", "X", true, "hidden");
        row("close box when stopped, No", "S+X-", true, "stopped");
        row("close box when stopped, Yes", "S+X+", true, "unloaded");
        row("Hide button", "C", true, "hidden");
        row("Exit button, Yes", "S+C+", true, "unloaded");
        row("tray Exit while waiting", "T+", true, "unloaded");
        row("no tray: minimise", "M", false, "hidden");
        row("no tray: close box", "X", false, "hidden");
        // Nothing goes away under the running start; the second Exit asks nothing.
        row("tray Exit during the start", ">T+T", true, "unloaded");
        row("port lost during the start", ">L", true, "stopped");
    }

    void buttons()
    {
        auto [script, tray, end] = fetch<QString, bool, QString>("script", "tray", "end");

        WindowRig rig;
        rig.tray.available = tray;
        QStringList questions;
        QCloseEvent close;
        QSpontaneKeyEvent::setSpontaneous(&close); // sendEvent would clear the flag
        const auto play = [&](const QString &actions) {
            for (qsizetype i = 0; i < actions.size(); ++i) {
                const QChar action = actions[i];
                rig.prompter.answers.clear();
                for (; i + 1 < actions.size() && QString("+-").contains(actions[i + 1]); ++i) {
                    rig.prompter.answers += actions[i + 1] == '+';
                    questions += action == 'S' ? "Stop Tarvo ?" : "Exit Tarvo program?";
                }
                if (action == 'S' || action == 'C')
                    rig.button(action == 'S' ? "cmdWaitingCall" : "cmdClose")->click();
                else if (action == 'X') // as the close box delivers it
                    QApplication::instance()->notify(&rig.server, &close);
                else if (action == 'M')
                    rig.server.showMinimized();
                else if (action == 'L')
                    rig.server.operations().portLost();
                else
                    rig.server.mPopExit_Click();
                QTest::qWait(20);
            }
        };
        if (script.startsWith('>'))
            rig.modem.during = [&, &script = script] {
                rig.server.Form_Activate();
                play(script.mid(1));
                // Deferred until the start has unwound; its wait is cut short.
                QVERIFY(!rig.server.isUnloaded() && rig.state.PortOpened && rig.wait.aborted());
            };
        rig.server.Form_Load();
        rig.server.Form_Activate();
        rig.server.Form_Activate(); // the modem starts with the first activation only
        QCOMPARE(rig.modem.inits, 1);
        if (!script.startsWith('>'))
            play(script);

        QCOMPARE(rig.prompter.questions, questions);
        QCOMPARE(rig.server.isUnloaded(), end == "unloaded");
        QCOMPARE(rig.tray.removed, int(end == "unloaded"));
        QCOMPARE(rig.state.PortOpened, end == "running" || end == "hidden");
        if (end == "unloaded")
            return;
        QCOMPARE(rig.server.isVisible(), end != "hidden" || !tray);
        QCOMPARE(rig.server.isMinimized(), end == "hidden" && (!tray || script == "M"));
        QCOMPARE(rig.server.windowTitle(), tray ? "Tarvo" : "Tarvo - Waiting call ...");
        QCOMPARE(rig.button("cmdWaitingCall")->text(), end == "stopped" ? "Start" : "Stop");
        QCOMPARE(rig.button("cmdSettings")->isEnabled(), end == "stopped");
    }

    // Stop, Exit or an installer's request mid-upload, given twice (a Retry sends it again): the
    // upload goes on under the questions, the second asks nothing; kept, call and new file stay;
    // ended, the old file is back and the call hung up. CloseWhenIdle finishes and closes once the
    // connected call has ended, CloseNow ends, neither asks; a Close over an open question box
    // about the call leaves the answer to the user.
    void transferUnderTheQuestions_data()
    {
        // finished: the new file arrived
        const auto add = columns<QString, QStringList, bool>("action", "questions", "finished");
        const auto row = [add](const QString &action, const QStringList &questions, bool finished) {
            add(action + (finished ? ", finished" : ", ended"), action, questions, finished);
        };
        const QString hangUp = "Hang up (disconnect) modem?";
        for (const bool finished : {true, false}) {
            row("Stop", {"Stop Tarvo ?", hangUp}, finished);
            row("Exit", {"Exit Tarvo program?", hangUp}, finished);
            row("Close", {hangUp}, finished);
        }
        row("Exit, Close over the open box", {"Exit Tarvo program?", hangUp}, true);
        row("Exit, the window closed under the question", {"Exit Tarvo program?", hangUp}, true);
        row("CloseWhenIdle", {}, true);
        row("CloseNow", {}, false);
    }

    void transferUnderTheQuestions()
    {
        auto [action, questions, finished] =
            fetch<QString, QStringList, bool>("action", "questions", "finished");
        const bool kept = finished && !questions.isEmpty(); // the call stays up
        const bool whenIdle = action == "CloseWhenIdle";

        CallRig rig;
        QCOMPARE(rig.button("cmdWaitingCall")->text(), "Stop");
        rig.prompter.holdAnswers = true;
        rig.prompter.answers = {!finished};
        if (questions.size() == 2)
            rig.prompter.answers.prepend(true);
        int polls = 0;
        qsizetype tracedAtClick = -1, tracedAtAnswer = -1;
        QMessageBox box(QMessageBox::Question, "Tarvo", questions.value(1),
                        QMessageBox::Yes | QMessageBox::No);
        bool boxStayed = true;
        rig.clock.onEvents = [&, &action = action] {
            // The second one comes while the first one's question is open.
            if (++polls == 40 || polls == 41) {
                tracedAtClick = polls == 40 ? rig.portable.trace.size() : tracedAtClick;
                if (action == "Stop")
                    rig.button("cmdWaitingCall")->click();
                else if (action.startsWith("Exit"))
                    rig.server.mPopExit_Click();
                else
                    emit rig.requests.received(action == "Close"      ? Kind::Close
                                               : action == "CloseNow" ? Kind::CloseNow
                                                                      : Kind::CloseWhenIdle);
            } else if (polls == 42 && action.endsWith("box")) {
                box.setWindowModality(Qt::ApplicationModal);
                box.show();
                emit rig.requests.received(Kind::Close);
                boxStayed = box.isVisible();
                box.hide();
            } else if (polls == 42 && action.endsWith("question")) {
                rig.server.close(); // by the program, so it asks nothing of its own
            } else if (polls > 40 && !rig.prompter.held.isEmpty() && polls % 20 == 0) {
                rig.prompter.answerHeld();
                if (rig.prompter.held.isEmpty())
                    tracedAtAnswer = rig.portable.trace.size();
            }
        };
        rig.line.deliver("\r\nCONNECT 9600\r\nPortable ready\r\n");
        rig.line.pump();
        if (whenIdle) { // a connected call is not idle
            QVERIFY(!rig.server.isUnloaded() && rig.state.Connected);
            rig.line.deliver("\r\nNO CARRIER\r\n");
            rig.line.pump();
        }

        QCOMPARE(rig.prompter.questions, questions);
        QVERIFY(boxStayed);
        QVERIFY2(questions.isEmpty() || tracedAtAnswer > tracedAtClick,
                 "the upload stood still under the questions");
        QCOMPARE(readFile(rig.target), finished ? pattern(3000) : QByteArray("old"));
        QVERIFY(!QFile::exists(rig.dir.filePath("orders.BAK")));
        QCOMPARE(rig.line.written().contains("+++"), !kept && !whenIdle);
        QCOMPARE(rig.state.PortOpened, kept);
        QCOMPARE(rig.line.closes, kept ? 0 : 1);
        QCOMPARE(rig.server.isUnloaded(), action != "Stop");
    }

    // Wired as the program is, a call up. A save request may be cancelled: port and call stay. The
    // real end (WM_ENDSESSION as aboutToQuit, X11's "die" as Quit) ends call and program unasked,
    // port closed once; so does an installer's Close with no job, an open dialog as Cancel.
    void sessionEnd_data()
    {
        const auto row = columns<QString>("event");
        row("save request", "save");
        row("Windows ends the session", "aboutToQuit");
        row("X11 session manager ends it", "Quit");
        row("installer's Close over a question box", "Close");
    }

    // The handlers in place before the server's come back when it goes.
    void signalHandlersPutBack()
    {
#ifdef Q_OS_UNIX
        const auto handler = [] {
            struct sigaction now;
            ::sigaction(SIGTERM, nullptr, &now);
            return now.sa_handler;
        };
        std::signal(SIGTERM, SIG_IGN);
        const int input = ::fcntl(0, F_GETFL);
        delete new ShutdownSignals; // the program's own input is none of its business
        QCOMPARE(::fcntl(0, F_GETFL), input);
        {
            StdinClosed noInput; // the handler's end of the pipe is descriptor 0
            ShutdownSignals ends, second;
            QVERIFY(ends.isActive() && handler() != SIG_IGN);
            QVERIFY(!second.isActive()); // one watcher at a time
        }
        QVERIFY(handler() == SIG_IGN);
        std::signal(SIGTERM, SIG_DFL);
#endif
    }

    void sessionEnd()
    {
        auto [event] = fetch<QString>("event");
        SwallowQuit swallow; // installed first, so it sees Quit after the server
        qApp->installEventFilter(&swallow);
        CallRig rig;
        UploadJournal journal{rig.dir.filePath("journal")};
        ShutdownSignals ends;
        connectServer(rig.server, rig.session, rig.line, journal, ends);
        connectTray(*qobject_cast<QApplication *>(qApp), rig.server);
        rig.line.deliver("\r\nCONNECT 9600\r\n");
        rig.line.pump();
        rig.line.writes.clear();

        if (event == "save") {
#if !QT_CONFIG(sessionmanager)
            QSKIP("Qt was built without session management");
#else
            emit qApp->commitDataRequest(*qApp->findChild<QSessionManager *>());
#endif
        } else if (event == "aboutToQuit") {
            QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
        } else if (event == "Close") {
            bool unloadedUnderTheBox = false;
            QTimer::singleShot(0, [&] {
                emit rig.requests.received(Kind::Close);
                unloadedUnderTheBox = rig.server.isUnloaded();
            });
            QVERIFY(QMessageBox::question(nullptr, "Tarvo", "Exit?") != QMessageBox::Yes);
            QVERIFY(unloadedUnderTheBox);
        } else {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(qApp, &quit);
        }
        const bool ended = event != "save";
        QCOMPARE(rig.server.isUnloaded(), ended);
        QCOMPARE(rig.line.isOpen(), !ended);
        QCOMPARE(rig.line.closes, ended ? 1 : 0);
        QCOMPARE(rig.state.Connected, !ended);
        QCOMPARE(rig.line.written().startsWith("+++"), ended);
        QCOMPARE(rig.prompter.questions,
                 QStringList(event == "Close" ? 1 : 0, "Hang up (disconnect) modem?"));
    }

    // A journal whose folder cannot be used stops no start: one red line names the folder and the
    // reason at the first activation, and a download is served all the same.
    void unusableJournalFolder()
    {
        CallRig rig;
        rig.config.JobType = DownloadOnly;
        rig.config.DownloadList[0] = {"ORDERS.TXT", rig.target};
        rig.config.deriveCounts();
        rig.portable.source = "old";
        QVERIFY(QFile(rig.dir.filePath("file")).open(QIODevice::WriteOnly));
        UploadJournal journal{rig.dir.filePath("file/Tarvo")};
        ShutdownSignals ends;
        connectServer(rig.server, rig.session, rig.line, journal, ends);
        connectTray(*qobject_cast<QApplication *>(qApp), rig.server);
        rig.server.Form_Load();
        rig.server.Form_Activate();
        const QString said = rig.server.statusPane()->toPlainText();
        const QString folder = QDir::toNativeSeparators(rig.dir.filePath("file/Tarvo"));
        QCOMPARE(said.count("Cannot lock the upload journal's folder " + folder + ": "), 1);
#ifndef Q_OS_WIN // Windows words it its own way
        QVERIFY(said.contains(": Not a directory. Uploads are refused until it can be used.\n"));
#endif
        rig.line.deliver("\r\nCONNECT 9600\r\nPortable ready\r\n");
        rig.line.pump();
        QVERIFY(rig.portable.trace.contains("0 \r\nALL DONE\r\n"));
    }

    // Wired as the program is, the modem's port lost: no try of the recovery opens the port while
    // the configuration window is open; the first after it restarts the modem on the port chosen.
    void recoveryWaitsForTheConfigurationWindow()
    {
        CallRig rig;
        UploadJournal journal{rig.dir.filePath("journal")};
        ShutdownSignals ends;
        connectServer(rig.server, rig.session, rig.line, journal, ends);
        connectTray(*qobject_cast<QApplication *>(qApp), rig.server);
        auto *timer = rig.server.findChild<QTimer *>("readiness");
        QVERIFY(timer && timer->isActive());
        const auto tick = [&] { QVERIFY(QMetaObject::invokeMethod(timer, "timeout")); };
        rig.line.vanish();
        rig.line.pump();
        QVERIFY(!rig.line.isOpen() && rig.button("cmdSettings")->isEnabled());
        tick(); // the first try is due in a few seconds
        bool openUnderTheWindow = false;
        rig.configure = [&] {
            rig.clock.sleepMs(ModemReadiness::MaxPauseMs);
            tick();
            openUnderTheWindow = rig.line.isOpen();
            rig.config.ModemPort = 2;
            return true;
        };
        rig.button("cmdSettings")->click();
        QVERIFY(!openUnderTheWindow);
        QCOMPARE(rig.server.statusPane()->toPlainText(), QString("Modem Port: COM2\n"));
        tick();
        QCOMPARE(rig.line.port, 2);
        QCOMPARE(rig.server.trayTip(), "Tarvo - Waiting call ...");
        QCOMPARE(rig.button("cmdWaitingCall")->text(), "Stop");
    }

    // Wired and started as the program is: the configuration window first (the clock, which runs
    // from the machine's start, long past five minutes), then the first activation arms the modem.
    // Nothing but a call's own traffic and the described commands reaches the modem: a call in the
    // first second is served as it comes, Stop asks at once and sends "ATS0=0", and the idle check
    // comes only after five minutes of quiet counted from the last arming.
    void realStart_data()
    {
        const auto row = columns<QString>("then");
        row("a call within the first second", "call");
        row("Stop at once", "stop");
        row("five minutes of quiet", "quiet");
    }

    void realStart()
    {
        auto [then] = fetch<QString>("then");
        CallRig rig(false);
        UploadJournal journal{rig.dir.filePath("journal")};
        ShutdownSignals ends;
        rig.clock.sleepMs(10 * 60000);
        connectServer(rig.server, rig.session, rig.line, journal, ends);
        auto *timer = rig.server.findChild<QTimer *>("readiness");
        QVERIFY(timer);
        const auto ticks = [&](int ms) { // the timer's ticks, at their interval
            for (int passed = 0; passed < ms; passed += timer->interval()) {
                rig.clock.sleepMs(timer->interval());
                QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
            }
        };
        rig.server.Form_Load();
        rig.server.Form_Activate();
        QCOMPARE(rig.server.trayTip(), "Tarvo - Waiting call ...");
        const qsizetype armed = rig.line.writes.size();
        ticks(500);
        if (then == "stop") {
            rig.button("cmdWaitingCall")->click();
            QCOMPARE(rig.prompter.questions, QStringList{"Stop Tarvo ?"});
            QCOMPARE(rig.line.writes.mid(armed), QList<QByteArray>{"ATS0=0\r"});
            return;
        }
        if (then == "call") {
            rig.line.deliver("\r\nRING\r\n\r\nCONNECT 9600\r\nPortable ready\r\n");
            rig.line.pump();
            QCOMPARE(readFile(rig.target), pattern(3000));
            for (const QByteArray &written : rig.line.writes.mid(armed))
                QVERIFY2(!written.startsWith("AT"), written);
            rig.line.deliver("\r\nNO CARRIER\r\n"); // re-armed: the quiet counts afresh
            rig.line.pump();
        }
        ticks(ModemReadiness::CheckEveryMs - 1000);
        QCOMPARE(rig.line.writes.count("ATS0?\r"), 0);
        ticks(2000);
        QCOMPARE(rig.line.writes.count("ATS0?\r"), 1);
    }

    // The session ends mid-upload, heard inside a wait of the job. Before the handler returns (the
    // process may be ended then): the old copy back, no .BAK, no journal, the modem hung up and
    // disarmed, the port closed, all within the bound, and the log says so. The job unwinds
    // afterwards and does nothing twice. A silent modem gets its DTR dropped; a session end called
    // off (WM_ENDSESSION with FALSE) changes nothing.
    void sessionEndMidUpload_data()
    {
        const auto row = columns<QString, bool>("end", "modemAnswers");
        row("Windows logs the user off", "WM_ENDSESSION", true);
        row("Windows calls the session end off", "WM_ENDSESSION FALSE", true);
        row("SIGTERM", "SIGTERM", true);
        row("X11 session manager's die", "Quit", true);
        row("SIGTERM, the modem silent", "SIGTERM", false);
    }

    void sessionEndMidUpload()
    {
        auto [end, modemAnswers] = fetch<QString, bool>("end", "modemAnswers");
        const bool ended = end != "WM_ENDSESSION FALSE";
#ifndef Q_OS_WIN
        if (end.startsWith("WM_"))
            QSKIP("WM_ENDSESSION exists on Windows only");
#endif
        SwallowQuit swallow;
        qApp->installEventFilter(&swallow);
        CallRig rig;
        UploadJournal journal{rig.dir.filePath("journal")};
        QString error;
        QCOMPARE(journal.acquire(error), FileLock::Result::Locked);
        ShutdownSignals ends;
        connectServer(rig.server, rig.session, rig.line, journal, ends);
        connectTray(*qobject_cast<QApplication *>(qApp), rig.server);
        const auto portable = rig.line.peer;
        rig.line.peer = [&](const QByteArray &bytes) {
            if (bytes == "+++" && rig.portable.answerModem)
                rig.line.deliver("\r\nOK\r\n", 20);
            else
                portable(bytes);
        };
        const QString backup = rig.dir.filePath("orders.BAK");
        qsizetype writesBefore = -1;
        int polls = 0;
        rig.clock.onEvents = [&, &end = end, modemAnswers = modemAnswers, ended = ended] {
            if (++polls != 60)
                return;
            QVERIFY(QFile::exists(backup) && QFile::exists(journal.path()));
            rig.portable.answerModem = modemAnswers;
            writesBefore = rig.line.writes.size();
            const qint64 before = rig.clock.now();
            if (end.startsWith("WM_")) {
#ifdef Q_OS_WIN
                MSG msg{};
                msg.message = WM_ENDSESSION;
                msg.wParam = end == "WM_ENDSESSION";
                msg.lParam = LPARAM(ENDSESSION_LOGOFF);
                qintptr result = 0;
                QAbstractEventDispatcher::instance()->filterNativeEvent("windows_generic_MSG", &msg,
                                                                        &result);
#endif
            } else if (end == "SIGTERM") {
                emit ends.received(SIGTERM);
            } else {
                QEvent quit(QEvent::Quit);
                QCoreApplication::sendEvent(qApp, &quit);
            }
            if (!ended)
                return;
            QVERIFY(rig.clock.now() - before <= ModemControl::HangUpNowMs);
            QCOMPARE(readFile(rig.target), QByteArray("old"));
            QVERIFY(!QFile::exists(backup));
            QVERIFY(!QFile::exists(journal.path()));
            QCOMPARE(rig.line.closes, 1);
            const QByteArray said = rig.line.writes.mid(writesBefore).join();
            QCOMPARE(said, modemAnswers ? QByteArray("+++ATH0\rATS0=0\r") : QByteArray("+++"));
            QCOMPARE(rig.line.dtrChanges.back(), modemAnswers);
        };
        rig.line.deliver("\r\nCONNECT 9600\r\nPortable ready\r\n");
        rig.line.pump();

        QVERIFY(writesBefore >= 0);
        QCOMPARE(rig.server.isUnloaded(), ended);
        QCOMPARE(readFile(rig.target), ended ? QByteArray("old") : pattern(3000));
        QVERIFY(!QFile::exists(backup));
        QVERIFY(!QFile::exists(journal.path()));
        QCOMPARE(rig.line.closes, int(ended));
        const QString log = QString::fromLatin1(readFile(rig.log.path()));
        QCOMPARE(log.count("it is undone."), int(ended));
        QCOMPARE(log.count("Not connected"), int(ended));
        QCOMPARE(log.count("Stop auto answer ... OK"), int(ended && modemAnswers));
        QVERIFY2(!ended || log.contains(end == "SIGTERM" ? "Ended by signal"
                                        : end == "Quit"  ? "The session is ending."
                                                         : "Windows is logging the user off."),
                 qPrintable(log));
    }

    // Start-up notes reach the log before the modem starts and outlive its clearing of the pane; a
    // log that stops says once where it went; megabytes without blanks show whole, not laid out for
    // hours as one word; the tray tip is the name alone at load, cut to 63 characters.
    void paneAndTip()
    {
        WindowRig rig;
        rig.server.setStartupCheck([] { return QStringList{"Restored A.TXT"}; });
        rig.modem.during = [&] {
            QVERIFY(QFile(rig.log.path()).size() > 0);
            rig.server.clearStatus();
        };
        rig.server.Form_Load();
        QCOMPARE(rig.tray.tip, QString("Tarvo"));
        rig.server.Form_Activate();
        QCOMPARE(rig.server.statusPane()->toPlainText(), QString("Restored A.TXT\n"));
        QVERIFY(readFile(rig.log.path()).contains("Restored A.TXT"));
        rig.server.SetTrayTip(QString(56, 'a')); // one more than "Tarvo - " leaves
        QCOMPARE(rig.tray.tip, "Tarvo - " + QString(55, 'a'));

        setFaultHook([path = rig.log.path()](FileOp op, const QString &p) {
            return op == FileOp::OpenWrite && p == path ? EROFS : 0;
        });
        rig.server.AppendStatus("one\r\n");
        rig.server.AppendStatus("two\r\n");
        setFaultHook({});
        QCOMPARE(rig.server.statusPane()->toPlainText().count("from now on it goes to"), 1);

        rig.server.clearStatus();
        const QString text = "Upload " + QString(2000000, 'N') + " ...\r\n";
        rig.server.AppendStatus(text);
        QCOMPARE(rig.server.statusPane()->toPlainText().remove(QChar(0x200B)),
                 QString(text).replace("\r\n", "\n"));
    }
};

QTEST_MAIN(FrmServerTest)
#include "test_frmserver.moc"
