// What a control client that never reads costs a real tarvod during calls:
// the 64 KiB download's time with and without such a client, and the
// server's memory growth, read from /proc.
//
//   tarvo-stuckbench [ROUNDS [BITS_PER_SECOND [CLIENTS]]]
//
// tarvod runs as the service manager runs it, against tarvo-portable on a
// pseudo-terminal (unpaced by default: the server's own work is then all
// the time there is, the hardest case for the 5 % budget). The calls
// alternate: odd ones with nobody watching, even ones with CLIENTS stuck
// watchers attached before the call rings. A stuck watcher asks for the
// whole backlog, never reads, and has the smallest receive buffer the
// system gives, so what the server sends it piles up at once; when the
// server drops it, a new one takes its place. Each call's time is the
// portable's own (from its answer to its hang-up).
#include "PortableRig.h"
#include "TarvodProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace Tarvo;
using namespace Tarvo::Bench;

namespace {

constexpr int Bytes = 64 * 1024;

class StuckWatchers
{
public:
    StuckWatchers(QString path, int count) : m_path(std::move(path)), m_count(count) {}
    ~StuckWatchers() { detach(); }

    void attach()
    {
        while (int(m_fds.size()) < m_count)
            m_fds.push_back(connectOne());
    }
    void detach()
    {
        for (int fd : m_fds)
            ::close(fd);
        m_fds.clear();
    }
    // Replaces the watchers the server has dropped; counts them.
    void replaceDropped()
    {
        for (int &fd : m_fds) {
            pollfd p{fd, POLLRDHUP, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                ::close(fd);
                fd = connectOne();
                ++dropped;
            }
        }
    }
    // The most bytes any watcher has left unread so far.
    void sampleUnread()
    {
        for (int fd : m_fds) {
            int unread = 0;
            if (::ioctl(fd, FIONREAD, &unread) == 0)
                mostUnread = std::max(mostUnread, unread);
        }
    }

    int dropped = 0;
    int mostUnread = 0;

private:
    int connectOne() const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int smallest = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(m_path).constData(), sizeof address.sun_path);
        const QByteArray requests = "{\"op\":\"hello\",\"version\":\"1.0\"}\n"
                                    "{\"id\":1,\"op\":\"watch\",\"since\":0}\n";
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::write(fd, requests.constData(), size_t(requests.size())) != requests.size())
            qFatal("cannot connect a stuck watcher");
        return fd;
    }

    QString m_path;
    int m_count;
    std::vector<int> m_fds;
};

double secondsOf(const QString &summary)
{
    return summary.section(QStringLiteral("seconds="), 1)
        .section(QLatin1Char(' '), 0, 0)
        .toDouble();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;
    const int bitsPerSecond = argc > 2 ? QByteArray(argv[2]).toInt() : 0;
    const int clients = argc > 3 ? std::max(1, QByteArray(argv[3]).toInt()) : 1;

    PortableRig rig;
    QByteArray content(Bytes, '\0');
    for (int i = 0; i < Bytes; ++i)
        content[i] = char((i * 7 + i / 251) & 0xff);
    PortableRig::writeFile(rig.hostPath("out.bin"), content);
    const int calls = 1 + 2 * rounds; // the first warms up
    if (!rig.startPortable({.bitsPerSecond = bitsPerSecond, .interval = 0.5, .calls = calls}))
        qFatal("no simulator");
    Configuration config;
    config.JobType = DownloadOnly;
    config.DownloadList[0] = {"OUT.BIN", rig.hostPath("out.bin")};
    QTemporaryDir dir;
    TarvodProcess daemon(dir.filePath(QStringLiteral("server")));
    QString error;
    if (!daemon.writeSettings(config, rig.ptyPath(), error) || !daemon.start())
        qFatal("cannot start tarvod: %s", qPrintable(error));
    StuckWatchers stuck(daemon.controlPath(), clients);

    qint64 rssBefore = -1, hwmBefore = -1, anonBefore = -1, rssMost = 0, rssLast = 0;
    qint64 growthAlone = 0, growthWatched = 0; // VmRSS growth over each kind of call
    QStringList perCall;                       // VmRSS after each call, "+" for watched ones
    std::vector<double> alone, watched;
    for (int done = 0; done < calls;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        stuck.replaceDropped();
        stuck.sampleUnread();
        rssMost = std::max(rssMost, daemon.memoryKiB("VmRSS"));
        if (rig.summaries.size() == done) {
            if (daemon.process().state() != QProcess::Running)
                qFatal("tarvod ended: %s", qPrintable(daemon.log()));
            ::usleep(5000);
            continue;
        }
        const QString summary = rig.summaries[done];
        if (!summary.contains(QLatin1String("outcome=all-done")))
            qFatal("a call failed: %s", qPrintable(summary));
        const qint64 rss = daemon.memoryKiB("VmRSS");
        if (done == 0) { // after the warm-up: the baseline
            rssBefore = rss;
            hwmBefore = daemon.memoryKiB("VmHWM");
            anonBefore = daemon.memoryKiB("RssAnon");
        } else {
            (done % 2 ? watched : alone).push_back(secondsOf(summary));
            (done % 2 ? growthWatched : growthAlone) += rss - rssLast;
        }
        perCall += QString::number(rss) + QLatin1String(done % 2 ? "+" : "");
        rssLast = rss;
        ++done;
        // The next call rings half a second after this one's end at the earliest.
        if (done % 2 == 1 && done < calls)
            stuck.attach();
        else
            stuck.detach();
    }
    const qint64 rssAfter = daemon.memoryKiB("VmRSS"), hwmAfter = daemon.memoryKiB("VmHWM"),
                 anonAfter = daemon.memoryKiB("RssAnon");
    daemon.terminate();

    const double a = median(alone), w = median(watched);
    std::printf(
        "tarvod, %d KiB download per call, %s, %d rounds, %d stuck watcher(s)\n", Bytes / 1024,
        bitsPerSecond ? qPrintable(QStringLiteral("%1 bit/s").arg(bitsPerSecond)) : "unpaced",
        rounds, clients);
    std::printf("call seconds, nobody watching:  ");
    for (double s : alone)
        std::printf(" %.3f", s);
    std::printf("  (median %.3f)\ncall seconds, stuck watcher(s):", a);
    for (double s : watched)
        std::printf(" %.3f", s);
    std::printf("  (median %.3f)\nslower by %.1f %% (median against median)\n", w,
                a > 0 ? (w - a) * 100 / a : 0);
    std::printf("server VmRSS %lld -> %lld KiB (most %lld, growth %lld KiB), VmHWM %lld -> %lld "
                "KiB (growth %lld KiB)\n",
                rssBefore, rssAfter, rssMost, rssMost - rssBefore, hwmBefore, hwmAfter,
                hwmAfter - hwmBefore);
    // The rest of VmRSS is the libraries' pages a first control client touches.
    std::printf("of that heap and stack (RssAnon): %lld -> %lld KiB (growth %lld KiB)\n",
                anonBefore, anonAfter, anonAfter - anonBefore);
    std::printf("VmRSS growth over the calls nobody watched: %lld KiB, over those with stuck "
                "watcher(s): %lld KiB\n",
                growthAlone, growthWatched);
    std::printf("VmRSS after each call (KiB; + with stuck watchers): %s\n",
                qPrintable(perCall.join(QLatin1Char(' '))));
    std::printf("stuck watchers dropped by the server: %d; most bytes left unread by one: %d\n",
                stuck.dropped, stuck.mostUnread);
    return 0;
}
