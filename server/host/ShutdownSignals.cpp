#include "ShutdownSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#endif

namespace Tarvo {

#ifdef Q_OS_UNIX

namespace {

constexpr int Watched[] = {SIGTERM, SIGINT, SIGHUP};
int wakeFds[2] = {-1, -1}; // [0] written by the handler, [1] watched by the notifier
struct sigaction previous[std::size(Watched)];

void onSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    // A full pipe means a shutdown is already on its way: losing this one is fine.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFds[0], &byte, 1);
    errno = saved;
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent)
{
    if (wakeFds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeFds) != 0)
        return;
    for (int fd : wakeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    m_notifier = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShutdownSignals::readSignal);

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Watched); ++i)
        ::sigaction(Watched[i], &action, &previous[i]);
}

ShutdownSignals::~ShutdownSignals()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < std::size(Watched); ++i)
        ::sigaction(Watched[i], &previous[i], nullptr);
    delete m_notifier;
    for (int &fd : wakeFds)
        ::close(std::exchange(fd, -1));
}

void ShutdownSignals::readSignal()
{
    char byte = 0;
    while (::read(wakeFds[1], &byte, 1) == 1)
        emit received(int(static_cast<unsigned char>(byte)));
}

#else

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent) {}
ShutdownSignals::~ShutdownSignals() = default;
void ShutdownSignals::readSignal() {}

#endif

} // namespace Tarvo
