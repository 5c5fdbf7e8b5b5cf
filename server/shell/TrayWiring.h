// What the tray adds to the server's wiring (ServerWiring.h): the ends only a
// desktop program has. The window's unloading ends the event loop; the
// session's end and the application quitting run the same shutdown without
// questions as a termination signal does.
//
// The session's end is WM_ENDSESSION on Windows (SessionEnd.h; Qt makes it
// aboutToQuit as well), and the X11 session manager's "die", which Qt turns
// into a Quit event to the application that would otherwise close the
// window with the hang-up question first. The session manager's save
// request (commitDataRequest, WM_QUERYENDSESSION) comes before that and may
// still be cancelled by another program, so nothing is done on it: the
// modem stays armed.
#pragma once

#include "SessionEnd.h"
#include "frmServer.h"

#include <QApplication>

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

inline void connectTray(QApplication &app, frmServer &server)
{
    QObject::connect(&server, &frmServer::unloaded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &server,
                     [&server] { server.shutdownNow(QStringLiteral("The session is ending.")); });
    app.installEventFilter(new QuitWatch(server));
    new SessionEndFilter([&server](const QString &reason) { server.shutdownNow(reason); }, &server);
}

} // namespace Tarvo
