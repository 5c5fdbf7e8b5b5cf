// Line assembly of what the modem and the portable send in idle mode, under arbitrary bytes in
// arbitrary chunks: the line buffer stays capped, holds only the newest bytes and never a whole
// line, and the server is back in idle mode with nothing unread, also after a silent modem.
#include "FakeHost.h"
#include "FrameCodec.h"
#include "FuzzRequire.h"

using namespace Tarvo;
using namespace Tarvo::Testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte picks the situation, the second how the rest is cut.
    const bool modemSilent = data[0] & 1; // the modem stops answering once the server runs
    const int maxChunk = (data[0] & 8) ? 300 : 24;
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    FakeHost host;
    FakeLine &line = host.line;
    line.carrier = data[0] & 4;
    bool running = false;
    line.peer = [&](const QByteArray &written) {
        if (written.startsWith("AT") && !(running && modemSilent))
            line.deliver("\r\nOK\r\n");
        else if (written.startsWith(Byte::STX))
            line.deliver(QByteArray(1, Byte::ACK));
    };
    host.config.ModemPort = 1;
    // An empty download list still sends "ALL DONE", whose wait reads on.
    host.config.JobType = (data[0] & 2) ? DownloadOnly : 9;
    host.session.modem().InitializeModem();
    require(line.mode() == SerialLine::Mode::Idle, "the server did not start");
    running = true;

    const QByteArray &buffer = host.session.calls().lineBuffer();
    for (qsizetype offset = 0, k = 1; offset < stream.size(); ++k) {
        const QByteArray chunk = stream.mid(offset, 1 + (data[1] * k * 37 + k / 3) % maxChunk);
        offset += chunk.size();
        host.receive(chunk);
        require(buffer.size() <= CallHandler::MaxLineBuffer && stream.left(offset).endsWith(buffer),
                "the line buffer is not the newest bytes within its cap");
        require(!buffer.endsWith("\r\n") || buffer == "\r\n", "a whole line left in the buffer");
        require(line.mode() == SerialLine::Mode::Idle, "idle mode not restored");
        require(line.pending().isEmpty(), "received bytes left unread in idle mode");
    }
    require(!host.session.calls().jobRunning(), "a job is still marked running");
    return 0;
}
