// tarvo-deafbench: how long the server stays deaf after each fault that
// leaves the modem usable, measured from the end of the fault to the
// modem's "OK" to "ATS0=1", and whether the next call is then served.
//
// Real time throughout: the real host pieces (the QSerialPort line, the real
// clock, modem control, call handling with an upload as its job, and the
// readiness rule ticked by a timer as the server ticks it) against a modem
// scripted here on the master side of a pseudo-terminal, reached through a
// link so that a port can vanish and come back under the same name. A
// pseudo-terminal has no modem-status lines: for the carrier's and the power's
// cases the line's reads of carrier detect and DSR are handed in, and follow
// the scripted modem.
//
// The host starts as the server does: its readiness timer runs from the
// beginning, but its ticks do nothing while the configuration window is open,
// and the modem is started at the first activation after it.
#include "Configuration.h"
#include "HostSession.h"
#include "PortableFrames.h"
#include "QtSerialLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

using namespace Tarvo;
namespace Frames = Tarvo::Portable;

namespace {

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Processes events until done() or the time is up.
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return done();
}

QByteArray bytes(const std::string &text)
{
    return QByteArray(text.data(), qsizetype(text.size()));
}

// A Hayes modem with a portable behind it that serves one file. In command
// mode it answers each command line "OK" (nothing while silent), keeps S0 and
// reads it back to "ATS0?"; it rings through only while S0 is set; online it
// answers the host's frames as the portable, goes back to command mode at
// "+++", and hangs up at "ATH0" or when DTR drops (unless it ignores DTR).
// After "ALL DONE" the portable hangs up: "NO CARRIER". onRequest may take
// over the n-th request for the next packet of a call, to put a fault there.
// loseCarrier() holds a call without carrier for the modem's own time, deaf
// to data and answering the escape only after its guard time, then says
// "NO CARRIER". DSR is on while it is powered.
class ScriptedModem
{
public:
    explicit ScriptedModem(QString link) : m_link(std::move(link)) {}
    ~ScriptedModem() { unplug(); }
    ScriptedModem(const ScriptedModem &) = delete;
    ScriptedModem &operator=(const ScriptedModem &) = delete;

    // A new pseudo-terminal under the link.
    bool plugIn()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return false;
        const QString slave = QString::fromLocal8Bit(ptsname(m_master));
        termios tio{};
        tcgetattr(m_master, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
        QFile::remove(m_link);
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readable(); });
        return QFile::link(slave, m_link);
    }
    // The device goes: the host's side reads end-of-file, the link is gone.
    void unplug()
    {
        ++m_generation; // nothing queued for this device reaches the next
        m_notifier.reset();
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
        QFile::remove(m_link);
        setOnline(false);
    }

    void send(const QByteArray &out, int delayMs = 0)
    {
        QTimer::singleShot(delayMs, [this, out, generation = m_generation] {
            if (generation == m_generation && m_master >= 0)
                (void)!::write(m_master, out.constData(), size_t(out.size()));
        });
    }
    void ring()
    {
        if (s0 == 0 || silent || online)
            return;
        send("\r\nRING\r\n");
        send("\r\nCONNECT 9600\r\n", 100);
        QTimer::singleShot(100, [this] { setOnline(true); });
        send("Portable ready\r\n", 300);
        m_sent = m_inFlight = m_requests = 0;
    }
    void setOnline(bool on)
    {
        online = dcd = on;
        holding = false;
        m_inFrame = false;
        m_plus = 0;
    }
    void setDtr(bool on)
    {
        if (!on && online && !ignoresDtr)
            setOnline(false);
    }
    // The carrier goes; the modem gives the call up holdMs later. Returns when.
    qint64 loseCarrier(int holdMs)
    {
        dcd = false;
        holding = true;
        QTimer::singleShot(holdMs, [this] {
            if (!holding)
                return;
            setOnline(false);
            send("\r\nNO CARRIER\r\n");
        });
        return nowMs() + holdMs;
    }
    // Switched off: deaf, auto-answer forgotten, any call gone; DSR off.
    void setPowered(bool on)
    {
        powered = on;
        silent = !on;
        s0 = 0;
        setOnline(false);
    }

    bool silent = false, online = false, dcd = false, powered = true, ignoresDtr = false;
    bool holding = false; // online without carrier
    int s0 = 0;
    int callsDone = 0; // calls whose job ended with "ALL DONE"
    QByteArray file;   // what the portable serves
    std::function<bool(int request)> onRequest;
    std::function<void()> onAllDone; // before the portable hangs up
    QList<qint64> armedAt;           // each "OK" to "ATS0=1"

