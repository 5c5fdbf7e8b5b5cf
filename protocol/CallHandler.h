// Call handling: turns what the modem and the portable say in idle mode into
// lines, reacts to them, and runs the configured job when the portable
// greets with "Portable ready".
//
// Characters are taken one at a time; a line is complete when the buffer ends
// with CR LF and is not CR LF alone. Keyword tests run in order: "RING" (shown
// like any line), "CONNECT", "Portable ready", "NO CARRIER". The whole job runs
// inside the receive notification with the line in job mode, and idle mode
// is restored whatever happens. Bytes after a complete line stay in the port
// for whoever reads next.
//
// The carrier-detect line is believed only once it has been seen high in the
// current call: on a port whose DCD pin is not wired it reads low all
// through a live call, and the modem's own "NO CARRIER" line ends the call
// there. During a job the wait watches for both (LineWait.h), so a
// portable that hangs up mid-file ends the job at once, without an "ERROR"
// into the dead line, and the modem is armed again for the next call.
// Carrier detect must stay low for LineWait::CarrierLossMs before the call
// counts as lost, in a job and between jobs (watchCall(), which the
// readiness timer calls as often as a job polls); a call that only carrier
// detect says is over is hung up first (the modem may still hold it), so
// that "ATS0=1" never goes into a live connection, and the modem is armed
// only when the hang-up showed the call gone (ModemRecovery.h).
//
// A line that is just "OK" comes from a modem nobody asked anything (every
// command is sent in job mode and reads its own reply), unless it is the
// late reply of a check a RING cut short, which recovery takes: otherwise
// the modem was reset, so any call is gone and auto-answer with it; the
// modem control is told. When the modem last said anything, and when it
// last rang, is kept for the readiness rule, which leaves the modem alone
// meanwhile.
#pragma once

#include "LineWait.h"
#include "Reporter.h"
#include "ServerState.h"

#include <QByteArray>
#include <functional>

namespace Tarvo {

struct Configuration;
class ModemControl;
class ModemRecovery;
class PacketLink;
class DownloadJob;
class UploadJob;

class CallHandler
{
public:
    // Line noise that never sends CR LF must not grow the buffer without
    // bound: beyond this many characters only the newest are kept.
    static constexpr int MaxLineBuffer = 4096;
    static constexpr int JobDelayMs = 50;

    CallHandler(LineWait &wait, Reporter &reporter, ServerState &state, ModemControl &modem,
                ModemRecovery &recovery, PacketLink &link, DownloadJob &download, UploadJob &upload,
                const Configuration &config);

    // The receive notification: consumes buffered characters while the line
    // stays in idle mode.
    void HandleCommEvent();

    bool RunDownloadList();
    bool RunUploadList();

    bool jobRunning() const { return m_jobRunning; }
    // A receive notification is being handled.
    bool handling() const { return m_inHandler; }
    // Between jobs while a call is connected: ends the call when carrier
    // detect has stayed low long enough.
    void watchCall();
    // Bytes the modem sent while someone else read the line (the check of
    // an idle modem), taken as if they had come in idle mode.
    void takeReceived(const QByteArray &bytes);
    // When the modem last sent a character, and when its last RING came
    // that no CONNECT answered, on the waiter's clock (-1: not yet, none).
    qint64 lastHeardAt() const { return m_lastHeardAt; }
    qint64 lastRingAt() const { return m_lastRingAt; }
    // Told when a job starts (true) and when it has ended (false).
    void setJobObserver(std::function<void(bool running)> observer)
    {
        m_jobObserver = std::move(observer);
    }
    int jobsRun() const { return m_jobsRun; }
    // Received characters not yet forming a line.
    const QByteArray &lineBuffer() const { return LineBuffer; }

private:
    void takeCharacter(char c);
    void processLine(const QByteArray &line);
    void runJob();
    bool runList(int count, const std::function<bool(int)> &runEntry);
    // The carrier as far as it can be told; notes DCD seen high.
    bool carrierPresent();
    // The call ended on carrier detect alone: hang up, then re-arm.
    void endLostCall();

    LineWait &m_wait;
    Reporter &m_reporter;
    ServerState &m_state;
    ModemControl &m_modem;
    ModemRecovery &m_recovery;
    PacketLink &m_link;
    DownloadJob &m_download;
    UploadJob &m_upload;
    const Configuration &m_config;
    std::function<void(bool)> m_jobObserver;
    QByteArray LineBuffer;
    bool m_inHandler = false;
    bool m_jobRunning = false;
    int m_jobsRun = 0;
    qint64 m_lastHeardAt = -1;
    qint64 m_lastRingAt = -1;
};

} // namespace Tarvo
