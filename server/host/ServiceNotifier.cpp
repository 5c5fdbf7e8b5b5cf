#include "ServiceNotifier.h"

#include <QtGlobal>
#include <algorithm>

#ifdef Q_OS_LINUX
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Tarvo {

SystemdNotifier::SystemdNotifier() : SystemdNotifier(qgetenv("NOTIFY_SOCKET")) {}

SystemdNotifier::SystemdNotifier(QByteArray socketPath) : m_socket(std::move(socketPath)) {}

bool SystemdNotifier::notify(const QByteArray &state)
{
#ifdef Q_OS_LINUX
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const bool abstract = m_socket.startsWith('@');
    if (!(abstract || m_socket.startsWith('/')) || m_socket.size() < 2 ||
        std::size_t(m_socket.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, m_socket.constData(), std::size_t(m_socket.size()));
    if (abstract)
        address.sun_path[0] = '\0';
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(m_socket.size()) +
                                  (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Never waits: a service manager that does not read must not hold up a call.
    const ssize_t sent =
        ::sendto(fd, state.constData(), std::size_t(state.size()), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr *>(&address), length);
    ::close(fd);
    return sent == state.size();
#else
    Q_UNUSED(state);
    return false;
#endif
}

int SystemdNotifier::watchdogIntervalMs()
{
#ifdef Q_OS_LINUX
    bool ok = false;
    const qint64 usec = qEnvironmentVariable("WATCHDOG_USEC").toLongLong(&ok);
    if (!ok || usec <= 0)
        return 0;
    const QString pid = qEnvironmentVariable("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != qint64(::getpid()))
        return 0;
    return int(std::clamp<qint64>(usec / 2000, 1, 24 * 3600 * 1000));
#else
    return 0;
#endif
}

WatchdogPinger::WatchdogPinger(ServiceNotifier &notifier, int intervalMs, QObject *parent)
    : QObject(parent)
{
    QObject::connect(&m_timer, &QTimer::timeout, this,
                     [&notifier] { notifier.notify(QByteArrayLiteral("WATCHDOG=1")); });
    if (intervalMs > 0)
        m_timer.start(intervalMs);
}

} // namespace Tarvo
