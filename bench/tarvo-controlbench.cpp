// What a control client that never reads costs the server: the time each
// reported line takes with and without such a client watching, the most
// output ever waiting for it, and the server's memory growth.
//
//   tarvo-controlbench [LINES]
//
// The server, its feed and a stuck client (a Unix socket that asks for a
// watch and then never reads) run in this process; a reading watcher runs
// beside them, as a tray would. Linux only for the memory figure.
#include "ControlClient.h"
#include "ControlServer.h"
#include "LogFeed.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using namespace Tarvo;

#ifdef Q_OS_UNIX
namespace {

class IdleTarget : public ControlTarget
{
public:
    ControlStatus status() const override { return {}; }
    ControlResult start() override { return {}; }
    ControlResult stop(CallOnStop) override { return {}; }
    ControlResult recheck() override { return {}; }
    ControlResult closeWhenIdle() override { return {}; }
    QMap<QString, QString> settings() const override { return {}; }
    ControlResult saveSettings(const QMap<QString, QString> &) override { return {}; }
};

// The resident set in KiB, or -1 where /proc does not tell.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

const QString LineText =
    QStringLiteral("Sending /srv/tarvo/outgoing/prices.dat ... packet 117 OK\r\n");

struct Pass
{
    double microsPerLine = 0;
    qsizetype mostPending = 0;
    long growthKiB = 0;
    int dropped = 0;
};

// Adds lines to the feed the way a call does (a little at a time, with the
// event loop running in between) and measures what it takes.
Pass addLines(LogFeed &feed, ControlServer &server, int lines)
{
    Pass pass;
    int dropped = 0;
    const auto connection = QObject::connect(&server, &ControlServer::connectionEnded,
                                             [&](const QString &) { ++dropped; });
    const QString text =
        QStringLiteral("Sending /srv/tarvo/outgoing/prices.dat ... packet 117 OK\r\n");
    const long before = residentKiB();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i) {
        feed.AppendStatus(LineText);
        pass.mostPending = std::max(pass.mostPending, server.largestPending());
        if (i % 20 == 0)
            QCoreApplication::processEvents();
    }
    pass.microsPerLine = double(clock.nsecsElapsed()) / 1000.0 / lines;
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    pass.growthKiB = residentKiB() - before;
    pass.dropped = dropped;
    QObject::disconnect(connection);
    return pass;
}

// A client that asks for a watch and then never reads, while lines come.
Pass withStuckClient(LogFeed &feed, ControlServer &server, const QString &path, int lines)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    const QByteArray requests =
        "{\"op\":\"hello\",\"version\":\"1.0\"}\n{\"id\":1,\"op\":\"watch\"}\n";
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::write(fd, requests.constData(), size_t(requests.size())) != requests.size())
        qFatal("cannot connect the stuck client");
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const Pass pass = addLines(feed, server, lines);
    ::close(fd);
    return pass;
}

} // namespace
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
#ifndef Q_OS_UNIX
    std::printf("tarvo-controlbench needs a Unix socket for its stuck client\n");
    return 0;
#else
    const int lines = argc > 1 ? std::max(1000, QByteArray(argv[1]).toInt()) : 20000;
    QTemporaryDir dir;
    IdleTarget target;
    LogFeed feed;
    ControlServer server(target, feed, QStringLiteral("bench"));
    const QString path = dir.filePath(QStringLiteral("control"));
    if (!server.listen(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(server.errorString()));
        return 1;
    }
    ControlClient reader(QStringLiteral("bench reader"));
    quint64 readerSeen = 0;
    QObject::connect(&reader, &ControlClient::entry,
                     [&](const FeedEntry &e) { readerSeen = e.seq; });
    reader.open(path);
    if (!reader.waitForReady(2000))
        return 1;
    reader.watch();

    // The backlog fills once before the measured passes, so that both
    // passes start from a full feed.
    addLines(feed, server, LogFeed::DefaultMaxEntries);
    const Pass alone = addLines(feed, server, lines);

    // Two passes with a stuck client each: the first shows what the
    // allocator keeps once it has served such a client, the second what
    // another one adds to that.
    const Pass stuck = withStuckClient(feed, server, path, lines);
    const Pass again = withStuckClient(feed, server, path, lines);
    for (int i = 0; i < 50 && readerSeen < feed.lastSeq(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    std::printf("lines per pass: %d (%d characters of text each)\n", lines, int(LineText.size()));
    std::printf("no stuck client:  %.2f us per line, memory growth %ld KiB\n", alone.microsPerLine,
                alone.growthKiB);
    std::printf("one stuck client: %.2f us per line, memory growth %ld KiB, most output waiting "
                "%lld bytes, dropped: %s\n",
                stuck.microsPerLine, stuck.growthKiB, static_cast<long long>(stuck.mostPending),
                stuck.dropped ? "yes" : "no");
    std::printf("another stuck client: %.2f us per line, memory growth %ld KiB, most output "
                "waiting %lld bytes, dropped: %s\n",
                again.microsPerLine, again.growthKiB, static_cast<long long>(again.mostPending),
                again.dropped ? "yes" : "no");
    std::printf("time added per line by a stuck client: %.2f us\n",
                (stuck.microsPerLine + again.microsPerLine) / 2 - alone.microsPerLine);
    std::printf("the reading watcher got every line: %s\n",
                readerSeen == feed.lastSeq() ? "yes" : "no");
    return 0;
#endif
}
