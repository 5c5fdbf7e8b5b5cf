// The log's line logic and its daily roll-over.
#include "Columns.h"
#include "HostFiles.h"
#include "LogFile.h"
#include "Portable.h"

#include <QtTest>
#include <cerrno>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <utime.h>
#endif

using namespace Tarvo;
using Testing::columns;
using Testing::fetch;
using Testing::readFile;

namespace {

// The clock of the log; the files written here must look written today.
QDateTime now()
{
    return QDateTime(QDate::currentDate(), QTime(9, 26, 53));
}

QByteArray stamp()
{
    return LogFile::timestamp(now()).toLatin1();
}

} // namespace

class LogFileTest : public QObject
{
    Q_OBJECT

private slots:
    // The log goes beside the program only where a file can really be made.
    void defaultDirectory_data()
    {
        // folder: made in a temporary folder
        const auto row = columns<QString, bool>("folder", "beside");
        row("writable", "program", true);
        row("missing", "", false);
        row("read-only", "read-only", false);
    }

    void defaultDirectory()
    {
        auto [folder, beside] = fetch<QString, bool>("folder", "beside");
        QStandardPaths::setTestModeEnabled(true); // the fallback is not the user's folder
        QTemporaryDir dir;
        const QString program = dir.filePath("Program Files/Tarvo");
        if (!folder.isEmpty())
            QVERIFY(QDir().mkpath(program));
        if (folder == "read-only") {
            QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
            if (QFile probe(program + "/probe"); probe.open(QIODevice::WriteOnly))
                QSKIP("This account writes into read-only folders (an administrator)");
        }
        const QString chosen = LogFile::defaultDirectory(program);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(chosen == program, beside);
        QVERIFY(QFileInfo(chosen).isDir());
        QCOMPARE(QDir(program).entryList(QDir::Files), QStringList()); // no probe left behind
    }

