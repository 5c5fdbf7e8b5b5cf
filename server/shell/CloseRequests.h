// Requests from outside to close the running program, as the Windows
// installer and uninstaller send them before they replace or remove its
// files. Tarvo takes no arguments, so the requests are named events in the
// log-in session's namespace beside the one-instance mutex ("Local\Tarvo"):
//
//   Local\Tarvo.Close          someone at the PC agreed to close Tarvo: the
//                              Exit path as if Exit had been confirmed. A
//                              running call's job is cut short only when the
//                              hang-up question is answered Yes; answered No,
//                              Tarvo ends once the job is done.
//   Local\Tarvo.CloseWhenIdle  a silent installation: Tarvo ends without a
//                              question as soon as no job runs and no call is
//                              connected; a running job is left to finish and
//                              a connected call to end.
//   Local\Tarvo.CloseNow       a silent installation that has waited long
//                              enough: the shutdown a termination signal runs
//                              (a running transfer ends as failed with its
//                              backup put back, the modem is hung up).
//
// Each way ends through the program's own shutdown: backups restored, modem
// hung up, port closed. Windows only; elsewhere the object never fires.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace Tarvo {

class frmServer;

class CloseRequests final : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Close, CloseWhenIdle, CloseNow };
    Q_ENUM(Kind)

    // name: the events' common stem, the program's mutex name by default.
    explicit CloseRequests(const QString &name = defaultName(), QObject *parent = nullptr);
    ~CloseRequests() override;

    // All three events are there to be signalled.
    bool isListening() const;

    static QString defaultName();
    static QString eventName(const QString &name, Kind kind);

signals:
    void received(Tarvo::CloseRequests::Kind kind);

private:
    struct Events;
    std::unique_ptr<Events> m_events;
};

// Closes every open modal dialog as Cancel, the topmost first; an open
// question is answered No.
void closeOpenDialogs();

// Carries the requests out on the running server window.
void connectCloseRequests(CloseRequests &requests, frmServer &server);
// The same for a window attached to a server in another process: every
// request ends the tray at once and asks the server nothing, since what the
// requests wait for (a job, a call) is the server's, which stays.
void connectCloseRequestsAttached(CloseRequests &requests, frmServer &server);

} // namespace Tarvo
