// The two entry dialogs: hand-over in and out, the file dialog request of
// Browse, the proposed portable name, trimming and the OK checks.
#include "FakeFileChooser.h"
#include "FakeLine.h"
#include "frmDnldEdit.h"
#include "frmUpldEdit.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;
using Testing::FakeFileChooser;
using Testing::ScriptedPrompter;

namespace {
QLineEdit *box(QWidget &dialog, const char *name)
{
    return dialog.findChild<QLineEdit *>(QLatin1String(name));
}

void click(QWidget &dialog, const char *name)
{
    dialog.findChild<QPushButton *>(QLatin1String(name))->click();
}

QString focusName(QWidget &dialog)
{
    return dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString();
}
} // namespace

class TestEntryDialogs : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_hostFile;

private slots:
    void initTestCase()
    {
        m_hostFile = m_dir.filePath(QStringLiteral("stock.csv"));
        QFile file(m_hostFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1;2;3\n");
    }

    void proposedPortableName_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");

        QTest::newRow("long base") << "/data/Inventories.csv"
                                   << ""
                                   << "Inventor.csv";
        QTest::newRow("two dots") << "/data/Orders.backup.txt"
                                  << ""
                                  << "Orders.bac";
        QTest::newRow("no dot") << "/data/README_FIRST"
                                << ""
                                << "README_F";
        QTest::newRow("short") << "/data/a.b"
                               << ""
                               << "a.b";
        QTest::newRow("case kept") << "/d/MixedCase.TxT"
                                   << ""
                                   << "MixedCas.TxT";
        QTest::newRow("dot first") << "/home/u/.profile"
                                   << ""
                                   << ".pro";
        QTest::newRow("dotted folder") << "/srv/v1.2/notes"
                                       << ""
                                       << "notes";
        QTest::newRow("blank box counts as empty") << "/data/Orders.txt"
                                                   << "   "
                                                   << "Orders.txt";
        QTest::newRow("typed name kept") << "/data/Inventories.csv"
                                         << "VeryLongName.text"
                                         << "VeryLongName.text";
    }

    void proposedPortableName()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        DownloadEditHandOver handOver;
        FakeFileChooser chooser;
        chooser.answers = {chosen};
        ScriptedPrompter prompter;
        frmDnldEdit dialog(handOver, chooser, prompter);
        box(dialog, "txtName")->setText(typed);

        click(dialog, "cmdBrowse");
        QCOMPARE(box(dialog, "txtName")->text(), expected);
        QCOMPARE(box(dialog, "txtOpenFrom")->text(), QDir::toNativeSeparators(chosen));
    }

    void downloadBrowseRequest_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typedPath");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");

        QTest::newRow("stored path") << "/data/in/stock.csv"
                                     << ""
                                     << "/data/in"
                                     << "stock.csv";
        // The stored path counts, not what the box holds by now.
        QTest::newRow("box edited") << "/data/in/stock.csv"
                                    << "/else/x.txt"
                                    << "/data/in"
                                    << "stock.csv";
        QTest::newRow("nothing stored") << ""
                                        << "/else/x.txt"
                                        << ""
                                        << "";
    }

    void downloadBrowseRequest()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typedPath);
        QFETCH(QString, dir);
        QFETCH(QString, name);
        DownloadEditHandOver handOver{{QStringLiteral("STOCK.CSV"), stored}};
        FakeFileChooser chooser; // cancels
        ScriptedPrompter prompter;
        frmDnldEdit dialog(handOver, chooser, prompter);
        if (!typedPath.isEmpty())
            box(dialog, "txtOpenFrom")->setText(typedPath);

        click(dialog, "cmdBrowse");
        QCOMPARE(chooser.kinds, QStringList{QStringLiteral("open")});
        const FileRequest &request = chooser.requests.first();
        QCOMPARE(request.initialDir, dir);
        QCOMPARE(request.initialName, name);
        QCOMPARE(request.filters, QStringList{allFilesFilter()});
        QVERIFY(request.defaultSuffix.isEmpty());
        // Cancelled: both boxes as they were.
        QCOMPARE(box(dialog, "txtOpenFrom")->text(), typedPath.isEmpty() ? stored : typedPath);
        QCOMPARE(box(dialog, "txtName")->text(), QStringLiteral("STOCK.CSV"));
    }

    void uploadBrowseRequest_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typedName");
        QTest::addColumn<QString>("typedPath");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");

        QTest::newRow("stored path") << "/srv/out/orders.txt"
                                     << " ORD.DAT "
                                     << ""
                                     << "/srv/out"
                                     << "orders.txt";
        // The stored path counts, not what the box holds by now.
        QTest::newRow("box edited") << "/srv/out/orders.txt"
                                    << "ORD.DAT"
                                    << "/else/x.txt"
                                    << "/srv/out"
                                    << "orders.txt";
        QTest::newRow("no stored path") << ""
                                        << "  ORD.DAT "
                                        << "/else/y.txt"
                                        << ""
                                        << "ORD.DAT";
        QTest::newRow("nothing at all") << ""
                                        << ""
                                        << ""
                                        << ""
                                        << "";
    }

    void uploadBrowseRequest()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typedName);
        QFETCH(QString, typedPath);
        QFETCH(QString, dir);
        QFETCH(QString, name);
        UploadEditHandOver handOver{{QString(), stored}};
        FakeFileChooser chooser;
        chooser.answers = {QStringLiteral("/srv/new/ord.txt")};
        frmUpldEdit dialog(handOver, chooser);
        box(dialog, "txtName")->setText(typedName);
        if (!typedPath.isEmpty())
            box(dialog, "txtSaveAs")->setText(typedPath);

        click(dialog, "cmdBrowse");
        QCOMPARE(chooser.kinds, QStringList{QStringLiteral("save")});
        const FileRequest &request = chooser.requests.first();
        QCOMPARE(request.initialDir, dir);
        QCOMPARE(request.initialName, name);
        QCOMPARE(request.filters,
                 (QStringList{QStringLiteral("Text files (*.txt)"), allFilesFilter()}));
        QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
        QCOMPARE(box(dialog, "txtSaveAs")->text(),
                 QDir::toNativeSeparators(QStringLiteral("/srv/new/ord.txt")));
        QCOMPARE(box(dialog, "txtName")->text(), typedName); // never touched
    }

    void allFilesMatchNamesWithoutDot()
    {
#ifndef Q_OS_WIN
        QCOMPARE(allFilesFilter(), QStringLiteral("All files (*)"));
#endif
    }

    void downloadOk_data()
    {
        QTest::addColumn<QString>("path"); // "@" stands for the readable host file
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("warnings");
        QTest::addColumn<QString>("focus");

        QTest::newRow("valid, trimmed") << "  @  "
                                        << "  STOCK.CSV " << true << 0 << "";
        QTest::newRow("empty path") << ""
                                    << "STOCK.CSV" << false << 1 << "txtOpenFrom";
        QTest::newRow("blank path") << "   "
                                    << "STOCK.CSV" << false << 1 << "txtOpenFrom";
        QTest::newRow("missing file") << "/no/such/file.csv"
                                      << "X" << false << 1 << "txtOpenFrom";
        QTest::newRow("path checked first") << ""
                                            << "" << false << 1 << "txtOpenFrom";
        QTest::newRow("empty name") << "@"
                                    << "" << false << 0 << "txtName";
        QTest::newRow("blank name") << "@"
                                    << "    " << false << 0 << "txtName";
    }

    void downloadOk()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QFETCH(int, warnings);
        QFETCH(QString, focus);
        path.replace(QLatin1Char('@'), m_hostFile);

        const DownloadEntry before{QStringLiteral("OLD"), QStringLiteral("/old/path")};
        DownloadEditHandOver handOver{before, true};
        FakeFileChooser chooser;
        ScriptedPrompter prompter;
        frmDnldEdit dialog(handOver, chooser, prompter);
        QVERIFY(!handOver.DownloadEditAccepted); // cleared at opening
        box(dialog, "txtOpenFrom")->setText(path);
        box(dialog, "txtName")->setText(name);

        click(dialog, "cmdOK");
        QCOMPARE(handOver.DownloadEditAccepted, accepted);
        QCOMPARE(prompter.warnings.size(), warnings);
        QCOMPARE(dialog.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
        if (accepted) {
            QCOMPARE(handOver.DownloadEditEntry.OpenFrom, m_hostFile);
            QCOMPARE(handOver.DownloadEditEntry.Name, QStringLiteral("STOCK.CSV"));
        } else {
            QCOMPARE(focusName(dialog), focus);
            QVERIFY(handOver.DownloadEditEntry == before);
        }
    }

    void uploadOk_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("focus");

        // The save path is not tested beyond being there.
        QTest::newRow("valid, trimmed") << " ORD.DAT "
                                        << "  /no/such/dir/ord.txt " << true << "";
        QTest::newRow("name checked first") << ""
                                            << "" << false << "txtName";
        QTest::newRow("blank name") << "   "
                                    << "/x/ord.txt" << false << "txtName";
        QTest::newRow("empty path") << "ORD.DAT"
                                    << "" << false << "txtSaveAs";
        QTest::newRow("blank path") << "ORD.DAT"
                                    << "  " << false << "txtSaveAs";
    }

    void uploadOk()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(bool, accepted);
        QFETCH(QString, focus);

        const UploadEntry before{QStringLiteral("OLD"), QStringLiteral("/old/path")};
        UploadEditHandOver handOver{before, true};
        FakeFileChooser chooser;
        frmUpldEdit dialog(handOver, chooser);
        QVERIFY(!handOver.UploadEditAccepted);
        box(dialog, "txtName")->setText(name);
        box(dialog, "txtSaveAs")->setText(path);

        click(dialog, "cmdOK");
        QCOMPARE(handOver.UploadEditAccepted, accepted);
        if (accepted) {
            QCOMPARE(handOver.UploadEditEntry.Name, QStringLiteral("ORD.DAT"));
            QCOMPARE(handOver.UploadEditEntry.SaveAs, QStringLiteral("/no/such/dir/ord.txt"));
        } else {
            QCOMPARE(focusName(dialog), focus);
            QVERIFY(handOver.UploadEditEntry == before);
        }
    }

    void openingShowsEntryAndCancelHandsNothingBack()
    {
        DownloadEditHandOver handOver{{QStringLiteral("INV.CSV"), m_hostFile}, true};
        FakeFileChooser chooser;
        ScriptedPrompter prompter;
        frmDnldEdit dialog(handOver, chooser, prompter);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Download File"));
        QCOMPARE(box(dialog, "txtOpenFrom")->text(), m_hostFile);
        QCOMPARE(box(dialog, "txtName")->text(), QStringLiteral("INV.CSV"));
        box(dialog, "txtName")->setText(QStringLiteral("CHANGED"));
        click(dialog, "cmdCancel");
        QVERIFY(!handOver.DownloadEditAccepted);
        QCOMPARE(handOver.DownloadEditEntry.Name, QStringLiteral("INV.CSV"));

        UploadEditHandOver upload{{QStringLiteral("ORD.DAT"), QStringLiteral("/o/ord.txt")}, true};
        frmUpldEdit uploadDialog(upload, chooser);
        QCOMPARE(uploadDialog.windowTitle(), QStringLiteral("Upload File"));
        QCOMPARE(box(uploadDialog, "txtName")->text(), QStringLiteral("ORD.DAT"));
        QCOMPARE(box(uploadDialog, "txtSaveAs")->text(), QStringLiteral("/o/ord.txt"));
        click(uploadDialog, "cmdCancel");
        QVERIFY(!upload.UploadEditAccepted);
    }

    void enterPressesOkEscCancels_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focusedControl");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("Enter in a box") << int(Qt::Key_Return) << "txtName" << true;
        QTest::newRow("Enter on Browse") << int(Qt::Key_Return) << "cmdBrowse" << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << "txtName" << false;
    }

    void enterPressesOkEscCancels()
    {
        QFETCH(int, key);
        QFETCH(QString, focusedControl);
        QFETCH(bool, accepted);
        UploadEditHandOver handOver{{QStringLiteral("ORD.DAT"), QStringLiteral("/o/ord.txt")}};
        FakeFileChooser chooser;
        frmUpldEdit dialog(handOver, chooser);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QWidget *target = dialog.findChild<QWidget *>(focusedControl);
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(handOver.UploadEditAccepted, accepted);
        QVERIFY(!dialog.isVisible());
        QVERIFY(chooser.requests.isEmpty()); // Enter never opened the file dialog
    }
};

QTEST_MAIN(TestEntryDialogs)
#include "test_entrydialogs.moc"
