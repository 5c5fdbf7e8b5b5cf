// tarvo-portable: a simulated modem with a portable behind it.
//
// This file is the plumbing only: the pseudo-terminal (or serial device) in
// raw mode, the line-speed model in both directions, one poll loop that
// sleeps until the next byte is due, the next ring or a signal, and the
// per-call summary. The modem and the portable live in tarvo_portable_core.
#include "LineModel.h"
#include "ModemEmulator.h"
#include "PortableOptions.h"
#include "PortableSession.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Tarvo::Portable;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

Clock::time_point g_start = Clock::now();
bool g_verbose = false;

void logLine(const char *who, const std::string &text)
{
    if (!g_verbose)
        return;
    std::fprintf(stderr, "[%9.3f] %s: %s\n", Seconds(Clock::now() - g_start).count(), who,
                 text.c_str());
}

bool makeRaw(int fd, bool device)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    if (device) {
        // A real line: ignore the modem-status lines, 8N1 at the line speed.
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A new pseudo-terminal whose path is printed. It is opened and closed once
// from here, so that the master reports a hang-up until the host opens it:
// without that, bytes written before the host arrives would wait for it.
int openPseudoTerminal(std::string &path)
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
        return -1;
    const char *name = ptsname(fd);
    if (!name)
        return -1;
    path = name;
    const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave >= 0) {
        makeRaw(slave, false);
        close(slave);
    }
    makeRaw(fd, false);
    return fd;
}

int openDevice(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0 && !makeRaw(fd, true)) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string summaryLine(const CallSummary &s)
{
    char text[256];
    const double rate = s.seconds > 0 ? double(s.payload) / s.seconds : 0.0;
    std::snprintf(text, sizeof text,
                  "CALL %d files=%d payload=%lld seconds=%.3f rate=%.1f outcome=%s", s.call,
                  s.files, static_cast<long long>(s.payload), s.seconds, rate, s.outcome.c_str());
    return text;
}

std::string summaryJson(const CallSummary &s)
{
    char text[512];
    const double rate = s.seconds > 0 ? double(s.payload) / s.seconds : 0.0;
    std::snprintf(text, sizeof text,
                  "{\"call\":%d,\"files\":%d,\"payload_bytes\":%lld,\"seconds\":%.3f,"
                  "\"payload_bytes_per_second\":%.1f,\"wire_bytes_in\":%lld,"
                  "\"wire_bytes_out\":%lld,\"outcome\":\"%s\"}",
                  s.call, s.files, static_cast<long long>(s.payload), s.seconds, rate,
                  static_cast<long long>(s.wireIn), static_cast<long long>(s.wireOut),
                  s.outcome.c_str());
    return text;
}

timespec until(std::optional<Clock::time_point> when, Clock::time_point now, bool &forever)
{
    forever = !when;
    if (!when)
        return {};
    const auto ns = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(*when - now).count());
    return {time_t(ns / 1000000000), long(ns % 1000000000)};
}

std::optional<Clock::time_point>
earliest(std::initializer_list<std::optional<Clock::time_point>> all)
{
    std::optional<Clock::time_point> first;
    for (const auto &t : all) {
        if (t && (!first || *t < *first))
            first = t;
    }
    return first;
}

class Simulator
{
public:
    explicit Simulator(const Options &options)
        : m_options(options), m_session(options.session), m_modem(options.modem, m_session),
          m_line(options.bitsPerSecond)
    {
        m_session.setLog([](const std::string &t) { logLine("portable", t); });
        m_modem.setLog([](const std::string &t) { logLine("modem", t); });
    }

    int run(int fd);

private:
    void readHost(Clock::time_point now);
    void feedArrived(Clock::time_point now);
    void writeDue(Clock::time_point now);
    void report(const CallSummary &summary);
    void hostGone(Clock::time_point now);
    bool finished(Clock::time_point now) const;
    void wait(Clock::time_point now);

    const Options &m_options;
    PortableSession m_session;
    ModemEmulator m_modem;
    LineModel m_line;
    int m_fd = -1;
    bool m_present = false;
    bool m_writeBlocked = false;
    Clock::time_point m_lastActivity = Clock::now();
};

int Simulator::run(int fd)
{
    m_fd = fd;
    // A device is there from the start; a pseudo-terminal once the host opens it.
    m_present = !m_options.device.empty();
    m_modem.setHostPresent(m_present, Clock::now());
    while (!g_stop) {
        Clock::time_point now = Clock::now();
        if (!m_present) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                m_present = true;
                m_modem.setHostPresent(true, now);
            }
        }
        if (m_present)
            readHost(now);
        feedArrived(now);
        m_modem.tick(now);
        for (Chunk &chunk : m_modem.takeOutput()) {
            if (m_present)
                m_line.queue(chunk.bytes, chunk.notBefore, now);
        }
        for (const CallSummary &summary : m_modem.takeFinishedCalls())
            report(summary);
        if (m_options.calls > 0 && m_modem.callsDone() >= m_options.calls)
            m_modem.setRingingAllowed(false);
        if (m_present)
            writeDue(now);
        if (finished(now))
            return 0;
        wait(now);
    }
    m_modem.interrupt(Clock::now());
    for (const CallSummary &summary : m_modem.takeFinishedCalls())
        report(summary);
    return 0;
}

