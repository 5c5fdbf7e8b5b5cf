// Line assembly of what the modem and the portable send in idle mode, under
// arbitrary byte streams delivered in arbitrary chunks.
//
// The first input byte picks the situation (a modem that stops answering, a
// job that sends a packet or none, the carrier present or not, a device
// that goes away while auto-answer is re-armed), the second
// how the rest is cut into chunks. A small model written here from the line
// rules predicts every tray tip, job, re-arming of auto-answer and the
// buffer left over; after each chunk the real call handling must agree and
// be back in idle mode with nothing left unread, unless a failed re-arming
// left the modem in job mode or the port was lost.
#include "Configuration.h"
#include "FakeLine.h"
#include "HostSession.h"
#include "ServerState.h"

#include <QByteArray>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Tarvo;
using namespace Tarvo::Testing;

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_line: %s\n", what);
        std::abort();
    }
}

struct Situation
{
    bool modemSilent = false; // the modem stops answering once the server runs
    bool sendsPacket = false; // the job sends "ALL DONE" (empty download list)
    bool carrier = false;     // the carrier-detect line is up
    bool vanishes = false;    // the device goes away in the first re-arming's wait
    int maxChunk = 1;
};

// What the call handling should do with the stream, predicted line by line.
class Model
{
public:
    explicit Model(const Situation &situation) : m_situation(situation) {}

    void feed(const QByteArray &chunk)
    {
        for (qsizetype i = 0; i < chunk.size() && !stopped; ++i) {
            buffer += chunk.at(i);
            if (buffer.size() > CallHandler::MaxLineBuffer)
                buffer.remove(0, buffer.size() - CallHandler::MaxLineBuffer);
            if (!buffer.endsWith("\r\n") || buffer == "\r\n")
                continue;
            QByteArray line = buffer;
            line.replace("\r\n", "");
            buffer.clear();
            m_rest = chunk.mid(i + 1);
            m_restTaken = false;
            process(line);
            if (m_restTaken)
                break;
        }
    }

    QByteArray buffer;
    QStringList tips;
    bool connected = false;
    bool stopped = false;
    bool portLost = false;
    int jobs = 0;
    int packets = 0;
    int rearms = 0;

private:
    void process(const QByteArray &bytes)
    {
        const QString line = QString::fromLatin1(bytes);
        const bool ring = bytes.contains("RING");
        if (!ring && bytes.contains("CONNECT")) {
            tips += line;
            connected = true;
        } else if (!ring && bytes.contains("Portable ready")) {
            ++jobs;
            if (m_situation.sendsPacket) {
                ++packets;
                takeRest(); // the packet's wait reads what is pending
            }
            if (connected && !m_situation.carrier)
                noCarrier(QStringLiteral("NO CARRIER"));
        } else if (!ring && bytes.contains("NO CARRIER")) {
            noCarrier(line);
        } else {
            tips += line;
        }
    }

    void noCarrier(const QString &line)
    {
        tips += line;
        connected = false;
        ++rearms;
        const QByteArray seen = takeRest();
        if (m_situation.vanishes) {
            // The wait ends before it reads anything; the port is closed.
            tips += QStringLiteral("Modem port lost");
            stopped = true;
            portLost = true;
        } else if (!m_situation.modemSilent || seen.contains("OK\r\n")) {
            tips += QStringLiteral("Waiting call ...");
        } else {
            tips += QStringLiteral("Auto answer failed");
            stopped = true;
        }
    }

    QByteArray takeRest()
    {
        if (m_restTaken)
            return {};
        m_restTaken = true;
        return m_rest;
    }

    Situation m_situation;
    QByteArray m_rest;
    bool m_restTaken = false;
};

int countWrites(const FakeLine &line, const QByteArray &prefix)
{
    int n = 0;
    for (const QByteArray &w : line.writes)
        n += w.startsWith(prefix) ? 1 : 0;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    Situation situation;
    situation.modemSilent = data[0] & 1;
    situation.sendsPacket = data[0] & 2;
    situation.carrier = data[0] & 4;
    situation.maxChunk = (data[0] & 8) ? 300 : 24;
    situation.vanishes = data[0] & 16;
    const unsigned seed = data[1];
    const QByteArray stream(reinterpret_cast<const char *>(data + 2),
                            static_cast<qsizetype>(size - 2));

    VirtualClock clock;
    FakeLine line(clock);
    line.carrier = situation.carrier;
    bool running = false;
    bool pullDevice = false;
    clock.onEvents = [&] {
        if (pullDevice)
            line.vanish();
    };
    line.peer = [&](const QByteArray &written) {
        if (written.startsWith("AT")) {
            pullDevice = running && situation.vanishes;
            if (!running || !situation.modemSilent)
                line.deliver("\r\nOK\r\n");
        } else if (written.startsWith(Byte::STX)) {
            line.deliver(QByteArray(1, Byte::ACK));
        }
    };

    Configuration config;
    config.ModemPort = 1;
    config.JobType = situation.sendsPacket ? DownloadOnly : 9;
    ServerState state;
    RecordingReporter reporter;
    ScriptedPrompter prompter;
    RecordingControls controls;
    HostSession session(line, clock, reporter, prompter, controls, state, config);
    session.connectLine();
    session.modem().InitializeModem();
    require(line.isOpen() && line.mode() == SerialLine::Mode::Idle, "the server did not start");
    running = true;
    reporter.tips.clear();
    const int initialRearms = countWrites(line, "ATS0=1");

    Model model(situation);
    qsizetype offset = 0;
    for (unsigned k = 1; offset < stream.size(); ++k) {
        const qsizetype length = 1 + (seed * k * 37 + k / 3) % situation.maxChunk;
        const QByteArray chunk = stream.mid(offset, length);
        offset += chunk.size();

        line.deliver(chunk);
        line.pump();
        model.feed(chunk);

        require(state.LineBuffer.size() <= CallHandler::MaxLineBuffer, "line buffer too long");
        require(line.isOpen() != model.portLost, "the port is open after it was lost, or closed");
        require((line.mode() == SerialLine::Mode::Job) == model.stopped,
                "idle mode not restored, or restored without a modem");
        require(model.stopped || line.pending().isEmpty(),
                "received bytes left unread in idle mode");
        require(state.LineBuffer == model.buffer, "line buffer differs from the model");
        // The whole list is compared at the end; here only what is new.
        require(reporter.tips.size() == model.tips.size() &&
                    (model.tips.isEmpty() || reporter.tips.last() == model.tips.last()),
                "tray tips differ from the model");
        require(state.Connected == model.connected, "Connected differs from the model");
        require(session.calls().jobsRun() == model.jobs, "jobs run differ from the model");
        require(countWrites(line, QByteArray(1, Byte::STX)) == model.packets,
                "packets sent differ from the model");
        require(countWrites(line, "ATS0=1") - initialRearms == model.rearms,
                "auto-answer re-armings differ from the model");
        if (model.stopped)
            break;
    }
    require(reporter.tips == model.tips, "tray tips differ from the model");
    require(!session.calls().jobRunning(), "a job is still marked running");
    return 0;
}
