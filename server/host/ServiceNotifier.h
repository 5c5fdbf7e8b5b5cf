// Telling the service manager how the server is doing: "READY=1" once it
// serves, "WATCHDOG=1" while it lives, "STOPPING=1" on the way out and
// "STATUS=..." for its status line.
//
// Under systemd each state is one datagram to the AF_UNIX socket named in
// $NOTIFY_SOCKET (a leading '@' names the abstract namespace); without the
// variable nothing is sent. The protocol is this small and stable, so it is
// written here rather than linked. Elsewhere (Windows, which has its own
// service manager) the notifier does nothing.
//
// The watchdog is a timer at half of $WATCHDOG_USEC: it keeps firing during
// a transfer, since every wait of a call's job processes events, so a server
// stuck somewhere that does not is restarted while one that works is not.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

namespace Tarvo {

class ServiceNotifier
{
public:
    virtual ~ServiceNotifier() = default;
    // Sends one state ("READY=1"); false when it could not be sent or
    // nobody listens.
    virtual bool notify(const QByteArray &state) = 0;
};

class SystemdNotifier final : public ServiceNotifier
{
public:
    // The socket from the environment, or the one given (tests).
    SystemdNotifier();
    explicit SystemdNotifier(QByteArray socketPath);

    bool listening() const { return !m_socket.isEmpty(); }
    bool notify(const QByteArray &state) override;

    // Half of $WATCHDOG_USEC in ms when the watchdog is on for this process
    // ($WATCHDOG_PID, when set, names it); 0 when it is off.
    static int watchdogIntervalMs();

private:
    QByteArray m_socket;
};

// Pings the watchdog at the interval the service manager asked for.
class WatchdogPinger final : public QObject
{
public:
    WatchdogPinger(ServiceNotifier &notifier, int intervalMs, QObject *parent = nullptr);

private:
    QTimer m_timer;
};

} // namespace Tarvo