void Simulator::readHost(Clock::time_point now)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_line.arrive(std::string_view(buffer, std::size_t(n)), now);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // EIO (or end of file): the host closed its side. Keep the master and wait.
        hostGone(now);
        return;
    }
}

void Simulator::feedArrived(Clock::time_point now)
{
    while (const auto arrived = m_line.takeArrived(now)) {
        m_modem.receive(arrived->first, arrived->second);
        m_lastActivity = now;
    }
}

void Simulator::writeDue(Clock::time_point now)
{
    const std::string due = m_line.takeDue(now);
    if (due.empty())
        return;
    const ssize_t n = write(m_fd, due.data(), due.size());
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        hostGone(now);
        return;
    }
    const std::size_t written = n > 0 ? std::size_t(n) : 0;
    // Closing the master discards what the host has not read yet, so the
    // quiet time before exiting counts from the last write too.
    m_lastActivity = now;
    m_writeBlocked = written < due.size();
    if (m_writeBlocked)
        m_line.putBack(std::string_view(due).substr(written), now);
}

void Simulator::hostGone(Clock::time_point now)
{
    if (!m_present)
        return;
    logLine("line", std::string("host gone: ") + std::strerror(errno));
    m_present = false;
    m_writeBlocked = false;
    m_line.dropOutput();
    while (m_line.takeArrived(Clock::time_point::max())) {
    }
    m_modem.setHostPresent(false, now);
}

void Simulator::report(const CallSummary &summary)
{
    m_lastActivity = Clock::now();
    std::printf("%s\n", summaryLine(summary).c_str());
    std::fflush(stdout);
    if (!m_options.json.empty()) {
        std::ofstream json(m_options.json, std::ios::app);
        json << summaryJson(summary) << '\n';
    }
}

bool Simulator::finished(Clock::time_point now) const
{
    if (m_options.calls == 0 || m_modem.callsDone() < m_options.calls)
        return false;
    // Stay a little so that the host's re-arming after the last call is answered.
    return !m_line.outputPending() && !m_line.inputPending() &&
           now - m_lastActivity >=
               std::chrono::duration_cast<Clock::duration>(Seconds(m_options.linger));
}

void Simulator::wait(Clock::time_point now)
{
    auto output = m_line.nextOutput();
    if (output && !m_writeBlocked) {
        // Paced output wakes at most every 2 ms and writes what is due by then.
        output = std::max(*output, now + std::chrono::milliseconds(2));
    } else {
        output.reset();
    }
    std::optional<Clock::time_point> lingerEnd;
    if (m_options.calls > 0 && m_modem.callsDone() >= m_options.calls)
        lingerEnd =
            m_lastActivity + std::chrono::duration_cast<Clock::duration>(Seconds(m_options.linger));
    auto next = earliest({m_line.nextInput(), output, m_modem.nextDeadline(), lingerEnd});
    if (!m_present) {
        // A closed pseudo-terminal reports a hang-up at every poll; look again
        // ten times a second instead.
        const auto soon = now + std::chrono::milliseconds(100);
        next = next ? std::min(*next, soon) : soon;
    }
    bool forever = false;
    const timespec timeout = until(next, now, forever);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    pollfd p{m_fd, short(POLLIN | (m_writeBlocked ? POLLOUT : 0)), 0};
    ppoll(m_present ? &p : nullptr, m_present ? 1 : 0, forever ? nullptr : &timeout, &unblocked);
    if (m_present && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
        hostGone(Clock::now());
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tarvo-portable: %s\nTry --help.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    g_verbose = options.verbose;
    options.modem.connectSpeed = options.bitsPerSecond > 0 ? options.bitsPerSecond : 9600;
    std::error_code ec;
    std::filesystem::create_directories(options.session.downloadDir, ec);

    // Signals are blocked except while waiting in ppoll, so none is lost
    // between a check of g_stop and the wait.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, sig);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int fd = -1;
    if (options.device.empty()) {
        std::string path;
        fd = openPseudoTerminal(path);
        if (fd < 0) {
            std::fprintf(stderr, "tarvo-portable: no pseudo-terminal: %s\n", std::strerror(errno));
            return 1;
        }
        if (!options.link.empty()) {
            std::filesystem::path link(options.link);
            if (std::filesystem::is_symlink(link, ec))
                std::filesystem::remove(link, ec);
            std::filesystem::create_symlink(path, link, ec);
            if (ec) {
                std::fprintf(stderr, "tarvo-portable: cannot link %s: %s\n", options.link.c_str(),
                             ec.message().c_str());
                return 1;
            }
        }
        std::printf("PTY %s\n", path.c_str());
        std::fflush(stdout);
    } else {
        fd = openDevice(options.device);
        if (fd < 0) {
            std::fprintf(stderr, "tarvo-portable: cannot open %s: %s\n", options.device.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    Simulator simulator(options);
    const int rc = simulator.run(fd);
    if (!options.link.empty())
        std::filesystem::remove(options.link, ec);
    close(fd);
    return rc;
}
