#include "HostSession.h"

namespace Tarvo {

HostSession::HostSession(SerialLine &line, Waiter &waiter, Reporter &reporter, Prompter &prompter,
                         ServerControls &controls, ServerState &state, const Configuration &config)
    : m_wait(line, waiter), m_modem(m_wait, reporter, prompter, controls, state, config),
      m_recovery(m_modem), m_link(m_wait), m_download(m_link, reporter), m_upload(m_link, reporter),
      m_calls(m_wait, reporter, state, m_modem, m_recovery, m_link, m_download, m_upload, config),
      m_readiness(m_wait, m_modem, m_recovery, m_calls, state)
{
}

void HostSession::connectLine()
{
    m_wait.line().setReceiveHandler([this] {
        m_inHandler = true;
        m_calls.HandleCommEvent();
        m_inHandler = false;
        settle();
    });
    m_wait.line().setLostHandler([this] {
        // Inside the handler the waits see the failed line and unwind first;
        // the port is closed afterwards, once.
        if (!m_inHandler)
            settle();
    });
}

void HostSession::settle()
{
    if (m_wait.line().failed())
        m_modem.handlePortLost();
}

void HeadlessReporter::AppendStatus(const QString &text, std::uint32_t colour)
{
    if (colour == ColourRed)
        m_failures += text;
    WriteLog(text);
}

void HeadlessReporter::WriteLog(const QString &text)
{
    if (m_log)
        m_log(text);
}

} // namespace Tarvo
