// How a running server joins its front (the tray's server window, or the
// headless server of tarvod), the host session on the serial line, the
// upload journal and the termination signals. The tray's main(), tarvod
// and the end-to-end tests that kill and signal a real server all use it,
// so that each runs the same connections. The front is any QObject that
// keeps the operations (see connectServer()); what only a desktop program has
// (the session's end, the application quitting) the tray adds itself
// (TrayWiring.h).
//
// The line's two notifications go to the front's operations: a call's job
// runs inside the operation guard, and a lost port waits for a running
// operation to unwind. A timer ticks the readiness rule (ModemReadiness.h)
// inside the guard too, so that Stop and Exit wait for a try as for any
// start; never while another operation runs, and never while the
// configuration window is open, where the port may be changing. Uploads
// interrupted in an earlier run are undone at the first activation, before
// the modem starts; a journal this process could not lock is said there in
// red instead, and downloads run all the same. A termination signal runs
// the shutdown without questions; the front's unloading then ends the
// event loop.
//
// None of these ends waits for a running job to unwind before the files
// and the modem are safe: the process may be gone by then (Windows ends it
// soon after WM_ENDSESSION returns, a session manager or service manager
// after a few seconds). The upload in flight is put back and the modem hung
// up within a few seconds right where the end is heard, inside the job's
// wait; the job then unwinds and finds nothing left to do.
#pragma once

#include "HostSession.h"
#include "OperationController.h"
#include "QtSerialLine.h"
#include "ShutdownSignals.h"
#include "UploadJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace Tarvo {

// What the wiring asks of the front, a QObject: operations(), configuring()
// (the settings are being edited), setStartupCheck() (the first
// activation's check), setEndNow() (the step that makes files and modem
// safe at once) and shutdownNow(reason) (the orderly end).
template <class Front>
void connectServer(Front &server, HostSession &session, SerialLine &line, UploadJournal &journal,
                   ShutdownSignals &ends)
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

    server.setEndNow([&session] {
        UploadJob::putBackInFlight();
        session.modem().HangUpNow();
    });
    QObject::connect(&ends, &ShutdownSignals::received, &server, [&server](int signalNumber) {
        server.shutdownNow(QStringLiteral("Ended by signal %1.").arg(signalNumber));
    });
}

// The modem side of a running server on a real serial port, connected to
// the front as above for as long as it lives. The journal is the one the
// process owns (UploadJournal::acquire()).
struct ServerRuntime
{
    template <class Front>
    ServerRuntime(Front &server, Prompter &prompter, ServerState &state,
                  const Configuration &config, QtSerialLine::PortResolver resolver,
                  UploadJournal &journal)
        : line(std::move(resolver)), session(line, waiter, server, prompter, server, state, config)
    {
        connectServer(server, session, line, journal, ends);
    }

    QtSerialLine line;
    RealWaiter waiter;
    HostSession session;
    ShutdownSignals ends;
};

} // namespace Tarvo
