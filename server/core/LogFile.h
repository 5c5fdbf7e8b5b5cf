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
// (Latin-1), as the rest of the program's text files are. Something other
// than a regular file under the log's name (a pipe, a device) is never
// opened, since that could block the server.
//
// A log that cannot be written where it is (the program's folder turned
// read-only during the night, the file cannot be opened) moves to the
// per-user folder for the rest of the run, as it would have at start-up, and
// the owner is told once (takeNotice()) where it now goes. A log that cannot
// be written there either is skipped: logging never stops the server.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>
#include <utility>

namespace Tarvo {

class LogFile
{
public:
    using Clock = std::function<QDateTime()>;

    static constexpr char FileName[] = "Tarvo.Log";
    static constexpr char BackupName[] = "Tarvo.Bak";

    // Logs into directory (created when missing), or into fallback once
    // directory fails. now defaults to the local clock.
    explicit LogFile(const QString &directory, Clock now = {},
                     const QString &fallback = perUserDirectory());

    // Beside the executable, or the per-user data folder when the program's
    // folder cannot be written (an installation under /usr, Program Files).
    static QString defaultDirectory();
    static QString defaultDirectory(const QString &programFolder);
    static QString perUserDirectory();

    QString path() const { return m_path; }
    QString backupPath() const { return m_backupPath; }
    bool lineStart() const { return m_lineStart; }

    // Appends text following the line rules above.
    void WriteLog(const QString &text);
    // Once, after the log has moved or failed: what happened, for the pane.
    QString takeNotice() { return std::exchange(m_notice, QString()); }

    // The timestamp that opens a line: short date and long time of the
    // locale, without a time zone, then one blank.
    static QString timestamp(const QDateTime &when, const QLocale &locale = QLocale::system());
    // The locale's long time format with its time-zone field taken out.
    static QString timeFormatWithoutZone(const QLocale &locale);

private:
    void rollOver(const QDateTime &now);
    bool append(const QDateTime &now, const QString &text, QString &error);
    void moveTo(const QString &directory);

    QString m_path;
    QString m_backupPath;
    QString m_fallback; // empty once used
    Clock m_now;
    QString m_notice;
    bool m_lineStart = false; // LogLineStart
    bool m_failureSaid = false;
};

} // namespace Tarvo