private:
    void readable()
    {
        char buffer[512];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0 && errno == EIO) {
            // No host on the other side (between its close and its next open):
            // look again a little later instead of spinning on the hang-up.
            m_notifier->setEnabled(false);
            QTimer::singleShot(50, [this, generation = m_generation] {
                if (generation == m_generation && m_notifier)
                    m_notifier->setEnabled(true);
            });
            return;
        }
        for (ssize_t i = 0; i < n; ++i)
            online ? onlineByte(buffer[i]) : commandByte(buffer[i]);
    }

    void commandByte(char c)
    {
        if (c != '\r') {
            if (c != '\n')
                m_line += c;
            return;
        }
        const QByteArray line = std::exchange(m_line, {});
        const qsizetype at = line.indexOf("AT");
        if (at < 0 || silent)
            return;
        const QByteArray command = line.mid(at);
        QByteArray reply = "\r\nOK\r\n";
        if (command.startsWith("ATE0V1Q0S0=0"))
            s0 = 0;
        else if (command.startsWith("ATS0="))
            s0 = command.mid(5).toInt();
        else if (command == "ATS0?")
            reply.prepend("\r\n00" + QByteArray::number(s0) + "\r\n");
        else if (command == "ATH0")
            setOnline(false);
        if (command == "ATS0=1")
            armedAt += nowMs();
        send(reply);
    }

    void onlineByte(char c)
    {
        if (holding) { // data goes nowhere; the escape counts after the guard time
            if (c == '+' && ++m_plus == 3)
                QTimer::singleShot(1000, [this, generation = m_generation] {
                    if (generation != m_generation || !holding)
                        return;
                    setOnline(false);
                    send("\r\nOK\r\n");
                });
            return;
        }
        if (!m_inFrame) {
            if (c == char(Frames::Stx)) {
                m_inFrame = true;
                m_frame = QByteArray(1, c);
            } else if (c == char(Frames::Ack)) {
                m_sent += std::exchange(m_inFlight, 0);
            } else if (c == '+' && ++m_plus == 3) {
                setOnline(false); // command mode; "ATH0" ends the call
                send("\r\nOK\r\n");
            }
            return;
        }
        m_frame += c;
        if (c == char(Frames::HostEnd)) {
            m_inFrame = false;
            hostFrame(m_frame);
        }
    }

    void hostFrame(const QByteArray &frame)
    {
        const auto parsed = Frames::parseHostFrame(frame.toStdString());
        if (!parsed)
            return send(QByteArray(1, char(Frames::Nak)));
        if (parsed->type == 'Y' && parsed->body.empty()) {
            if (onRequest && onRequest(++m_requests))
                return;
            const QByteArray next = file.mid(m_sent, qsizetype(Frames::PortableBlock));
            m_inFlight = int(next.size());
            return send(bytes(Frames::buildPortableFrame(next.isEmpty() ? 'Z' : 'D',
                                                         Frames::escapeData(next.toStdString()))));
        }
        send(QByteArray(1, char(Frames::Ack)));
        if (parsed->type == '0' && parsed->body.find("ALL DONE") != std::string::npos) {
            ++callsDone;
            if (onAllDone)
                onAllDone();
            QTimer::singleShot(300, [this] {
                setOnline(false);
                send("\r\nNO CARRIER\r\n");
            });
        }
    }

    QString m_link;
    int m_master = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_generation = 0;
    QByteArray m_line, m_frame;
    bool m_inFrame = false;
    int m_plus = 0, m_requests = 0, m_inFlight = 0;
    qint64 m_sent = 0;
};

// The headless host as the server runs it, with the readiness rule's timer.
struct Host
{
    Host(ScriptedModem &modem, const QString &link, const QString &target, bool modemLines)
        : line([link](int) { return link; },
               modemLines
                   ? QtSerialLine::ModemLines{[&modem](QSerialPort &) { return modem.dcd; },
                                              [&modem](QSerialPort &, bool on) {
                                                  modem.setDtr(on);
                                                  return true;
                                              },
                                              [&modem](QSerialPort &) { return modem.powered; }}
                   : QtSerialLine::ModemLines{})
    {
        config.ModemPort = 1;
        config.JobType = UploadOnly;
        config.UploadList[0] = {QStringLiteral("ORDERS.TXT"), target};
        config.deriveCounts();
        session.connectLine();
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (!configuring)
                session.readiness().tick();
            timer.setInterval(session.readiness().tickIntervalMs());
        });
        timer.start(session.readiness().tickIntervalMs());
    }
    ~Host()
    {
        state.Connected = false;
        session.modem().HangUp();
    }
    // The configuration window closed with OK, then the first activation.
    void start()
    {
        waitUntil([] { return false; }, 1500); // the window open a while, the timer firing
        configuring = false;
        session.modem().InitializeModem();
        session.settle();
    }
    bool logged(const QString &text) const { return log.contains(text); }

    QtSerialLine line;
    RealWaiter waiter;
    QString log;
    HeadlessReporter reporter{[this](const QString &text) { log += text; }};
    HeadlessPrompter prompter;
    HeadlessControls controls;
    ServerState state;
    Configuration config;
    HostSession session{line, waiter, reporter, prompter, controls, state, config};
    QTimer timer;
    bool configuring = true;
};

