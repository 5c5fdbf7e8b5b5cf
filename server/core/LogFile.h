// The log file behind the status pane: every status text is appended to
// Tarvo.Log with the date and time at the start of each line.
//
// A message that ends with CR LF ends its log line, and the CR LF pairs in it
// become blanks so that it stays on that one line; any other message is
// written as it is and the next message continues the line without a new
// timestamp. A fresh LogFile is not at a line start, so the first message of
// a run carries no timestamp (the run's separator line marks it instead).
//
// The first message written on a later day than the log's last change moves
// the log to Tarvo.Bak, replacing an older backup. The file is opened and
// closed for every message; text is stored one byte per character
// (Latin-1), as the rest of the program's text files are. A log that cannot
// be written is skipped silently: logging never stops the server. Something
// other than a regular file under the log's name (a pipe, a device) is never
// opened, since that could block the server.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>

namespace Tarvo {

class LogFile
{
public:
    using Clock = std::function<QDateTime()>;

    static constexpr char FileName[] = "Tarvo.Log";
    static constexpr char BackupName[] = "Tarvo.Bak";

    // Logs into directory (created when missing). now defaults to the local clock.
    explicit LogFile(const QString &directory, Clock now = {});

    // Beside the executable, or the per-user data folder when the program's
    // folder cannot be written (an installation under /usr, Program Files).
    static QString defaultDirectory();
    static QString defaultDirectory(const QString &programFolder);

    QString path() const { return m_path; }
    QString backupPath() const { return m_backupPath; }
    bool lineStart() const { return m_lineStart; }

    // Appends text following the line rules above.
    void WriteLog(const QString &text);

    // The timestamp that opens a line: short date and long time of the
    // locale, without a time zone, then one blank.
    static QString timestamp(const QDateTime &when, const QLocale &locale = QLocale::system());
    // The locale's long time format with its time-zone field taken out.
    static QString timeFormatWithoutZone(const QLocale &locale);

private:
    void rollOver(const QDateTime &now);

    QString m_path;
    QString m_backupPath;
    Clock m_now;
    bool m_lineStart = false; // LogLineStart
};

} // namespace Tarvo
