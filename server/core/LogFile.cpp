#include "LogFile.h"

#include "HostFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace Tarvo {

namespace {

const QString LineEnd = QStringLiteral("\r\n");

// Tried rather than asked: on Windows the permission bits Qt reads ignore
// the folder's access rules, so Program Files looks writable to a user.
bool writableFolder(const QString &dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral("Tarvo-XXXXXX.tmp")));
    return probe.open();
}

} // namespace

LogFile::LogFile(const QString &directory, Clock now, const QString &fallback)
    : m_fallback(QDir(fallback) == QDir(directory) ? QString() : fallback), m_now(std::move(now))
{
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
    moveTo(directory);
}

void LogFile::moveTo(const QString &directory)
{
    m_path = QDir(directory).filePath(QLatin1String(FileName));
    m_backupPath = QDir(directory).filePath(QLatin1String(BackupName));
    QDir().mkpath(directory);
}

QString LogFile::defaultDirectory()
{
    return defaultDirectory(QCoreApplication::applicationDirPath());
}

QString LogFile::defaultDirectory(const QString &besideProgram)
{
    if (!besideProgram.isEmpty() && writableFolder(besideProgram))
        return besideProgram;
    const QString perUser = perUserDirectory();
    QDir().mkpath(perUser);
    return perUser;
}

QString LogFile::perUserDirectory()
{
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return perUser.isEmpty() ? QDir::home().filePath(QStringLiteral(".tarvo")) : perUser;
}

QString LogFile::timestamp(const QDateTime &when, const QLocale &locale)
{
    QString text = locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(when.time(), timeFormatWithoutZone(locale)) + QLatin1Char(' ');
    // Some locales put thin or narrow spaces into times; the 8-bit log has
    // no room for them.
    for (QChar &c : text) {
        if (c.unicode() > 0xFF && c.isSpace())
            c = QLatin1Char(' ');
    }
    return text;
}

QString LogFile::timeFormatWithoutZone(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t')) {
            out += c;
            continue;
        }
        // The zone goes with the blanks that separate it from the time.
        while (!out.isEmpty() && out.back().isSpace())
            out.chop(1);
        while (i + 1 < format.size() && format[i + 1] == QLatin1Char('t'))
            ++i;
    }
    return out.trimmed();
}

void LogFile::rollOver(const QDateTime &now)
{
    const QFileInfo log(m_path);
    // Copying a pipe or device in place of the log would block on it.
    if (!log.exists() || !notRegularReason(m_path).isEmpty())
        return;
    // Only the day counts, however many days lie between.
    if (log.lastModified().date() == now.date())
        return;
    // One rename replaces the older backup: the old day's lines are in the
    // log or in the backup at every moment. When it fails they stay where
    // they are and the roll-over is tried again with the next message.
    QString ignored;
    replaceFile(m_path, m_backupPath, ignored);
}

void LogFile::WriteLog(const QString &text)
{
    const QDateTime now = m_now();
    QString error;
    if (append(now, text, error))
        return;
    if (!m_fallback.isEmpty()) {
        const QString before = QDir::toNativeSeparators(QFileInfo(m_path).absolutePath());
        moveTo(std::exchange(m_fallback, QString()));
        m_notice =
            QStringLiteral("The log cannot be written in %1 (%2); from now on it goes to %3.")
                .arg(before, error, QDir::toNativeSeparators(m_path));
        // The new file says first why it is there; the cut line ends there.
        m_lineStart = true;
        if (append(now, m_notice + LineEnd, error) && append(now, text, error))
            return;
    }
    if (!m_failureSaid) {
        m_failureSaid = true;
        const QString failed = QStringLiteral("The log cannot be written: %1: %2")
                                   .arg(QDir::toNativeSeparators(m_path), error);
        m_notice = m_notice.isEmpty() ? failed : m_notice + LineEnd + failed;
    }
}

bool LogFile::append(const QDateTime &now, const QString &text, QString &error)
{
    rollOver(now);
    QFile file(m_path);
    if (!openRegularFile(file, QIODevice::WriteOnly | QIODevice::Append, error))
        return false;

    QString out;
    if (m_lineStart)
        out = timestamp(now);
    const bool endsLine = text.endsWith(LineEnd);
    if (endsLine) {
        QString folded = text;
        folded.replace(LineEnd, QStringLiteral(" "));
        out += folded + LineEnd;
    } else {
        out += text;
    }

    const QByteArray bytes = out.toLatin1();
    error = writeAll(file, m_path, bytes.constData(), bytes.size());
    file.close();
    if (error.isEmpty() && file.error() != QFileDevice::NoError)
        error = file.errorString();
    if (!error.isEmpty())
        return false;
    m_lineStart = endsLine;
    return true;
}

} // namespace Tarvo