struct Figure
{
    QString fault;
    double deafSeconds = -1;
    QString target;
    bool met = false;
    bool served = false;
    QString note;
};

// One fault class: the modem armed, the fault, its end, the deaf time until
// the modem's next "OK" to "ATS0=1", then a call that must be served.
class Case
{
public:
    Case() : m_link(m_dir.filePath(QStringLiteral("modem"))), m_modem(m_link)
    {
        m_modem.file = QByteArray(2000, 'x');
        m_modem.plugIn();
    }

    ScriptedModem &modem() { return m_modem; }
    Host &host(bool modemLines = false)
    {
        if (!m_host)
            m_host =
                std::make_unique<Host>(m_modem, m_link, m_dir.filePath("orders.txt"), modemLines);
        return *m_host;
    }
    // Deaf time from faultEnd; afterwards a call to be served.
    Figure measure(const QString &fault, qint64 faultEnd, double targetSeconds,
                   int timeoutMs = 30000)
    {
        Figure figure{fault};
        figure.target = QStringLiteral("<= %1").arg(targetSeconds);
        const auto armedAfter = [&] {
            for (const qint64 at : m_modem.armedAt)
                if (at >= faultEnd)
                    return at;
            return qint64(-1);
        };
        if (faultEnd < 0 || !waitUntil([&] { return armedAfter() >= 0; }, timeoutMs)) {
            figure.note = QStringLiteral("never armed again");
            return figure;
        }
        figure.deafSeconds = double(armedAfter() - faultEnd) / 1000.0;
        figure.met = figure.deafSeconds <= targetSeconds;
        const int calls = m_modem.callsDone;
        waitUntil([&] { return !m_host->session.modem().busy(); }, 5000);
        m_modem.ring();
        figure.served = waitUntil([&] { return m_modem.callsDone > calls; }, 30000);
        return figure;
    }
    // A call runs; at its third request for a packet, fault() acts instead
    // and returns when the fault ended (-1: not yet, see faultEnd()).
    qint64 callWithFault(const std::function<qint64()> &fault)
    {
        qint64 end = -1;
        m_modem.onRequest = [&](int request) {
            if (request != 3)
                return false;
            end = fault();
            return true;
        };
        m_modem.ring();
        waitUntil([&] { return end >= 0; }, 20000);
        m_modem.onRequest = nullptr;
        return end;
    }

private:
    QTemporaryDir m_dir;
    QString m_link;
    ScriptedModem m_modem;
    std::unique_ptr<Host> m_host;
};

Figure noCarrier(bool cutFrame)
{
    Case c;
    c.host().start();
    const qint64 end = c.callWithFault([&] {
        if (cutFrame) // half a data frame, no ETX
            c.modem().send(bytes(Frames::buildPortableFrame('D', std::string(100, 'y'))).left(60));
        c.modem().setOnline(false);
        c.modem().send("\r\nNO CARRIER\r\n");
        return nowMs();
    });
    return c.measure(cutFrame ? QStringLiteral("NO CARRIER after a frame cut before its ETX")
                              : QStringLiteral("NO CARRIER between frames"),
                     end, 2);
}

Figure carrierLost()
{
    Case c;
    c.host(true).start();
    const qint64 end = c.callWithFault([&] {
        c.modem().setOnline(false); // carrier gone, no result line
        return nowMs();
    });
    Figure figure = c.measure(QStringLiteral("carrier lost, no NO CARRIER"), end,
                              2 + LineWait::CarrierLossMs / 1000.0);
    figure.note = QStringLiteral("%1 s past the %2 ms it must stay low")
                      .arg(figure.deafSeconds - LineWait::CarrierLossMs / 1000.0, 0, 'f', 2)
                      .arg(LineWait::CarrierLossMs);
    return figure;
}

