// How the running program joins the server window, the host session on the
// serial line, the upload journal and the ways it can be told to end. main()
// uses it, and so does the end-to-end test that kills and signals a real
// server, so that both run the same connections.
//
// The line's two notifications go to the window's operations: a call's job
// runs inside the operation guard, and a lost port waits for a running
// operation to unwind. A timer ticks the readiness rule (ModemReadiness.h)
// inside the guard too, so that Stop and Exit wait for a try as for any
// start; never while another operation runs, and never while the
// configuration window is open, where the port may be changing. Uploads
// interrupted in an earlier run are undone at the first activation, before
// the modem starts; a journal this process could not lock is said there in
// red instead, and downloads run all the same. A termination signal, the
// session's end and the application quitting all run the same shutdown
// without questions; the window's unloading then ends the event loop.
//
// The session's end is WM_ENDSESSION on Windows (SessionEnd.h; Qt makes it
// aboutToQuit as well), and the X11 session manager's "die", which Qt turns
// into a Quit event to the application that would otherwise close the
// window with the hang-up question first. The session manager's save
// request (commitDataRequest, WM_QUERYENDSESSION) comes before that and may
// still be cancelled by another program, so nothing is done on it: the
// modem stays armed.
//
// None of these ends waits for a running job to unwind before the files
// and the modem are safe: the process may be gone by then (Windows ends it
// soon after WM_ENDSESSION returns, a session manager or service manager
// after a few seconds). The upload in flight is put back and the modem hung
// up within a few seconds right where the end is heard, inside the job's
// wait; the job then unwinds and finds nothing left to do.
#pragma once

#include "HostSession.h"
#include "QtSerialLine.h"
#include "SessionEnd.h"
#include "ShutdownSignals.h"
#include "UploadJournal.h"
#include "frmServer.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace Tarvo {

// Runs the orderly shutdown as the application is asked to quit, before
// Qt closes its windows; the quit itself goes on.
class QuitWatch final : public QObject
{
public:
    explicit QuitWatch(frmServer &server) : QObject(&server), m_server(server) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
            m_server.shutdownNow(QStringLiteral("The session is ending."));
        return false;
    }

private:
    frmServer &m_server;
};

inline void connectServer(QApplication &app, frmServer &server, HostSession &session,
                          SerialLine &line, UploadJournal &journal, ShutdownSignals &ends)
{
    OperationController &operations = server.operations();
    operations.attachModem(session.modem(), &session.wait());
    operations.setPortLostHandler([&session] { session.settle(); });
    line.setReceiveHandler([&operations, &session] {
        operations.runOperation([&session] { session.calls().HandleCommEvent(); });
    });
    line.setLostHandler([&operations] { operations.portLost(); });
    auto *readiness = new QTimer(&server);
    readiness->setObjectName(QStringLiteral("readiness"));
    QObject::connect(readiness, &QTimer::timeout, &server, [&server, &session, readiness] {
        OperationController &guard = server.operations();
        if (!guard.operationRunning() && !guard.unloading() && !server.configuring())
            guard.runOperation([&session] { session.readiness().tick(); });
        readiness->setInterval(session.readiness().tickIntervalMs());
    });
    readiness->start(session.readiness().tickIntervalMs());

    session.setJournal(&journal);
    server.setStartupCheck([&journal] {
        // A journal this run could not lock is not its own: uploads are refused until it is.
        if (QString error; journal.acquire(error) != FileLock::Result::Locked)
            return QStringList{
                QStringLiteral("Cannot lock the upload journal's folder %1: %2. Uploads are "
                               "refused until it can be used.")
                    .arg(QDir::toNativeSeparators(QFileInfo(journal.path()).absolutePath()),
                         error.isEmpty() ? QStringLiteral("another Tarvo holds it") : error)};
        return journal.recover();
    });

    QObject::connect(&server, &frmServer::unloaded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    server.setEndNow([&session] {
        UploadJob::putBackInFlight();
        session.modem().HangUpNow();
    });
    QObject::connect(&ends, &ShutdownSignals::received, &server, [&server](int signalNumber) {
        server.shutdownNow(QStringLiteral("Ended by signal %1.").arg(signalNumber));
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &server,
                     [&server] { server.shutdownNow(QStringLiteral("The session is ending.")); });
    app.installEventFilter(new QuitWatch(server));
    new SessionEndFilter([&server](const QString &reason) { server.shutdownNow(reason); }, &server);
}

// The modem side of a running server on a real serial port, connected to
// the window as above for as long as it lives. The journal is the one the
// process owns (UploadJournal::acquire()).
struct ServerRuntime
{
    ServerRuntime(QApplication &app, frmServer &server, Prompter &prompter, ServerState &state,
                  const Configuration &config, QtSerialLine::PortResolver resolver,
                  UploadJournal &journal)
        : line(std::move(resolver)), session(line, waiter, server, prompter, server, state, config)
    {
        connectServer(app, server, session, line, journal, ends);
    }

    QtSerialLine line;
    RealWaiter waiter;
    HostSession session;
    ShutdownSignals ends;
};

} // namespace Tarvo
