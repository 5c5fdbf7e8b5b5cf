#include "AttachedTray.h"

#include "Prompter.h"
#include "StatusPane.h"

namespace Tarvo {

AttachedTray::AttachedTray(ServerState &state, LogFile &log, TrayIcon &tray, Prompter &prompter,
                           ConfigureStep configure, frmServer::AboutStep about)
    : m_prompter(prompter), m_configure(std::move(configure)),
      m_window(
          state, log, tray, prompter, m_config,
          [this](QWidget *parent) { return this->configure(parent); }, std::move(about)),
      m_server(m_pane, m_window, state, prompter)
{
    m_window.operations().attachModem(m_server);
    m_window.operations().setModemElsewhere();
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

void AttachedTray::Pane::AppendStatus(const QString &text, std::uint32_t colour)
{
    m_window.statusPane()->appendText(text, colour);
}

} // namespace Tarvo
