// Taking host paths apart, with the backslash of the classic host paths and
// the slash of Linux, and the open-for-reading test of a host file.
#include "PathHelpers.h"

#include "FakeLine.h"

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
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("bareName");
        QTest::addColumn<QString>("extension");

        const QChar bs('\\');
        const QChar sl('/');
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
        QTest::newRow("cut at first dot") << "C:\\data\\report.old.txt" << bs << "C:\\data"
                                          << "report.old.txt"
                                          << "report"
                                          << "old.txt";
        QTest::newRow("dot in folder only") << "C:\\my.dir\\readme" << bs << "C:\\my.dir"
                                            << "readme"
                                            << "readme"
                                            << "";
        QTest::newRow("leading dot") << ".profile" << bs << ""
                                     << ".profile"
                                     << ""
                                     << "profile";
        QTest::newRow("trailing separator") << "C:\\data\\" << bs << "C:\\data"
                                            << ""
                                            << ""
                                            << "";
        QTest::newRow("empty") << "" << bs << ""
                               << ""
                               << ""
                               << "";
        QTest::newRow("unix folder") << "/home/ann/data/in.txt" << sl << "/home/ann/data"
                                     << "in.txt"
                                     << "in"
                                     << "txt";
        QTest::newRow("unix root") << "/in.txt" << sl << ""
                                   << "in.txt"
                                   << "in"
                                   << "txt";
        QTest::newRow("unix dotted folder") << "/srv/v1.2/notes" << sl << "/srv/v1.2"
                                            << "notes"
                                            << "notes"
                                            << "";
        // The other platform's separator is just a character of the name.
        QTest::newRow("backslash under slash") << "C:\\data\\in.txt" << sl << ""
                                               << "C:\\data\\in.txt"
                                               << "C:\\data\\in"
                                               << "txt";
        QTest::newRow("slash under backslash") << "/tmp/a.b/c" << bs << ""
                                               << "/tmp/a.b/c"
                                               << "/tmp/a"
                                               << "b/c";
    }

    void parts()
    {
        QFETCH(QString, path);
        QFETCH(QChar, separator);
        QFETCH(QString, directory);
        QFETCH(QString, name);
        QFETCH(QString, bareName);
        QFETCH(QString, extension);

        QCOMPARE(GetDirectory(path, separator), directory);
        QCOMPARE(GetFileName(path, true, separator), name);
        QCOMPARE(GetFileName(path, false, separator), bareName);
        QCOMPARE(GetExtension(path, separator), extension);
    }

    void defaultSeparatorIsThePlatforms()
    {
        const QString path = QDir::toNativeSeparators(QStringLiteral("/var/data/in.txt"));
        QCOMPARE(GetDirectory(path), QDir::toNativeSeparators(QStringLiteral("/var/data")));
        QCOMPARE(GetFileName(path, false), QStringLiteral("in"));
    }

    void canOpenFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("opens");
        QTest::newRow("readable file") << "file" << true;
        QTest::newRow("empty file") << "emptyfile" << true;
        QTest::newRow("missing file") << "missing" << false;
        QTest::newRow("empty path") << "" << false;
        QTest::newRow("folder") << "folder" << false;
    }

    void canOpenFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, opens);
        QTemporaryDir dir;
        QString path;
        if (kind == QLatin1String("file") || kind == QLatin1String("emptyfile")) {
            path = dir.filePath(QStringLiteral("host.txt"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (kind == QLatin1String("file"))
                file.write("data");
        } else if (kind == QLatin1String("missing")) {
            path = dir.filePath(QStringLiteral("nothing-here.txt"));
        } else if (kind == QLatin1String("folder")) {
            path = dir.path();
        }

        Testing::ScriptedPrompter prompter;
        QCOMPARE(CanOpenFile(path, prompter), opens);
        // A failure shows exactly one box with a description; success none.
        QCOMPARE(prompter.warnings.size(), opens ? 0 : 1);
        if (!opens)
            QVERIFY(!prompter.warnings.first().trimmed().isEmpty());
        if (kind == QLatin1String("missing"))
            QVERIFY2(prompter.warnings.first().contains(QLatin1String("No such file")),
                     qPrintable(prompter.warnings.first()));
        QVERIFY(prompter.questions.isEmpty() && prompter.informs.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "test_pathhelpers.moc"
