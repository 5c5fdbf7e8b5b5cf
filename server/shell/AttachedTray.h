// The tray when a server runs in another process (tarvod): the server
// window without a modem side of its own, attached to the server over the
// control channel (AttachedServer.h).
//
// The window is the same as when the tray runs the server; what differs is
// behind it. Its Start and Stop go to the server, its Settings opens the
// configuration window on the server's settings (RemoteSettings.h), and the
// pane shows the server's texts, which the server has logged already: they
// go to the pane alone. The window's own texts (its separator, a Settings
// OK) still go to the user's log.
//
// The tray's end is never the server's: Exit, the installer's requests to
// close (connectCloseRequestsAttached) and the session's end close the tray
// and send nothing. Once the window has begun to end (shutdownNow) a stop
// whose hang-up question was open when it began is not sent either: the
// question answered No by the ending must not turn into "stop once the call
// is over" for a server that stays. The window's requests therefore pass
// through a ModemService of the tray's own that asks the hang-up question
// itself and forwards the answer only while the tray lives.
//
// Given a SettingsMove, the tray offers once it is attached and nothing else
// is open to copy the user's own settings to the server (SettingsMove.h).
#pragma once

#include "AttachedServer.h"
#include "Configuration.h"
#include "RemoteSettings.h"
#include "Reporter.h"
#include "SettingsMove.h"
#include "frmServer.h"

#include <functional>

namespace Tarvo {

class AttachedTray
{
public:
    // The configuration window on the given settings; true after OK.
    using ConfigureStep =
        std::function<bool(QWidget *parent, Configuration &model, SettingsAccess &settings)>;

    AttachedTray(ServerState &state, LogFile &log, TrayIcon &tray, Prompter &prompter,
                 ConfigureStep configure, frmServer::AboutStep about);

    // Shows the window and starts attaching to the server at path.
    void start(const QString &path);

    // Offers the move at the first status after which no dialog is open.
    void offerSettingsMove(SettingsMove &move) { m_move = &move; }

    frmServer &window() { return m_window; }
    AttachedServer &server() { return m_server; }

private:
    // The window's modem side: the server, until the tray ends.
    class Forward final : public ModemService
    {
    public:
        Forward(AttachedServer &server, Prompter &prompter) : m_server(server), m_prompter(prompter)
        {
        }
        void InitializeModem() override;
        using ModemService::HangUp;
        void HangUp(CallAnswer answer) override;
        bool callUp() const override { return m_server.callUp(); }
        void askHangUpLater(std::function<void(bool yes)> answered) override;
        void letGo() { m_ended = true; }

    private:
        AttachedServer &m_server;
        Prompter &m_prompter;
        bool m_ended = false;
    };

    // The pane without the window's log behind it.
    class Pane final : public Reporter
    {
    public:
        explicit Pane(frmServer &window) : m_window(window) {}
        void AppendStatus(const QString &text, std::uint32_t colour) override;
        void clearStatus() override { m_window.clearStatus(); }
        void WriteLog(const QString &) override {}
        void SetTrayTip(const QString &state) override { m_window.SetTrayTip(state); }

    private:
        frmServer &m_window;
    };

    bool configure(QWidget *parent);
    void moveSettings();

    Prompter &m_prompter;
    ConfigureStep m_configure;
    Configuration m_config;
    frmServer m_window;
    Pane m_pane{m_window};
    AttachedServer m_server;
    Forward m_forward{m_server, m_prompter};
    RemoteSettings m_settings{m_server};
    SettingsMove *m_move = nullptr;
    bool m_moveDone = false; // offered, or found not due, in this run
};

} // namespace Tarvo