    // The locale's short date and long time, a blank after each; no zone appears, so the same
    // wall-clock time in two zones stamps the same.
    void timestamp_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char *name :
             {"C", "en_US", "fi_FI", "ja_JP", "ar_EG", "zh_CN", "ko_KR", "es_US"})
            QTest::newRow(name) << QString(name);
    }

    void timestamp()
    {
        QFETCH(QString, locale);
        const QLocale l(locale);
        const QDate day(2026, 12, 5);
        const QTime time(22, 16, 1);
        const QString utc = LogFile::timestamp(QDateTime(day, time, QTimeZone::utc()), l);
        QCOMPARE(LogFile::timestamp(QDateTime(day, time, QTimeZone(9 * 3600)), l), utc);
        const QString zone = l.toString(time, QStringLiteral("t")); // a time alone: the local zone
        QVERIFY(zone.isEmpty() || !utc.contains(zone));
        QVERIFY(utc.startsWith(l.toString(day, QLocale::ShortFormat) + ' '));
        QVERIFY(utc.endsWith(' ') && !utc.endsWith("  "));
        // A space the 8-bit log can hold stays as the locale writes it ("P.\u00a0M.").
        QCOMPARE(utc.contains(QChar(0xA0)), locale == "es_US");
        // The hours and the seconds are there: the long time, not the short one.
        for (const int later : {1, 3600})
            QVERIFY(utc !=
                    LogFile::timestamp(QDateTime(day, time.addSecs(later), QTimeZone::utc()), l));
    }

    // "<T>" in expected stands for the timestamp of now(). A log written before holds "old \r\n";
    // the backup beside it, older still, "older \r\n".
    void writeLog_data()
    {
        // logAgeMinutes -1: no log; backup afterwards, empty: none; expected: a byte per character
        const auto row = columns<int, QString, QStringList, QString>("logAgeMinutes", "backup",
                                                                     "messages", "expected");

        row("first message of a run has no timestamp", -1, "", {" --- \r\n", "next\r\n"},
            " ---  \r\n<T>next \r\n");
        row("message without CR LF continues the line", -1, "",
            {"x\r\n", "Open COM1 ...", " OK\r\n"}, "x \r\n<T>Open COM1 ... OK \r\n");
        row("CR LF inside a final-CR LF message folds", -1, "",
            {"x\r\n", " failed\r\nPlease check modem.\r\n"},
            "x \r\n<T> failed Please check modem. \r\n");
        row("CR LF kept when the message does not end with it", -1, "",
            {"x\r\n", "\r\nabc", "def\r\n"}, "x \r\n<T>\r\nabcdef \r\n");
        row("one byte per character", -1, "", {"Gr\u00fc\u00df\r\n"}, "Gr\u00fc\u00df \r\n");
        row("written earlier today: no roll-over", 9 * 60, "older \r\n", {"new\r\n"},
            "old \r\nnew \r\n");
        row("yesterday's log, under a day old, replaces an older backup", 10 * 60, "old \r\n",
            {"new\r\n"}, "new \r\n");
    }

    void writeLog()
    {
        auto [logAgeMinutes, backup, messages, expected] =
            fetch<int, QString, QStringList, QString>("logAgeMinutes", "backup", "messages",
                                                      "expected");

        QTemporaryDir dir;
        LogFile log(dir.path(), now);
        if (logAgeMinutes >= 0) {
            Testing::Rig::write(log.backupPath(), "older \r\n", now().addDays(-30));
            Testing::Rig::write(log.path(), "old \r\n", now().addSecs(-60 * logAgeMinutes));
        }
        for (const QString &message : messages)
            log.WriteLog(message);

        QCOMPARE(readFile(log.path()), expected.toLatin1().replace("<T>", stamp()));
        QCOMPARE(readFile(log.backupPath()),
                 backup.isEmpty() ? QByteArray("<missing>") : backup.toLatin1());
        QCOMPARE(log.lineStart(), messages.last().endsWith("\r\n"));
    }

    // A pipe under the log's name (an open or a roll-over's copy would wait for ever), a medium
    // turned read-only or a full disk: the log moves to the per-user folder for the rest of the run
    // and says so once; the pipe is left alone.
    void unwritableLogMoves_data()
    {
        const auto row = columns<QString, int>("fault", "ageDays");
        row("a pipe made today", "pipe", 0);
        row("a pipe from yesterday, due for roll-over", "pipe", 1);
        row("read-only medium", "read-only", 0);
        row("disk full", "full", 0);
    }

    void unwritableLogMoves()
    {
#ifndef Q_OS_UNIX
        QSKIP("Named pipes are a POSIX facility.");
#else
        auto [fault, ageDays] = fetch<QString, int>("fault", "ageDays");
        QTemporaryDir dir;
        LogFile log(dir.filePath("program"), now, dir.filePath("per-user"));
        const QString before = log.path();
        log.WriteLog("written\r\n");
        const QByteArray path = QFile::encodeName(before);
        if (fault == "pipe") {
            QVERIFY(QFile::remove(before));
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
            const time_t modified = now().addDays(-ageDays).toSecsSinceEpoch();
            const utimbuf times{modified, modified};
            QCOMPARE(::utime(path.constData(), &times), 0);
        } else {
            const FileOp failing = fault == "full" ? FileOp::Write : FileOp::OpenWrite;
            setFaultHook([before, failing](FileOp op, const QString &p) {
                return op != failing || p != before ? 0 : failing == FileOp::Write ? ENOSPC : EROFS;
            });
        }
        log.WriteLog("moved\r\n");
        log.WriteLog("and stays\r\n");
        setFaultHook({});

        const QString notice =
            QString("The log cannot be written in %1 (%2); from now on it goes to %3.")
                .arg(dir.filePath("program"),
                     fault == "pipe"   ? "not a regular file (a named pipe)"
                     : fault == "full" ? "No space left on device"
                                       : "Read-only file system",
                     dir.filePath("per-user/Tarvo.Log"));
        QCOMPARE(log.takeNotice(), notice);
        QCOMPARE(log.takeNotice(), QString()); // said once
        QCOMPARE(log.path(), dir.filePath("per-user/Tarvo.Log"));
        QCOMPARE(readFile(log.path()),
                 (stamp() + notice + " \r\n" + stamp() + "moved \r\n" + stamp() + "and stays \r\n")
                     .toLatin1());
        QCOMPARE(QFileInfo(before).isFile(), fault != "pipe");
        QVERIFY(!QFile::exists(dir.filePath("program/Tarvo.Bak")));
#endif
    }
};

QTEST_GUILESS_MAIN(LogFileTest)
#include "test_logfile.moc"
