// The server's operations and what waits for them, without a widget.
//
// Starting and stopping the modem and the job of a call wait by pumping
// window events, so Exit, Stop, a second activation or a lost port can
// arrive while one of them runs. Such an operation runs inside
// runOperation() (a depth counter). Exit or Stop chosen meanwhile is not
// carried out under the running operation: the request is remembered and
// carried out when the outermost operation has returned, with the abort
// cleared first so that the hang-up can still talk to the modem.
//
// The questions come first, and while an operation runs they do not block:
// a box that waited would sit on the job's call stack and stop its polling.
// So they are asked with askYesNoLater and the request goes on from the
// answer. With a call up, "Hang up (disconnect) modem?" follows at once:
// only Yes cuts the job short (its waits are asked to end); No lets it
// finish, and the later hang-up does not ask again. Without a call the
// operation is cut short straight away. Stop and Exit are not taken while
// such a question is open, nor a second Exit while one is pending.
//
// A stop asked by a control client comes with its questions answered:
// ending the call cuts a running job short as Yes does; keeping it lets the
// job and its call finish, and the stop follows once the server is idle.
//
// An installer's close when idle waits for the server to be idle: no
// operation running (no job), and no call connected, since a call that is
// up is about to run its job. It is carried out as the last of these
// waits ends, after the operation in which the call ended.
//
// The modem control closes the port in whichever of these paths gets there
// first and the later hang-up finds it closed, so it is closed once. The
// window draws and forwards; what the Start/Stop button does is kept here
// as told by the modem control, never read back from the caption.
#pragma once

#include "ModemService.h"

#include <QString>
#include <functional>

namespace Tarvo {

class LineWait;
class Prompter;

class OperationController
{
public:
    // What the controller needs the window to do.
    class View
    {
    public:
        virtual ~View() = default;
        // Closes the window as the program (no question); unloading follows.
        virtual void closeByProgram() = 0;
        virtual void setSettingsEnabled(bool enabled) = 0;
    };

    OperationController(Prompter &prompter, View &view);

    static QString exitQuestion();
    static QString stopQuestion();

    // The modem side. wait, when given, is asked to end its waits when Exit
    // or Stop must wait for a running operation.
    void attachModem(ModemService &modem, LineWait *wait = nullptr);
    // The modem belongs to a server in another process that this window is
    // attached to: the first activation does not start it, and the window
    // going leaves it as it is. Start and Stop still go to it.
    void setModemElsewhere() { m_modemElsewhere = true; }
    // Called when a lost port is to be dealt with (closed and reported).
    void setPortLostHandler(std::function<void()> handler) { m_onPortLost = std::move(handler); }

    // Runs operation inside the operation guard.
    void runOperation(const std::function<void()> &operation);
    // The line's lost notification; deferred while an operation runs.
    void portLost();
    // Cuts the running operation short: its waits end and it unwinds as
    // from a failure (a transfer restores its backup).
    void endRunningOperation();

    // The first activation: begin() is false when it has run, runs or the
    // window unloads; end() marks it done.
    bool activationDue() const { return !Activated && !m_activating && !m_unloading; }
    bool beginActivation();
    void endActivation();
    // Starts the modem (call inside runOperation); false when there is none.
    bool initializeModem();
    // The first activation's start: none when the modem is elsewhere.
    bool startAtActivation() { return m_modemElsewhere ? m_modem != nullptr : initializeModem(); }

    // What the Start/Stop button does now, as the modem control shows it.
    void setStopOffered(bool stop) { m_stopOffered = stop; }
    void startStopClicked();
    // A stop whose questions were answered elsewhere (stopped at once, or
    // once the running job has been cut short or, for KeepCall, has ended
    // with its call).
    void stopAsAnswered(ModemService::CallAnswer answer);
    // The tray's Exit and the Exit button when the port is closed.
    void exitChosen();
    // Exit confirmed (or asked for by a close): carried out now or once the
    // running operation unwinds.
    void requestExit();
    // Asks "Exit Tarvo program?"; true for Yes.
    bool confirmExit();
    // Ends the program in order without asking anything.
    void shutdown();
    // Ends the program without asking anything once no operation runs and
    // no call is connected: a call's job is left to finish, not cut short.
    void closeWhenIdle();
    // Hangs up as the window goes; false when unloading is already under way.
    bool unload();

    bool operationRunning() const { return m_depth > 0; }
    bool exitPending() const { return m_exitPending; }
    bool unloading() const { return m_unloading; }
    // A question about a running call's job is open.
    bool questionOpen() const { return m_asking; }

private:
    class Scope;

    void deferUntilUnwound(bool &request);
    void askLater(const QString &question, std::function<void()> onYes);
    void askAboutCallLater(std::function<void(ModemService::CallAnswer)> answered);
    void stopAnswered(ModemService::CallAnswer answer);
    void exitAnswered(ModemService::CallAnswer answer);
    void stopServer();
    void afterOperations();
    bool takeRequest(bool &request);
    void closeIfIdle();

    Prompter &m_prompter;
    View &m_view;
    ModemService *m_modem = nullptr;
    LineWait *m_wait = nullptr;
    std::function<void()> m_onPortLost;

    int m_depth = 0;
    bool Activated = false; // the first activation's work is done
    bool m_activating = false;
    bool m_stopOffered = false;
    bool m_exitPending = false;
    bool m_stopPending = false;
    bool m_settingsPending = false;
    bool m_lostPending = false;
    bool m_asking = false; // a question about a running call's job is open
    ModemService::CallAnswer m_callAnswer = ModemService::CallAnswer::Ask;
    bool m_unloading = false;
    bool m_noQuestions = false;
    bool m_closeWhenIdle = false;
    bool m_stopWhenIdle = false;
    bool m_modemElsewhere = false;
};

} // namespace Tarvo
