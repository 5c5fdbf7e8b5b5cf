// The log's line logic and its daily roll-over.
#include "LogFile.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

namespace {

// The roll-over cases set the log's date themselves; the line cases write
// real files, which must look written today.
const QDateTime Now(QDate(2026, 3, 14), QTime(9, 26, 53));

QDateTime today()
{
    return QDateTime(QDate::currentDate(), Now.time());
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes, const QDateTime &modified)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.flush();
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// Built here rather than taken from LogFile, so a wrong format shows.
QByteArray stamp()
{
    const QLocale locale = QLocale::system();
    QString text = locale.toString(today().date(), QLocale::ShortFormat) + " " +
                   locale.toString(today().time(), QLocale::LongFormat) + " ";
    text.replace(QChar(0x202F), ' ').replace(QChar(0x2009), ' ');
    return text.toLatin1();
}

} // namespace

class LogFileTest : public QObject
{
    Q_OBJECT

private slots:
    // "<T>" in expected stands for the timestamp of today().
    void lines_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("first message of a run has no timestamp")
            << QStringList{" --- \r\n", "next\r\n"} << QByteArray(" ---  \r\n<T>next \r\n");
        QTest::newRow("message without CR LF continues the line")
            << QStringList{"x\r\n", "Open COM1 ...", " OK\r\n"}
            << QByteArray("x \r\n<T>Open COM1 ... OK \r\n");
        QTest::newRow("CR LF inside a final-CR LF message folds")
            << QStringList{"x\r\n", " failed\r\nPlease check modem.\r\n"}
            << QByteArray("x \r\n<T> failed Please check modem. \r\n");
        QTest::newRow("CR LF kept when the message does not end with it")
            << QStringList{"x\r\n", "\r\nabc", "def\r\n"} << QByteArray("x \r\n<T>\r\nabcdef \r\n");
        QTest::newRow("message of only CR LF")
            << QStringList{"x\r\n", "\r\n"} << QByteArray("x \r\n<T> \r\n");
        QTest::newRow("one byte per character")
            << QStringList{QString::fromUtf8("Gr\u00fc\u00df\r\n")}
            << QByteArray("Gr\xfc\xdf \r\n");
    }

    void lines()
    {
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, expected);

        QTemporaryDir dir;
        LogFile log(dir.path(), today);
        for (const QString &message : messages)
            log.WriteLog(message);

        expected.replace("<T>", stamp());
        QCOMPARE(readAll(log.path()), expected);
        QCOMPARE(log.lineStart(), messages.last().endsWith("\r\n"));
    }

    void rollOver_data()
    {
        QTest::addColumn<int>("logAgeDays"); // -1: no log
        QTest::addColumn<bool>("olderBackup");
        QTest::addColumn<bool>("rolls");

        QTest::newRow("no log: no backup made") << -1 << false << false;
        QTest::newRow("earlier today") << 0 << false << false;
        QTest::newRow("yesterday replaces an older backup") << 1 << true << true;
        QTest::newRow("many days ago") << 400 << false << true;
    }

    void rollOver()
    {
        QFETCH(int, logAgeDays);
        QFETCH(bool, olderBackup);
        QFETCH(bool, rolls);

        QTemporaryDir dir;
        LogFile log(dir.path(), [] { return Now; });
        const QByteArray oldLog = "old day \r\n";
        if (logAgeDays != -1) // a minute into its day: only the date may count
            writeFile(log.path(), oldLog, QDateTime(Now.date().addDays(-logAgeDays), QTime(0, 1)));
        if (olderBackup)
            writeFile(log.backupPath(), "older backup\r\n", Now.addDays(-30));

        log.WriteLog("new\r\n");

        const QByteArray kept = rolls || logAgeDays == -1 ? QByteArray() : oldLog;
        QCOMPARE(readAll(log.path()), kept + "new \r\n");
        QCOMPARE(QFile::exists(log.backupPath()), rolls || olderBackup);
        if (rolls)
            QCOMPARE(readAll(log.backupPath()), oldLog);
    }
};

QTEST_GUILESS_MAIN(LogFileTest)
#include "test_logfile.moc"
