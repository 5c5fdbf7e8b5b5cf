// The host's pieces put together: the wait, modem control, packet link, the
// two transfers, call handling and the readiness rule over one serial line,
// reporting through whatever Reporter, Prompter and ServerControls the owner
// gives.
//
// The server window and the headless server own one; the benchmark and the
// end-to-end tests own one with the headless stand-ins below. The owner decides how the line's
// receive and lost notifications reach calls() and modem(), and what ticks
// readiness() (a timer at its tickIntervalMs()).
#pragma once

#include "CallHandler.h"
#include "DownloadJob.h"
#include "LineWait.h"
#include "ModemControl.h"
#include "ModemReadiness.h"
#include "ModemRecovery.h"
#include "PacketLink.h"
#include "UploadJob.h"

#include <QStringList>
#include <functional>

namespace Tarvo {

class HostSession
{
public:
    HostSession(SerialLine &line, Waiter &waiter, Reporter &reporter, Prompter &prompter,
                ServerControls &controls, ServerState &state, const Configuration &config);

    LineWait &wait() { return m_wait; }
    ModemControl &modem() { return m_modem; }
    ModemRecovery &recovery() { return m_recovery; }
    PacketLink &link() { return m_link; }
    CallHandler &calls() { return m_calls; }
    ModemReadiness &readiness() { return m_readiness; }
    // Uploads record themselves here while they may change their target.
    void setJournal(UploadJournal *journal) { m_upload.setJournal(journal); }

    // Routes the line's notifications straight to call handling and the
    // modem control (what a host without a window wants).
    void connectLine();
    // Closes the port and reports it when the line was lost; call after an
    // operation of your own (InitializeModem) has returned.
    void settle();

private:
    LineWait m_wait;
    ModemControl m_modem;
    ModemRecovery m_recovery;
    PacketLink m_link;
    DownloadJob m_download;
    UploadJob m_upload;
    CallHandler m_calls;
    ModemReadiness m_readiness;
    bool m_inHandler = false;
};

// Stand-ins for the window when nobody watches: status goes to a sink
// function (a log file, stdout), questions are answered Yes, buttons are
// remembered but not drawn.
class HeadlessReporter final : public Reporter
{
public:
    explicit HeadlessReporter(std::function<void(const QString &)> log) : m_log(std::move(log)) {}

    void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) override;
    void clearStatus() override {}
    void WriteLog(const QString &text) override;
    void SetTrayTip(const QString &state) override
    {
        m_tip = state;
        ++m_tipChanges;
    }

    QString tip() const { return m_tip; }
    int tipChanges() const { return m_tipChanges; }
    QString failures() const { return m_failures; }

private:
    std::function<void(const QString &)> m_log;
    QString m_tip;
    QString m_failures;
    int m_tipChanges = 0;
};

class HeadlessPrompter final : public Prompter
{
public:
    bool askYesNo(const QString &) override { return true; }
    void inform(const QString &) override {}
    void warn(const QString &) override {}
    void beep() override {}
};

class HeadlessControls final : public ServerControls
{
public:
    void setStartStop(StartStop action) override { startStop = action; }
    void setStartStopEnabled(bool) override {}
    void setCloseCaption(const QString &) override {}
    void setSettingsEnabled(bool) override {}
    void setBusy(bool) override {}

    StartStop startStop = StartStop::Start;
};

} // namespace Tarvo
