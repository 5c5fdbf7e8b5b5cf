#include "HostReporter.h"

#include "AppVersion.h"
#include "LogFile.h"

namespace Tarvo {

namespace {
// What the tray's tip holds.
constexpr int MaxTipLength = 63;
} // namespace

HostReporter::HostReporter(LogFile &log) : m_log(log) {}

void HostReporter::addReporter(Reporter *extra)
{
    if (extra && !m_extra.contains(extra))
        m_extra.append(extra);
}

void HostReporter::removeReporter(Reporter *extra)
{
    m_extra.removeAll(extra);
}

void HostReporter::AppendStatus(const QString &text, std::uint32_t colour)
{
    writeFile(text);
    for (Reporter *extra : std::as_const(m_extra))
        extra->AppendStatus(text, colour);
}

void HostReporter::clearStatus()
{
    for (Reporter *extra : std::as_const(m_extra))
        extra->clearStatus();
}

void HostReporter::WriteLog(const QString &text)
{
    writeFile(text);
    for (Reporter *extra : std::as_const(m_extra))
        extra->WriteLog(text);
}

void HostReporter::SetTrayTip(const QString &state)
{
    m_state = state;
    for (Reporter *extra : std::as_const(m_extra))
        extra->SetTrayTip(state);
}

QString HostReporter::tip() const
{
    return (QLatin1String(AppVersion::Title) + QStringLiteral(" - ") + m_state).left(MaxTipLength);
}

void HostReporter::writeFile(const QString &text)
{
    m_log.WriteLog(text);
    const QString notice = m_log.takeNotice();
    if (notice.isEmpty())
        return;
    const QString line = (text.endsWith(QLatin1String(CrLf)) ? QString() : QString(CrLf)) + notice +
                         QLatin1String(CrLf);
    for (Reporter *extra : std::as_const(m_extra))
        extra->AppendStatus(line, ColourRed);
}

} // namespace Tarvo
