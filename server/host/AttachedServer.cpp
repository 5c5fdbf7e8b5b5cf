#include "AttachedServer.h"

#include "ModemControl.h"
#include "PeerAccess.h"
#include "Prompter.h"
#include "Reporter.h"
#include "ServerControls.h"
#include "ServerState.h"

#include <QTimer>
#include <utility>

namespace Tarvo {

namespace {
QString line(const QString &text)
{
    return text + QLatin1String(CrLf);
}
} // namespace

AttachedServer::AttachedServer(Reporter &pane, ServerControls &controls, ServerState &state,
                               Prompter &prompter, QObject *parent)
    : QObject(parent), m_pane(pane), m_controls(controls), m_state(state), m_prompter(prompter),
      m_client(QStringLiteral("tarvo tray")), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(RetryMs);
    connect(m_retry, &QTimer::timeout, this, &AttachedServer::retry);
    connect(&m_client, &ControlClient::ready, this, &AttachedServer::onReady);
    connect(&m_client, &ControlClient::failed, this, &AttachedServer::onLost);
    connect(&m_client, &ControlClient::closed, this, &AttachedServer::onLost);
    connect(&m_client, &ControlClient::entry, this, &AttachedServer::onEntry);
    connect(&m_client, &ControlClient::answered, this, &AttachedServer::onAnswer);
    connect(&m_client, &ControlClient::backlogDone, this, [this] {
        m_inBacklog = false;
        m_tipFromStatus = !m_tipSeen;
        askStatus();
    });
    connect(&m_client, &ControlClient::gap, this, [this] {
        m_pane.AppendStatus(line(QStringLiteral("Some of the server's lines are missing here.")),
                            ColourRed);
    });
}

void AttachedServer::setRetryInterval(int ms)
{
    m_retry->setInterval(ms);
}

void AttachedServer::attach(const QString &path)
{
    m_path = path;
    setControlsEnabled(false);
    m_client.open(path);
}

void AttachedServer::retry()
{
    if (!m_client.isReady())
        m_client.open(m_path);
}

void AttachedServer::onReady()
{
    if (!m_said.isEmpty())
        m_pane.AppendStatus(line(QStringLiteral("Attached to the server at %1.").arg(m_path)));
    m_said.clear();
    m_inBacklog = true;
    // After a lost channel, only what came since: no line twice.
    if (m_client.lastSeq() > 0)
        m_client.watch(m_client.lastSeq());
    else
        m_client.watch();
}

void AttachedServer::onLost(const QString &reason)
{
    m_statusId = m_operationId = 0;
    // Nothing is known of the port now: Exit, not Hide, and no Start or Stop.
    m_state = ServerState();
    m_controls.setCloseCaption(QStringLiteral("Exit"));
    setControlsEnabled(false);
    if (reason != m_said) {
        m_said = reason;
        m_pane.AppendStatus(
            line(QStringLiteral("The server does not answer (%1); trying again.").arg(reason)),
            ColourRed);
    }
    m_retry->start();
}

void AttachedServer::onEntry(const FeedEntry &entry)
{
    switch (entry.kind) {
    case FeedEntry::Kind::Pane:
        m_pane.AppendStatus(entry.text, entry.colour);
        break;
    case FeedEntry::Kind::Clear:
        m_pane.clearStatus();
        break;
    case FeedEntry::Kind::State:
        m_tipSeen = true;
        m_pane.SetTrayTip(entry.text);
        // The buttons follow the state's changes; the backlog's end asks once.
        if (!m_inBacklog)
            askStatus();
        break;
    case FeedEntry::Kind::Log:
        break; // the server's log has it
    }
}

void AttachedServer::askStatus()
{
    if (m_client.isReady() && m_statusId == 0)
        m_statusId = m_client.status();
}

void AttachedServer::onAnswer(int id, const QJsonObject &answer)
{
    if (id == m_statusId) {
        m_statusId = 0;
        applyStatus(ControlClient::statusOf(answer));
        return;
    }
    if (id != m_operationId)
        return;
    m_operationId = 0;
    if (const ControlResult result = ControlClient::resultOf(answer); !result.ok)
        m_pane.AppendStatus(line(result.message), ColourRed);
    askStatus();
}

void AttachedServer::applyStatus(const ControlStatus &status)
{
    m_status = status;
    m_state.PortOpened = status.portOpen;
    m_state.AutoAnswerOn = status.armed;
    m_state.Connected = status.connected;
    // The feed's state entries make the tip; the status only fills in one
    // that the backlog no longer held.
    if (std::exchange(m_tipFromStatus, false) && !status.state.isEmpty())
        m_pane.SetTrayTip(status.state);
    m_controls.setStartStop(status.started ? ServerControls::StartStop::Stop
                                           : ServerControls::StartStop::Start);
    m_controls.setCloseCaption(status.portOpen ? QStringLiteral("Hide") : QStringLiteral("Exit"));
    setControlsEnabled(m_operationId == 0);
    emit statusApplied();
}

void AttachedServer::setControlsEnabled(bool enabled)
{
    m_controls.setStartStopEnabled(enabled);
    m_controls.setSettingsEnabled(enabled);
}

void AttachedServer::sendOperation(int id)
{
    m_operationId = id;
    setControlsEnabled(false);
}

void AttachedServer::InitializeModem()
{
    if (m_client.isReady() && m_operationId == 0)
        sendOperation(m_client.start());
}

void AttachedServer::HangUp(CallAnswer answer)
{
    if (!m_client.isReady() || m_operationId != 0)
        return;
    if (answer == CallAnswer::Ask)
        answer = callUp() && !m_prompter.askYesNo(ModemControl::hangUpQuestion())
                     ? CallAnswer::KeepCall
                     : CallAnswer::EndCall;
    sendOperation(m_client.stop(answer == CallAnswer::KeepCall
                                    ? ControlTarget::CallOnStop::KeepCall
                                    : ControlTarget::CallOnStop::EndCall));
}

void AttachedServer::askHangUpLater(std::function<void(bool yes)> answered)
{
    m_prompter.askYesNoLater(ModemControl::hangUpQuestion(), std::move(answered));
}

bool AttachedServer::settings(QMap<QString, QString> &values, QString &error)
{
    if (!m_client.isReady()) {
        error = QStringLiteral("The server at %1 does not answer.").arg(m_path);
        return false;
    }
    const QJsonObject answer = m_client.waitForAnswer(m_client.settings(), SettingsWaitMs);
    if (const ControlResult result = ControlClient::resultOf(answer); !result.ok) {
        error = result.message;
        return false;
    }
    values = ControlClient::settingsOf(answer);
    return true;
}

ControlResult AttachedServer::saveSettings(const QMap<QString, QString> &values)
{
    if (!m_client.isReady())
        return {false, QStringLiteral("the server does not answer")};
    const ControlResult result = ControlClient::resultOf(
        m_client.waitForAnswer(m_client.saveSettings(values), SettingsWaitMs));
    if (!result.ok && result.message == QLatin1String(Refusal::SaveNeedsAdministrator) &&
        m_elevated)
        return m_elevated->save(m_path, values);
    return result;
}

} // namespace Tarvo
