// The tray's side of a server that runs in another process (tarvod): the
// window's modem side and the pane's source, over the control channel.
//
// attach() opens the channel and keeps trying every RetryMs while it does
// not answer, refuses, or ends; each new reason is said once in red in the
// pane, and nothing else is tried: the port is the server's alone. Once
// attached, the server's feed fills the pane (its backlog, then live; pane
// texts with their colours, clears; the log-only texts are the server's
// log's), its state becomes the tray tip, and every state entry fetches the
// status, which sets the window's buttons as the modem control would:
// Start/Stop from whether the server means to serve, "Hide" while its port
// is open. A channel that ends and comes back resumes after the last entry
// seen, so the pane gets no line twice.
//
// As the window's ModemService, the window's Start sends start and its Stop
// sends stop; the questions stay the window's ("Stop Tarvo ?" before, and
// "Hang up (disconnect) modem?" here when the last status had a call up),
// their answer goes with the stop. Requests do not wait: Start/Stop is
// disabled until the answer and the status after it have come. A refusal
// is said in red.
//
// The settings are read and saved with a bounded wait (settings(),
// saveSettings()): the configuration window is modal and its OK must know
// whether the save was taken before it closes. A save the server refuses
// because it wants an administrator is made again through the elevated
// helper (ElevatedSave.h, Windows), whose result is then the save's; any
// other answer stands as it is.
#pragma once

#include "ControlClient.h"
#include "ElevatedSave.h"
#include "ModemService.h"

#include <QMap>
#include <QObject>
#include <QString>

class QTimer;

namespace Tarvo {

class Prompter;
class Reporter;
class ServerControls;
struct ServerState;

class AttachedServer final : public QObject, public ModemService
{
    Q_OBJECT
public:
    static constexpr int RetryMs = 3000;
    static constexpr int SettingsWaitMs = 10000;

    // pane gets the server's texts (and says nothing to a log of its own).
    AttachedServer(Reporter &pane, ServerControls &controls, ServerState &state, Prompter &prompter,
                   QObject *parent = nullptr);

    void attach(const QString &path);
    bool attached() const { return m_client.isReady(); }
    QString path() const { return m_path; }
    const ControlStatus &lastStatus() const { return m_status; }
    void setRetryInterval(int ms);

    // ModemService
    void InitializeModem() override;
    using ModemService::HangUp;
    void HangUp(CallAnswer answer) override;
    bool callUp() const override { return m_client.isReady() && m_status.connected; }
    void askHangUpLater(std::function<void(bool yes)> answered) override;

    // The server's settings by "Group/Key"; false with the reason when they
    // cannot be had.
    bool settings(QMap<QString, QString> &values, QString &error);
    ControlResult saveSettings(const QMap<QString, QString> &values);
    // The system's by default; none to save only directly.
    void setElevatedSave(std::unique_ptr<ElevatedSave> elevated)
    {
        m_elevated = std::move(elevated);
    }

signals:
    // The status has been applied to the window (after every answer to status).
    void statusApplied();

private:
    void onReady();
    void onLost(const QString &reason);
    void onEntry(const FeedEntry &entry);
    void onAnswer(int id, const QJsonObject &answer);
    void askStatus();
    void applyStatus(const ControlStatus &status);
    void sendOperation(int id);
    void retry();
    void setControlsEnabled(bool enabled);

    Reporter &m_pane;
    ServerControls &m_controls;
    ServerState &m_state;
    Prompter &m_prompter;
    ControlClient m_client;
    QTimer *m_retry;
    QString m_path;
    QString m_said; // the reason last said in red; empty while attached
    bool m_inBacklog = false;
    bool m_tipSeen = false;       // the feed has set the tip
    bool m_tipFromStatus = false; // the next status sets it, as the feed did not
    int m_statusId = 0;
    int m_operationId = 0; // a start or stop waiting for its answer
    ControlStatus m_status;
    std::unique_ptr<ElevatedSave> m_elevated = systemElevatedSave();
};

} // namespace Tarvo
