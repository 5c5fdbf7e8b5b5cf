// Taking host paths apart, with the backslash of classic host paths and the
// slash of Linux, and the open-for-reading test of a host file.
#include "FakeLine.h"
#include "PathHelpers.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;

class TestPathHelpers : public QObject
{
    Q_OBJECT

private slots:
    void parts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QChar>("sep");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("bare");
        QTest::addColumn<QString>("ext");
        const QChar bs('\\'), sl('/');
        QTest::newRow("folder") << "C:\\data\\in.txt" << bs << "C:\\data"
                                << "in.txt"
                                << "in"
                                << "txt";
        QTest::newRow("drive root") << "C:\\in.txt" << bs << "C:"
                                    << "in.txt"
                                    << "in"
                                    << "txt";
        QTest::newRow("no separator") << "in.txt" << bs << ""
                                      << "in.txt"
                                      << "in"
                                      << "txt";
        QTest::newRow("first dot") << "C:\\d\\report.old.txt" << bs << "C:\\d"
                                   << "report.old.txt"
                                   << "report"
                                   << "old.txt";
        QTest::newRow("dot in folder") << "C:\\my.dir\\readme" << bs << "C:\\my.dir"
                                       << "readme"
                                       << "readme"
                                       << "";
        QTest::newRow("leading dot") << ".profile" << bs << ""
                                     << ".profile"
                                     << ""
                                     << "profile";
        QTest::newRow("unix") << "/home/ann/in.txt" << sl << "/home/ann"
                              << "in.txt"
                              << "in"
                              << "txt";
        QTest::newRow("unix root") << "/in.txt" << sl << ""
                                   << "in.txt"
                                   << "in"
                                   << "txt";
        QTest::newRow("foreign separator") << "C:\\d\\in.txt" << sl << ""
                                           << "C:\\d\\in.txt"
                                           << "C:\\d\\in"
                                           << "txt";
    }

    void parts()
    {
        QFETCH(QString, path);
        QFETCH(QChar, sep);
        QTEST(GetDirectory(path, sep), "dir");
        QTEST(GetFileName(path, true, sep), "name");
        QTEST(GetFileName(path, false, sep), "bare");
        QTEST(GetExtension(path, sep), "ext");
    }

    void canOpenFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("described"); // part of the failure text
        QTest::newRow("readable") << "file" << true << "";
        QTest::newRow("missing") << "missing" << false << "No such file";
        QTest::newRow("empty path") << "" << false << "";
        QTest::newRow("folder") << "folder" << false << "";
    }

    void canOpenFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, opens);
        QFETCH(QString, described);
        QTemporaryDir dir;
        QString path = kind == "folder" ? dir.path() : QString();
        if (kind == "file" || kind == "missing")
            path = dir.filePath(QStringLiteral("host.txt"));
        if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        Testing::ScriptedPrompter prompter;
        QCOMPARE(CanOpenFile(path, prompter), opens);
        QCOMPARE(prompter.warnings.size(), opens ? 0 : 1);
        if (!opens)
            QVERIFY2(!prompter.warnings[0].trimmed().isEmpty() &&
                         prompter.warnings[0].contains(described),
                     qPrintable(prompter.warnings[0]));
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "test_pathhelpers.moc"
