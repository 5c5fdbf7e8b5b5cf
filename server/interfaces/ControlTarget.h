// What the control channel asks of a running server. The host that runs the
// modem side implements it (the headless server, and the tray when it runs
// the server itself); the channel turns each request of a client into one
// of these calls and its result into the answer.
//
// Calls that drive the modem (start, stop, recheck) run inside the server's
// operation guard and wait by pumping events, so other requests, a call's
// receive events and timers run during them; a second start or stop asked
// meanwhile is answered, never run twice. The questions of Stop ("Stop Tarvo
// ?", "Hang up (disconnect) modem?") are the client's to ask: the answers
// come in as arguments, and the server never shows anything.
//
// Everything the server reports (pane texts with their colours, log-only
// texts, the tray state) goes through its Reporter; the channel follows
// that, not this interface.
#pragma once

#include <QMap>
#include <QString>

namespace Tarvo {

struct ControlStatus
{
    QString state;                 // the tray state, e.g. "Waiting call ..."
    QString tip;                   // "Tarvo - " + state, as the tray shows it
    bool portOpen = false;         // PortOpened
    bool armed = false;            // AutoAnswerOn
    bool connected = false;        // Connected
    bool operationRunning = false; // a modem start or stop, or a call's job, is running
    bool started = false;          // the server means to serve (Start, not Stop, last)
    bool settingsValid = true;     // the settings read last could be served
    QString settingsProblem;       // why not, in one line, when they could not
};

struct ControlResult
{
    bool ok = true;
    QString message; // one line: the reason when !ok, a note otherwise
};

class ControlTarget
{
public:
    // What Stop does with a call that is up: the client asked "Hang up
    // (disconnect) modem?" already.
    enum class CallOnStop {
        EndCall, // Yes: the job is cut short, the upload put back, the modem hung up
        KeepCall // No: the job finishes, then the server stops without asking
    };

    virtual ~ControlTarget() = default;

    virtual ControlStatus status() const = 0;
    // Reads the settings afresh, opens the port, initialises, arms.
    virtual ControlResult start() = 0;
    // Disarms ("ATS0=0") and closes the port; the server keeps running.
    virtual ControlResult stop(CallOnStop call) = 0;
    // Initialises and arms again (after a resume from sleep, say).
    virtual ControlResult recheck() = 0;
    // Ends the server once no job runs and no call is connected; returns at
    // once, the end follows.
    virtual ControlResult closeWhenIdle() = 0;

    // Every value of the settings store by "Group/Key" (e.g.
    // "Settings/Modem Port", "Dnld1/Open From", "Ports/COM1").
    virtual QMap<QString, QString> settings() const = 0;
    // Checks, writes and takes the values; !ok with the system's reason (or
    // what is wrong with the values) leaves the stored settings as they were.
    virtual ControlResult saveSettings(const QMap<QString, QString> &values) = 0;
};

} // namespace Tarvo
