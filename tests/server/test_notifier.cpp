// The service manager's notifications: one datagram per state to a socket by path, nothing
// without one; the watchdog's period from the environment.
#include "Columns.h"
#include "ServiceNotifier.h"

#include <QtTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Testing;

class NotifierTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void notify_data()
    {
        const auto row = columns<QString, bool>("socket", "heard");
        row("by path", "PATH", true);
        row("no variable", "", false);
        row("a relative path", "notify.sock", false);
        row("a lone @", "@", false);
    }

    void notify()
    {
        auto [socket, heard] = fetch<QString, bool>("socket", "heard");
        // The listener, bound where the manager would be (one in the abstract namespace hears
        // tarvod in its end-to-end test).
        const QByteArray path = m_dir.filePath("notify.sock").toUtf8();
        const QByteArray named = socket == "PATH" ? path : socket.toUtf8();
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        ::unlink(path.constData());
        std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);

        SystemdNotifier notifier(named);
        QCOMPARE(notifier.notify("READY=1\nSTATUS=Waiting call ..."), heard);
        char buffer[128] = {};
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        ::close(fd);
        QCOMPARE(got > 0 ? QByteArray(buffer, int(got)) : QByteArray(),
                 heard ? QByteArray("READY=1\nSTATUS=Waiting call ...") : QByteArray());
    }

    void watchdogInterval_data()
    {
        const auto row = columns<QByteArray, QByteArray, int>("usec", "pid", "ms");
        row("half of the period", "200000", "", 100);
        row("for this process", "60000000", QByteArray::number(::getpid()), 30000);
        row("for another process", "60000000", "1", 0);
        row("off", "", "", 0);
        row("not a number", "soon", "", 0);
    }

    void watchdogInterval()
    {
        auto [usec, pid, ms] = fetch<QByteArray, QByteArray, int>("usec", "pid", "ms");
        qputenv("WATCHDOG_USEC", usec);
        qputenv("WATCHDOG_PID", pid);
        QCOMPARE(SystemdNotifier::watchdogIntervalMs(), ms);
        qunsetenv("WATCHDOG_USEC");
        qunsetenv("WATCHDOG_PID");
    }
};

QTEST_GUILESS_MAIN(NotifierTest)
#include "test_notifier.moc"