// The modem goes silent and forgets auto-answer as the call ends; once the
// failed re-arm is reported it comes back, by answering again (or by an
// unasked "OK" as well).
Figure silentAfterCall(bool unaskedOk)
{
    Case c;
    c.host().start();
    c.modem().onAllDone = [&] {
        c.modem().silent = true;
        c.modem().s0 = 0;
    };
    c.modem().ring();
    qint64 end = -1;
    if (waitUntil([&] { return c.host().logged(QStringLiteral("Please check modem.")); }, 40000)) {
        waitUntil([] { return false; }, 1000);
        c.modem().silent = false;
        if (unaskedOk)
            c.modem().send("\r\nOK\r\n");
        end = nowMs();
    }
    return c.measure(unaskedOk ? QStringLiteral("silent modem, then an unasked OK")
                               : QStringLiteral("re-arm unanswered, modem back"),
                     end, 15);
}

Figure lateAtBoot()
{
    Case c;
    c.modem().silent = true;
    c.host().start();
    waitUntil([] { return false; }, 1000);
    c.modem().silent = false;
    return c.measure(QStringLiteral("modem late at boot"), nowMs(), 15);
}

Figure portBack()
{
    Case c;
    c.host().start();
    c.modem().unplug();
    qint64 end = -1;
    if (waitUntil([&] { return c.host().logged(QStringLiteral("Modem port lost")); }, 5000)) {
        waitUntil([] { return false; }, 2000);
        if (c.modem().plugIn())
            end = nowMs();
    }
    return c.measure(QStringLiteral("port lost, back 2 s later"), end, 15);
}

// A modem that ignores DTR holds the lost call for its own 1.4 s; deaf time
// from its "NO CARRIER".
Figure carrierLostDtrIgnored()
{
    Case c;
    c.modem().ignoresDtr = true;
    c.host(true).start();
    const qint64 end = c.callWithFault([&] { return c.modem().loseCarrier(1400); });
    Figure figure =
        c.measure(QStringLiteral("carrier lost, DTR ignored, NO CARRIER 1.4 s on"), end, 2);
    figure.note = QStringLiteral("from the modem's NO CARRIER");
    return figure;
}

// Switched off and on while idle, on a line with DSR: deaf time from the
// moment it is on again.
Figure powerCycleWithDsr()
{
    Case c;
    c.host(true).start();
    waitUntil([] { return false; }, 2000);
    c.modem().setPowered(false);
    qint64 end = -1;
    if (waitUntil([&] { return c.host().logged(QStringLiteral("Modem switched off")); }, 5000)) {
        waitUntil([] { return false; }, 3000);
        c.modem().setPowered(true);
        end = nowMs();
    }
    return c.measure(QStringLiteral("silent power cycle, DSR (off 3 s)"), end, 15);
}

Figure settingsLostWhileIdle()
{
    Case c;
    c.host().start();
    c.modem().s0 = 0; // switched off and on right after it was armed
    Figure figure =
        c.measure(QStringLiteral("auto-answer lost while idle"), nowMs(),
                  ModemReadiness::CheckEveryMs / 1000.0 + 15, ModemReadiness::CheckEveryMs + 30000);
    figure.note = QStringLiteral("noticed by the check after %1 s of quiet")
                      .arg(ModemReadiness::CheckEveryMs / 1000);
    return figure;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures how long Tarvo stays deaf after each fault the modem survives.");
    parser.addHelpOption();
    parser.addOption({"quick", "Leave out the idle check's case, which takes five minutes."});
    parser.process(app);

    std::printf("%-44s %8s %9s %6s %7s  %s\n", "fault", "deaf s", "target", "met", "served",
                "note");
    std::fflush(stdout);
    const QList<std::function<Figure()>> cases{
        [] { return noCarrier(false); },      [] { return noCarrier(true); },
        [] { return carrierLost(); },         [] { return silentAfterCall(false); },
        [] { return lateAtBoot(); },          [] { return portBack(); },
        [] { return silentAfterCall(true); }, [] { return carrierLostDtrIgnored(); },
        [] { return powerCycleWithDsr(); }};
    bool allMet = true;
    const auto print = [&](const Figure &f) {
        allMet = allMet && f.met && f.served;
        std::printf("%-44s %8.2f %9s %6s %7s  %s\n", qPrintable(f.fault), f.deafSeconds,
                    qPrintable(f.target), f.met ? "yes" : "NO", f.served ? "yes" : "NO",
                    qPrintable(f.note));
        std::fflush(stdout);
    };
    for (const auto &run : cases)
        print(run());
    if (!parser.isSet("quick"))
        print(settingsLostWhileIdle());
    return allMet ? 0 : 1;
}
