// Line assembly of what the modem and the portable send in idle mode, under
// arbitrary byte streams delivered in arbitrary chunks.
//
// The first input byte picks the situation (a modem that stops answering, a
// job that sends a packet or none, the carrier present or not, a device that
// goes away while auto-answer is re-armed), the second how the rest is cut
// into chunks. After each chunk the line buffer stays capped, holds only the
// newest received bytes and never a whole line, and the server is back in
// idle mode with nothing left unread, unless it stopped with the reason in
// the tray tip. What each line does is the business of the call tests.
#include "Configuration.h"
#include "FakeLine.h"
#include "FuzzRequire.h"
#include "HostSession.h"
#include "ServerState.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

using namespace Tarvo;
using namespace Tarvo::Testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool modemSilent = data[0] & 1; // the modem stops answering once the server runs
    const bool vanishes = data[0] & 16;   // the device goes away in a re-arming's wait
    const int maxChunk = (data[0] & 8) ? 300 : 24;
    const unsigned seed = data[1];
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    VirtualClock clock;
    FakeLine line(clock);
    line.carrier = data[0] & 4;
    bool running = false;
    bool pullDevice = false;
    clock.onEvents = [&] {
        if (pullDevice)
            line.vanish();
    };
    line.peer = [&](const QByteArray &written) {
        if (written.startsWith("AT")) {
            pullDevice = running && vanishes;
            if (!running || !modemSilent)
                line.deliver("\r\nOK\r\n");
        } else if (written.startsWith(Byte::STX)) {
            line.deliver(QByteArray(1, Byte::ACK));
        }
    };

    Configuration config;
    config.ModemPort = 1;
    // An empty download list still sends "ALL DONE", whose wait reads on.
    config.JobType = (data[0] & 2) ? DownloadOnly : 9;
    ServerState state;
    RecordingReporter reporter;
    ScriptedPrompter prompter;
    RecordingControls controls;
    HostSession session(line, clock, reporter, prompter, controls, state, config);
    session.connectLine();
    session.modem().InitializeModem();
    require(line.isOpen() && line.mode() == SerialLine::Mode::Idle, "the server did not start");
    running = true;

    for (qsizetype offset = 0, k = 1; offset < stream.size(); ++k) {
        const QByteArray chunk = stream.mid(offset, 1 + (seed * k * 37 + k / 3) % maxChunk);
        offset += chunk.size();
        line.deliver(chunk);
        line.pump();

        const QByteArray &buffer = state.LineBuffer;
        require(buffer.size() <= CallHandler::MaxLineBuffer, "line buffer too long");
        require(stream.left(offset).endsWith(buffer), "line buffer is not the newest bytes");
        require(!buffer.endsWith("\r\n") || buffer == "\r\n", "a whole line left in the buffer");
        if (!line.isOpen()) {
            require(vanishes && reporter.tip() == "Modem port lost", "port closed without cause");
            break;
        }
        if (line.mode() == SerialLine::Mode::Job) {
            require(modemSilent && reporter.tip() == "Auto answer failed",
                    "idle mode not restored");
            break;
        }
        require(line.pending().isEmpty(), "received bytes left unread in idle mode");
    }
    require(!session.calls().jobRunning(), "a job is still marked running");
    return 0;
}
