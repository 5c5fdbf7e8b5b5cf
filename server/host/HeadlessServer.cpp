#include "HeadlessServer.h"

#include "ServerWiring.h"
#include "SettingsValues.h"

#include <QFileInfo>
#include <utility>

namespace Tarvo {

namespace {

const QString Separator =
    QStringLiteral(" ") + QString(48, QLatin1Char('-')) + QStringLiteral(" ") + QLatin1String(CrLf);

QString line(const QString &text)
{
    return text + QLatin1String(CrLf);
}

} // namespace

HeadlessServer::HeadlessServer(HostReporter &reporter, UploadJournal &journal,
                               const QString &settingsPath, QObject *parent)
    : QObject(parent), m_reporter(reporter), m_journal(journal),
      m_store(SettingsStore::ServerLocation{settingsPath}), m_settingsPath(settingsPath),
      m_operations(m_prompter, *this),
      m_line([this](int comNumber) { return m_store.portDevice(comNumber); }),
      m_session(m_line, m_waiter, m_reporter, m_prompter, m_controls, m_state, m_config)
{
    connectServer(*this, m_session, m_line, m_journal, m_ends);
    m_session.readiness().setRetryEnabled([this] { return m_store.retryEnabled(); });
}

HeadlessServer::~HeadlessServer() = default;

bool HeadlessServer::loadSettings()
{
    m_settingsProblem.clear();
    const QFileInfo file(m_settingsPath);
    if (m_store.inRegistry()) {
        if (!m_store.exists())
            m_settingsProblem = QStringLiteral("There is no settings key %1.").arg(m_settingsPath);
    } else if (!file.exists())
        m_settingsProblem = QStringLiteral("There is no settings file %1.").arg(m_settingsPath);
    else if (!file.isReadable())
        m_settingsProblem =
            QStringLiteral("The settings file %1 cannot be read.").arg(m_settingsPath);
    if (!m_settingsProblem.isEmpty())
        return false;
    Configuration model;
    m_store.LoadSettings(model);
    model.deriveCounts();
    m_settingsProblem = SettingsValues::problem(model);
    if (!m_settingsProblem.isEmpty()) {
        m_settingsProblem = QStringLiteral("The settings in %1 cannot be served: %2")
                                .arg(m_settingsPath, m_settingsProblem);
        return false;
    }
    m_config = model;
    // An entry whose name cannot travel is refused at the call too; with no
    // window to show it, the log says so whenever the settings are read.
    for (const QString &refusal : m_store.refusedNames())
        m_reporter.AppendStatus(line(refusal), ColourRed);
    return true;
}

bool HeadlessServer::claimPort(QString &error)
{
    if (!loadSettings())
        return true; // nothing to claim until settings name a device
    const QString device = m_store.portDevice(m_config.ModemPort);
    if (m_portClaim.claim(device))
        return true;
    error =
        QStringLiteral("Another Tarvo server uses %1 (COM%2).").arg(device).arg(m_config.ModemPort);
    return false;
}

ControlResult HeadlessServer::refused(const QString &reason)
{
    m_reporter.AppendStatus(line(reason), ColourRed);
    return {false, reason};
}

ControlResult HeadlessServer::busy() const
{
    return {false, QStringLiteral("Another operation is running: try again when it has ended.")};
}

void HeadlessServer::serve()
{
    if (std::exchange(m_served, true) || m_unloaded)
        return;
    m_reporter.WriteLog(Separator);
    const QStringList notes = m_startupCheck ? m_startupCheck() : QStringList();
    for (const QString &note : notes)
        m_reporter.AppendStatus(line(note), ColourRed);
    m_started = true;
    startModem();
}

// With settings that can be served and a device of its own, the modem is
// started inside the guard; otherwise the reason is said in red, nothing
// runs, and the reason is returned.
QString HeadlessServer::startModem()
{
    QString error;
    if (!claimPort(error))
        return refused(error).message;
    if (!m_settingsProblem.isEmpty())
        return refused(m_settingsProblem).message;
    m_operations.runOperation([this] { m_operations.initializeModem(); });
    return {};
}

ControlResult HeadlessServer::armedResult() const
{
    if (m_state.AutoAnswerOn)
        return {};
    return {false, QStringLiteral("The modem could not be started: ") + m_reporter.trayState()};
}

ControlStatus HeadlessServer::status() const
{
    ControlStatus s;
    s.state = m_reporter.trayState();
    s.tip = m_reporter.tip();
    s.portOpen = m_state.PortOpened;
    s.armed = m_state.AutoAnswerOn;
    s.connected = m_state.Connected;
    s.operationRunning = m_operations.operationRunning();
    s.started = m_started;
    s.settingsValid = m_settingsProblem.isEmpty();
    s.settingsProblem = m_settingsProblem;
    return s;
}

ControlResult HeadlessServer::start()
{
    if (m_operations.unloading())
        return {false, QStringLiteral("The server is ending.")};
    if (m_operations.operationRunning())
        return busy();
    m_started = true;
    if (m_state.PortOpened)
        return {true, QStringLiteral("The server is already started.")};
    if (const QString why = startModem(); !why.isEmpty())
        return {false, why};
    return armedResult();
}

ControlResult HeadlessServer::stop(CallOnStop call)
{
    if (m_operations.unloading())
        return {false, QStringLiteral("The server is ending.")};
    m_started = false;
    const bool running = m_operations.operationRunning() || m_session.modem().callUp();
    m_operations.stopAsAnswered(call == CallOnStop::EndCall ? ModemService::CallAnswer::EndCall
                                                            : ModemService::CallAnswer::KeepCall);
    if (running && m_state.PortOpened)
        return {true, call == CallOnStop::EndCall
                          ? QStringLiteral("The call is ended; the modem stops once its job has.")
                          : QStringLiteral("The modem stops once the call has ended.")};
    return {true, QString()};
}

ControlResult HeadlessServer::recheck()
{
    if (m_operations.unloading())
        return {false, QStringLiteral("The server is ending.")};
    if (m_operations.operationRunning() || m_state.Connected)
        return busy();
    m_started = true;
    if (!m_state.PortOpened) {
        if (const QString why = startModem(); !why.isEmpty())
            return {false, why};
    } else {
        QString error;
        if (!claimPort(error))
            return refused(error);
        if (!m_settingsProblem.isEmpty())
            return refused(m_settingsProblem);
        m_operations.runOperation([this] { m_session.recovery().restart(1, 0); });
    }
    return armedResult();
}

ControlResult HeadlessServer::closeWhenIdle()
{
    m_operations.closeWhenIdle();
    return {true, m_unloaded ? QStringLiteral("The server has ended.")
                             : QStringLiteral("The server ends once no call is up.")};
}

QMap<QString, QString> HeadlessServer::settings() const
{
    Configuration model;
    m_store.LoadSettings(model);
    return SettingsValues::read(m_store, model);
}

ControlResult HeadlessServer::saveSettings(const QMap<QString, QString> &values)
{
    // A call's job reads the model: it changes between jobs only.
    if (m_operations.operationRunning() || m_state.Connected)
        return {false,
                QStringLiteral("A call is up: the settings can be saved once it has ended.")};
    Configuration model;
    m_store.LoadSettings(model);
    QString error;
    if (!SettingsValues::apply(values, m_store, model, error))
        return {false, error};
    if (!m_store.SaveSettings(model, error))
        return {false,
                QStringLiteral("Cannot save the settings in %1: %2").arg(m_settingsPath, error)};
    m_reporter.WriteLog(line(QStringLiteral("Settings saved in %1.").arg(m_settingsPath)));
    // Settings that can be served at last: the server serves, as it was meant to.
    if (!loadSettings())
        return {false, m_settingsProblem};
    if (m_started && !m_state.PortOpened && !m_operations.operationRunning())
        startModem();
    return {true, QStringLiteral("Saved.")};
}

void HeadlessServer::shutdownNow(const QString &reason)
{
    if (m_unloaded || std::exchange(m_endedNow, true))
        return;
    if (!reason.isEmpty())
        m_reporter.AppendStatus(QLatin1String(CrLf) + line(reason));
    if (m_endNow)
        m_endNow();
    m_operations.shutdown();
}

void HeadlessServer::closeByProgram()
{
    if (!m_operations.unload())
        return;
    m_unloaded = true;
    emit unloaded();
}

} // namespace Tarvo
