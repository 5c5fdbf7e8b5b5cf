// The server without a window: what tarvod runs, and what a control client
// drives through ControlTarget. It is the front the host's wiring joins
// (ServerWiring.h): the operations and the orderly end are its own; the
// texts go to a HostReporter (the log file and whatever is added to it);
// questions are never asked (a client's answers come in as arguments).
//
// serve() is the first activation: the run's separator line, the journal's
// recovery of interrupted uploads, then the settings and, when they can be
// served, the modem's start, all before the first call. The settings file
// is read at serve(), start() and recheck(), and when a client saves
// settings; a file that is missing, unreadable or holds values that cannot
// be served is said in red, and the server keeps running without a port
// until settings that can be served arrive by one of those ways.
//
// The settings are a file, or on Windows a registry key (the service's is
// HKLM\SOFTWARE\Tarvo; SettingsStore::ServerLocation).
//
// The serial device a server uses is claimed (PortClaim.h), so that a
// second server set to the same device is refused with a clear reason
// rather than fighting over it; claimPort() tells at start.
//
// The end (closeWhenIdle(), shutdownNow(), a termination signal) hangs up,
// disarms and closes the port, then emits unloaded().
#pragma once

#include "ControlTarget.h"
#include "HostReporter.h"
#include "HostSession.h"
#include "OperationController.h"
#include "PortClaim.h"
#include "QtSerialLine.h"
#include "ServerState.h"
#include "SettingsStore.h"
#include "ShutdownSignals.h"
#include "UploadJournal.h"

#include <QObject>
#include <QStringList>
#include <functional>

namespace Tarvo {

class HeadlessServer final : public QObject, public ControlTarget, private OperationController::View
{
    Q_OBJECT

public:
    HeadlessServer(HostReporter &reporter, UploadJournal &journal, const QString &settingsPath,
                   QObject *parent = nullptr);
    ~HeadlessServer() override;

    // The first activation, once: recovery, settings, the modem's start.
    void serve();
    // Reads the settings afresh; then, when they can be served, claims their
    // device: false with the reason when another server holds it.
    bool claimPort(QString &error);

    // ControlTarget
    ControlStatus status() const override;
    ControlResult start() override;
    ControlResult stop(CallOnStop call) override;
    ControlResult recheck() override;
    ControlResult closeWhenIdle() override;
    QMap<QString, QString> settings() const override;
    ControlResult saveSettings(const QMap<QString, QString> &values) override;

    // What the wiring asks of a front (ServerWiring.h).
    OperationController &operations() { return m_operations; }
    bool configuring() const { return false; }
    void setStartupCheck(std::function<QStringList()> check) { m_startupCheck = std::move(check); }
    void setEndNow(std::function<void()> step) { m_endNow = std::move(step); }
    void shutdownNow(const QString &reason = {});

    HostSession &session() { return m_session; }
    const ServerState &state() const { return m_state; }
    bool isUnloaded() const { return m_unloaded; }
    // The settings' word on keeping the PC awake while armed, read afresh.
    bool keepAwakeWhileArmed() const { return m_store.keepAwakeEnabled(); }

signals:
    // The server has ended: the program may end.
    void unloaded();

private:
    // The window's buttons, remembered for the status.
    class Controls final : public ServerControls
    {
    public:
        void setStartStop(StartStop action) override { stopOffered = action == StartStop::Stop; }
        void setStartStopEnabled(bool) override {}
        void setCloseCaption(const QString &) override {}
        void setSettingsEnabled(bool) override {}
        void setBusy(bool) override {}
        bool stopOffered = false;
    };

    bool loadSettings();
    ControlResult busy() const;
    ControlResult refused(const QString &reason);
    QString startModem();
    ControlResult armedResult() const;
    // OperationController::View
    void closeByProgram() override;
    void setSettingsEnabled(bool) override {}

    HostReporter &m_reporter;
    UploadJournal &m_journal;
    mutable SettingsStore m_store;
    QString m_settingsPath;
    Configuration m_config;
    QString m_settingsProblem;
    ServerState m_state;
    HeadlessPrompter m_prompter;
    Controls m_controls;
    OperationController m_operations;
    QtSerialLine m_line;
    RealWaiter m_waiter;
    HostSession m_session;
    ShutdownSignals m_ends;
    PortClaim m_portClaim;
    std::function<QStringList()> m_startupCheck;
    std::function<void()> m_endNow;
    bool m_served = false;
    bool m_started = false; // Start (or the first activation), not Stop, last
    bool m_endedNow = false;
    bool m_unloaded = false;
};

} // namespace Tarvo
