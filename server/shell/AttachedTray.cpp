#include "AttachedTray.h"

#include "ModemControl.h"
#include "Prompter.h"
#include "StatusPane.h"

#include <QApplication>
#include <QTimer>

namespace Tarvo {

AttachedTray::AttachedTray(ServerState &state, LogFile &log, TrayIcon &tray, Prompter &prompter,
                           ConfigureStep configure, frmServer::AboutStep about)
    : m_prompter(prompter), m_configure(std::move(configure)),
      m_window(
          state, log, tray, prompter, m_config,
          [this](QWidget *parent) { return this->configure(parent); }, std::move(about)),
      m_server(m_pane, m_window, state, prompter)
{
    m_window.operations().attachModem(m_forward);
    m_window.operations().setModemElsewhere();
    m_window.setEndNow([this] { m_forward.letGo(); });
    QObject::connect(&m_server, &AttachedServer::statusApplied, &m_window, [this] {
        if (m_move && !m_moveDone)
            QTimer::singleShot(0, &m_window, [this] { moveSettings(); });
    });
}

void AttachedTray::start(const QString &path)
{
    m_window.Form_Load();
    m_server.attach(path);
}

bool AttachedTray::configure(QWidget *parent)
{
    if (QString error; !m_settings.fetch(error)) {
        m_prompter.warn(QStringLiteral("The server's settings cannot be read: %1").arg(error));
        return false;
    }
    return m_configure && m_configure(parent, m_config, m_settings);
}

void AttachedTray::moveSettings()
{
    // Not over another window or question, nor while the tray ends.
    if (m_moveDone || m_window.isUnloaded() || m_window.configuring() ||
        QApplication::activeModalWidget())
        return;
    m_moveDone = true;
    if (QString error; !m_move->due() || !m_settings.fetch(error))
        return;
    const bool moved = m_move->offer(m_prompter, m_settings, [this](SettingsAccess &settings) {
        return m_configure && m_configure(&m_window, m_config, settings);
    });
    if (moved)
        m_window.AppendStatus(QStringLiteral("Your own settings have been copied to the server.") +
                              QLatin1String(CrLf));
}

void AttachedTray::Forward::InitializeModem()
{
    if (!m_ended)
        m_server.InitializeModem();
}

void AttachedTray::Forward::HangUp(CallAnswer answer)
{
    if (m_ended || !m_server.attached())
        return;
    if (answer == CallAnswer::Ask)
        answer = callUp() && !m_prompter.askYesNo(ModemControl::hangUpQuestion())
                     ? CallAnswer::KeepCall
                     : CallAnswer::EndCall;
    // The question may have been open while the tray began to end.
    if (!m_ended)
        m_server.HangUp(answer);
}

void AttachedTray::Forward::askHangUpLater(std::function<void(bool yes)> answered)
{
    // What the answer leads to comes back through HangUp, which looks again.
    m_server.askHangUpLater(std::move(answered));
}

void AttachedTray::Pane::AppendStatus(const QString &text, std::uint32_t colour)
{
    m_window.statusPane()->appendText(text, colour);
}

} // namespace Tarvo
