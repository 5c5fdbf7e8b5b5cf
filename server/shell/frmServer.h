// The server window: the status pane, Settings, Start/Stop and Hide/Exit,
// the tray icon with its menu, and the window's part of start and shutdown.
//
// It is the Reporter (pane, log, tray tip) and the ServerControls (captions,
// enabled states, hourglass) of the modem control and the call handling, so
// those are attached to its operations after construction. Everything else it
// works with comes in from outside: the flags, the log, the tray, the
// question boxes, and the configuration and About windows as plain steps,
// which lets tests run the window with stand-ins.
//
// Operations that wait (starting and stopping the modem, the job of a call)
// pump window events, so clicks arrive in the middle of them. What runs, what
// waits for it and what a click means then is kept by the window's
// OperationController (operations()); the window draws, forwards the clicks
// and shows the state.
//
// Without a tray on the desktop the window never hides: minimising, Hide and
// the close box leave it minimised on the task bar, and its title carries the
// tip text instead.
#pragma once

#include "OperationController.h"
#include "Reporter.h"
#include "ServerControls.h"

#include <QStringList>
#include <QWidget>
#include <functional>

class QMenu;
class QAction;
class QPushButton;

namespace Tarvo {

struct Configuration;
struct ServerState;
class LogFile;
class Prompter;
class StatusPane;
class TrayIcon;

class frmServer final : public QWidget,
                        public Reporter,
                        public ServerControls,
                        private OperationController::View
{
    Q_OBJECT

public:
    static constexpr int ActivationFallbackMs = 1000;
    using ConfigureStep = std::function<bool(QWidget *parent)>; // true after OK
    using AboutStep = std::function<void(QWidget *parent)>;

    static constexpr int ClientWidth = 374;  // 5610 twips
    static constexpr int ClientHeight = 221; // 3315 twips
    static constexpr int MaxTipLength = 63;

    frmServer(ServerState &state, LogFile &log, TrayIcon &tray, Prompter &prompter,
              const Configuration &config, ConfigureStep configure, AboutStep about,
              QWidget *parent = nullptr);
    ~frmServer() override;

    // The operations, the modem side attached to them and the line's
    // notifications that run inside them.
    OperationController &operations() { return m_operations; }
    // Runs once at the first activation, right after the run's separator
    // line, before the modem is started. What it returns goes to the log at
    // once and to the pane, in red, once the modem's start has cleared it.
    void setStartupCheck(std::function<QStringList()> check) { m_startupCheck = std::move(check); }
    // A note of start-up said with the check's own, in red at the first activation.
    void addStartupNote(const QString &note) { m_startupNotes += note; }

    bool isUnloaded() const { return m_unloaded; }
    // The configuration window is open over the server window.
    bool configuring() const { return m_configuring; }
    void setEndNow(std::function<void()> step) { m_endNow = std::move(step); }

    // "Tarvo - " + state, cut to what the tray holds.
    static QString tipText(const QString &state);
    QString trayTip() const { return m_tip; }
    QMenu *trayMenu() const { return m_menu; }
    StatusPane *statusPane() const { return m_pane; }

    // Asks "Exit Tarvo program?"; true for Yes.
    bool ConfirmExit();

    // Reporter
    void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) override;
    void clearStatus() override;
    void WriteLog(const QString &text) override;
    void SetTrayTip(const QString &state) override;

    // ServerControls
    void setStartStop(StartStop action) override;
    void setStartStopEnabled(bool enabled) override;
    void setCloseCaption(const QString &caption) override;
    void setSettingsEnabled(bool enabled) override;
    void setBusy(bool busy) override;

public slots:
    // Centres, clears the flags, shows the window and adds the tray icon.
    void Form_Load();
    void Form_Activate();
    void cmdWaitingCall_Click();
    void cmdSettings_Click();
    void cmdClose_Click();
    void mPopRestore_Click();
    void mPopAbout_Click();
    void mPopExit_Click();
    // Hangs up and removes the tray icon; once.
    void Form_Unload();
    // Ends the program in order without asking anything (a termination
    // signal, the session's end), once: reason, when given, goes to the pane
    // and the log; an open question is answered No; the step set with
    // setEndNow() runs at once, for what must be done before this returns,
    // as the process may be ended right after (the transfer put back, the
    // modem hung up, the port closed); then a running call's job is cut
    // short, and the window unloads once it has unwound.
    void shutdownNow(const QString &reason = {});

signals:
    // The window has gone: the program may end.
    void unloaded();

protected:
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildControls();
    void buildMenu();
    void centreOnScreen();
    void hideWindow();
    void updateTitle();
    // OperationController::View
    void closeByProgram() override;

    ServerState &m_state;
    LogFile &m_log;
    TrayIcon &m_tray;
    const Configuration &m_config;
    ConfigureStep m_configure;
    AboutStep m_about;
    std::function<QStringList()> m_startupCheck;
    QStringList m_startupNotes;
    std::function<void()> m_endNow;
    OperationController m_operations;

    StatusPane *m_pane = nullptr;
    QPushButton *m_cmdSettings = nullptr;
    QPushButton *m_cmdWaitingCall = nullptr;
    QPushButton *m_cmdClose = nullptr;
    QMenu *m_menu = nullptr;

    QString TrayState; // the state last shown in the tray tip
    QString m_tip;
    bool m_programClose = false;
    bool m_unloaded = false;
    bool m_endedNow = false; // shutdownNow() has run
    bool m_busy = false;
    bool m_configuring = false;
};

} // namespace Tarvo
