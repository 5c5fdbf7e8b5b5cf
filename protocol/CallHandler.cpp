#include "CallHandler.h"

#include "Configuration.h"
#include "DownloadJob.h"
#include "ModemControl.h"
#include "ModemRecovery.h"
#include "PacketLink.h"
#include "UploadJob.h"

namespace Tarvo {

namespace {
const QString Success = QStringLiteral("\r\nSUCCESS\r\n");
const QString Error = QStringLiteral("\r\nERROR\r\n");
const QString AllDone = QStringLiteral("\r\nALL DONE\r\n");
} // namespace

CallHandler::CallHandler(LineWait &wait, Reporter &reporter, ServerState &state,
                         ModemControl &modem, ModemRecovery &recovery, PacketLink &link,
                         DownloadJob &download, UploadJob &upload, const Configuration &config)
    : m_wait(wait), m_reporter(reporter), m_state(state), m_modem(modem), m_recovery(recovery),
      m_link(link), m_download(download), m_upload(upload), m_config(config)
{
}

void CallHandler::HandleCommEvent()
{
    // A notification arrives once per chunk of data, so drain what is
    // buffered one character at a time. The loop stops as soon as a line
    // leaves the port in job mode (the rest is the job's), and goes on after
    // a job has restored idle mode, since no new notification may come for
    // bytes that are already buffered. A closed line reads nothing.
    if (m_inHandler)
        return;
    m_inHandler = true;
    SerialLine &line = m_wait.line();
    while (!line.failed() && line.mode() == SerialLine::Mode::Idle) {
        const QByteArray one = line.read();
        if (one.isEmpty())
            break;
        takeCharacter(one.at(0));
    }
    m_inHandler = false;
}

void CallHandler::takeCharacter(char c)
{
    QByteArray &buffer = LineBuffer;
    buffer += c;
    m_lastHeardAt = m_wait.waiter().nowMs();
    // Noise without CR LF would otherwise grow the buffer for ever; the
    // newest characters are the ones that can still end a line.
    if (buffer.size() > MaxLineBuffer)
        buffer.remove(0, buffer.size() - MaxLineBuffer);

    // A modem result comes as CR LF, text, CR LF: the leading pair alone is
    // not a line and becomes part of the one that follows.
    if (!buffer.endsWith("\r\n") || buffer == "\r\n")
        return;

    QByteArray line = buffer;
    line.replace("\r\n", "");
    // Emptied first: what a hang-up inside the line's handling hands back
    // (a new call's lines) is assembled afresh.
    LineBuffer.clear();
    processLine(line);
}

void CallHandler::takeReceived(const QByteArray &bytes)
{
    for (const char c : bytes)
        takeCharacter(c);
}

void CallHandler::processLine(const QByteArray &bytes)
{
    const QString line = QString::fromLatin1(bytes);
    const QString shown = line + QLatin1String(CrLf);
    if (line.contains(QLatin1String("RING")))
        m_lastRingAt = m_wait.waiter().nowMs();
    if (m_recovery.takeLateReply(bytes))
        return;

    // "RING" is tested first only so that it is shown like any other line,
    // even when the same line also carries "CONNECT".
    if (!line.contains(QLatin1String("RING"))) {
        if (line.contains(QLatin1String("CONNECT"))) {
            m_reporter.AppendStatus(shown);
            m_reporter.SetTrayTip(line);
            m_state.Connected = true;
            m_lastRingAt = -1; // the ringing was answered
            m_wait.resetCarrier();
            carrierPresent();
            return;
        }
        if (line.contains(QLatin1String("Portable ready"))) {
            m_reporter.clearStatus();
            m_reporter.AppendStatus(shown);
            carrierPresent();
            runJob();
            return;
        }
        if (line.contains(QLatin1String("NO CARRIER"))) {
            m_reporter.clearStatus();
            m_reporter.AppendStatus(shown);
            m_reporter.SetTrayTip(line);
            m_state.Connected = false;
            m_wait.resetCarrier();
            m_modem.StartAutoAnswer();
            return;
        }
    }
    m_reporter.clearStatus();
    m_reporter.AppendStatus(shown);
    m_reporter.SetTrayTip(line);
    if (bytes == "OK") {
        m_state.Connected = false;
        m_wait.resetCarrier();
        m_modem.modemReset();
    }
}

void CallHandler::runJob()
{
    SerialLine &line = m_wait.line();
    m_jobRunning = true;
    if (m_jobObserver)
        m_jobObserver(true);
    line.setMode(SerialLine::Mode::Job);
    m_wait.beginHangUpWatch();
    m_wait.waiter().sleepMs(JobDelayMs);

    switch (m_config.JobType) {
    case DownloadOnly:
        if (RunDownloadList())
            m_link.SendPacket(AllDone);
        break;
    case UploadOnly:
        if (RunUploadList())
            m_link.SendPacket(AllDone);
        break;
    case DownloadAndUpload:
        if (RunDownloadList() && RunUploadList())
            m_link.SendPacket(AllDone);
        break;
    default:
        break;
    }

    line.setMode(SerialLine::Mode::Idle);
    const LineWait::CallEnd end = m_wait.endHangUpWatch();
    m_jobRunning = false;
    ++m_jobsRun;
    if (m_jobObserver)
        m_jobObserver(false);

    // A hang-up in the middle of a job is read by the job's own polls, so
    // its "NO CARRIER" never becomes a line: finish the call as that line
    // would have. A carrier that is only dipping is watched on between jobs.
    if (end == LineWait::CallEnd::NoCarrier)
        processLine("NO CARRIER");
    else if (end == LineWait::CallEnd::CarrierDropped)
        endLostCall();
    else
        watchCall();
}

void CallHandler::watchCall()
{
    if (m_state.Connected && !m_jobRunning && m_wait.line().isOpen() && m_wait.carrierGone())
        endLostCall();
}

void CallHandler::endLostCall()
{
    m_reporter.clearStatus();
    m_reporter.AppendStatus(QStringLiteral("Carrier lost") + QLatin1String(CrLf));
    m_reporter.SetTrayTip(QStringLiteral("Carrier lost"));
    QByteArray other;
    const ModemRecovery::HangUp end = m_recovery.hangUpLostCall(other);
    m_state.Connected = false;
    m_wait.resetCarrier();
    SerialLine &line = m_wait.line();
    if (!line.isOpen() || m_wait.aborted())
        return;
    // Armed only once the call is known gone; after a new call's RING the
    // modem is left to answer it, and after a failed hang-up to recovery.
    if (end == ModemRecovery::HangUp::Down)
        m_modem.StartAutoAnswer();
    else
        line.setMode(SerialLine::Mode::Idle);
    takeReceived(other);
}

bool CallHandler::carrierPresent()
{
    const SerialLine &line = m_wait.line();
    if (!line.isOpen() || !line.hasModemLines())
        return m_state.Connected;
    const bool gone = m_wait.carrierGone();
    return m_wait.carrierSeen() ? !gone : m_state.Connected;
}

bool CallHandler::RunDownloadList()
{
    return runList(m_config.DownloadCount, [this](int i) {
        return m_download.RunDownloadJob(m_config.DownloadList.at(std::size_t(i)));
    });
}

bool CallHandler::RunUploadList()
{
    return runList(m_config.UploadCount, [this](int i) {
        return m_upload.RunUploadJob(m_config.UploadList.at(std::size_t(i)));
    });
}

bool CallHandler::runList(int count, const std::function<bool(int)> &runEntry)
{
    for (int index = 0; index < count; ++index) {
        if (!runEntry(index)) {
            // With the carrier gone there is nobody left to tell; a line
            // without modem-status signals shows it only by the watch.
            if (!m_wait.carrierLost() && carrierPresent())
                m_link.SendPacket(Error);
            return false;
        }
        // The next entry is tried even if this acknowledgement got lost.
        m_link.SendPacket(Success);
    }
    return true;
}

} // namespace Tarvo
