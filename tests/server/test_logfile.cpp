// The log's line logic, its daily roll-over and its indifference to errors.
#include "LogFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

namespace {

// Fixed for the roll-over cases, which set the log's date themselves; the
// line cases write real files, which must look written today.
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
    void lines_data();
    void lines();
    void rollOver_data();
    void rollOver();
    void unwritableLogIsSkipped();
};

// "<T>" in expected stands for the timestamp of today().
void LogFileTest::lines_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QByteArray>("expected");

    const QString separator = " " + QString(48, '-') + " \r\n";
    QTest::newRow("first message of a run has no timestamp")
        << QByteArray() << QStringList{separator} << (" " + QByteArray(48, '-') + "  \r\n");
    QTest::newRow("first message continues an open line of the last run")
        << QByteArray("old") << QStringList{"new\r\n"} << QByteArray("new \r\n");
    QTest::newRow("message without CR LF continues the line")
        << QByteArray() << QStringList{"x\r\n", "Open COM1 ...", " OK\r\n"}
        << QByteArray("x \r\n<T>Open COM1 ... OK \r\n");
    QTest::newRow("three messages, two lines")
        << QByteArray() << QStringList{"x\r\n", "first", "second\r\n", "third\r\n"}
        << QByteArray("x \r\n<T>firstsecond \r\n<T>third \r\n");
    QTest::newRow("CR LF inside a final-CR LF message folds")
        << QByteArray() << QStringList{"x\r\n", " failed\r\nPlease check modem.\r\n"}
        << QByteArray("x \r\n<T> failed Please check modem. \r\n");
    QTest::newRow("two CR LF at the end give two blanks")
        << QByteArray() << QStringList{"x\r\n", "a\r\n\r\n"} << QByteArray("x \r\n<T>a  \r\n");
    QTest::newRow("CR LF kept when the message does not end with it")
        << QByteArray() << QStringList{"x\r\n", "\r\nabc", "def\r\n"}
        << QByteArray("x \r\n<T>\r\nabcdef \r\n");
    QTest::newRow("a lone LF or CR is not a pair")
        << QByteArray() << QStringList{"x\r\n", "a\nb\rc\r\n"}
        << QByteArray("x \r\n<T>a\nb\rc \r\n");
    QTest::newRow("LF CR is not a pair either")
        << QByteArray() << QStringList{"x\r\n", "a\n\r\n"} << QByteArray("x \r\n<T>a\n \r\n");
    QTest::newRow("message of only CR LF")
        << QByteArray() << QStringList{"x\r\n", "\r\n"} << QByteArray("x \r\n<T> \r\n");
    QTest::newRow("empty message at a line start writes the timestamp")
        << QByteArray() << QStringList{"x\r\n", "", "y\r\n"} << QByteArray("x \r\n<T>y \r\n");
    QTest::newRow("one byte per character")
        << QByteArray() << QStringList{QString::fromUtf8("Gr\u00f6\u00dfe \u00e9t\u00e9\r\n")}
        << QByteArray("Gr\xf6\xdf"
                      "e \xe9t\xe9 \r\n");
}

void LogFileTest::lines()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, messages);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    LogFile log(dir.path(), today);
    if (!before.isEmpty())
        writeFile(log.path(), before, today());
    for (const QString &message : messages)
        log.WriteLog(message);

    expected.replace("<T>", stamp());
    QCOMPARE(readAll(log.path()), before + expected);
    QCOMPARE(log.lineStart(), messages.last().endsWith("\r\n"));
    QVERIFY(!QFile::exists(log.backupPath()));
}

void LogFileTest::rollOver_data()
{
    QTest::addColumn<int>("logAgeDays"); // -1: no log
    QTest::addColumn<QTime>("logTime");
    QTest::addColumn<bool>("olderBackup");
    QTest::addColumn<bool>("rolls");

    QTest::newRow("no log: created, no backup") << -1 << QTime(8, 0) << false << false;
    QTest::newRow("no log keeps an old backup") << -1 << QTime(8, 0) << true << false;
    QTest::newRow("earlier today") << 0 << QTime(0, 0, 1) << false << false;
    QTest::newRow("yesterday") << 1 << QTime(23, 59, 59) << false << true;
    QTest::newRow("yesterday replaces an older backup") << 1 << QTime(12, 0) << true << true;
    QTest::newRow("many days ago") << 400 << QTime(12, 0) << true << true;
    QTest::newRow("modified in the future, another day") << -2 << QTime(12, 0) << false << true;
}

void LogFileTest::rollOver()
{
    QFETCH(int, logAgeDays);
    QFETCH(QTime, logTime);
    QFETCH(bool, olderBackup);
    QFETCH(bool, rolls);

    QTemporaryDir dir;
    LogFile log(dir.path(), [] { return Now; });
    const QByteArray oldLog = "old day \r\n";
    if (logAgeDays != -1)
        writeFile(log.path(), oldLog, QDateTime(Now.date().addDays(-logAgeDays), logTime));
    if (olderBackup)
        writeFile(log.backupPath(), "older backup\r\n", Now.addDays(-30));

    log.WriteLog("new\r\n");

    if (rolls) {
        QCOMPARE(readAll(log.path()), QByteArray("new \r\n"));
        QCOMPARE(readAll(log.backupPath()), oldLog);
    } else {
        const QByteArray kept = logAgeDays == -1 ? QByteArray() : oldLog;
        QCOMPARE(readAll(log.path()), kept + "new \r\n");
        QCOMPARE(QFile::exists(log.backupPath()), olderBackup);
    }
}

// The log's place taken by a folder: the open fails for every user, root too.
void LogFileTest::unwritableLogIsSkipped()
{
    QTemporaryDir dir;
    LogFile log(dir.path(), today);
    QVERIFY(QDir(dir.path()).mkdir(LogFile::FileName));

    log.WriteLog("x\r\n");
    QVERIFY(!log.lineStart()); // nothing was written, so no line ended
    log.WriteLog("y");
    QVERIFY(QFileInfo(log.path()).isDir());

    // A missing folder is created.
    LogFile nested(dir.filePath("a/b"), today);
    nested.WriteLog("z\r\n");
    QCOMPARE(readAll(nested.path()), QByteArray("z \r\n"));
}

QTEST_GUILESS_MAIN(LogFileTest)
#include "test_logfile.moc"
