// The Reporter of a server without a window: every text goes to the log
// file and to each Reporter added beside it (a console echo, the control
// channel's feed of the log), in the order it came. The tray state it was
// last given is kept, so that a status can be answered from it.
//
// A log that moved or failed says so once (LogFile::takeNotice()); with no
// pane to show it, the notice goes to the added Reporters in red.
#pragma once

#include "Reporter.h"

#include <QList>
#include <QString>

namespace Tarvo {

class LogFile;

class HostReporter final : public Reporter
{
public:
    explicit HostReporter(LogFile &log);

    // Extra reporters get every text from now on; removed ones no longer.
    void addReporter(Reporter *extra);
    void removeReporter(Reporter *extra);

    void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) override;
    void clearStatus() override;
    void WriteLog(const QString &text) override;
    void SetTrayTip(const QString &state) override;

    QString trayState() const { return m_state; }
    // "Tarvo - " + state, as the tray's tip shows it.
    QString tip() const;

private:
    void writeFile(const QString &text);

    LogFile &m_log;
    QList<Reporter *> m_extra;
    QString m_state;
};

} // namespace Tarvo
