// The two entry dialogs: what Browse asks the file dialog, the proposed
// portable name, and the OK checks with trimming and focus.
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

namespace {
QLineEdit *box(QWidget &dialog, const char *name)
{
    return dialog.findChild<QLineEdit *>(QLatin1String(name));
}
void click(QWidget &dialog, const char *name)
{
    dialog.findChild<QPushButton *>(QLatin1String(name))->click();
}
} // namespace

class TestEntryDialogs : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Testing::ScriptedPrompter m_prompter;

private slots:
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
        QTest::newRow("dotted folder, case") << "/v1.2/MixedCase.TxT"
                                             << "  "
                                             << "MixedCas.TxT";
        QTest::newRow("typed name kept") << "/data/Inventories.csv"
                                         << "VeryLongName.text"
                                         << "VeryLongName.text";
    }

    void proposedPortableName()
    {
        QFETCH(QString, chosen);
        DownloadEditHandOver handOver;
        FakeFileChooser chooser;
        chooser.answers = {chosen};
        frmDnldEdit dialog(handOver, chooser, m_prompter);
        QFETCH(QString, typed);
        box(dialog, "txtName")->setText(typed);
        click(dialog, "cmdBrowse");
        QTEST(box(dialog, "txtName")->text(), "expected");
        QCOMPARE(box(dialog, "txtOpenFrom")->text(), QDir::toNativeSeparators(chosen));
    }

    // Browse starts from the path the dialog was handed, not from the box.
    void browseRequests_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::newRow("download, stored") << false << "/in/stock.csv"
                                          << "/in"
                                          << "stock.csv";
        QTest::newRow("download, none") << false << ""
                                        << ""
                                        << "";
        QTest::newRow("upload, stored") << true << "/out/ord.txt"
                                        << "/out"
                                        << "ord.txt";
        QTest::newRow("upload, none: the portable name") << true << ""
                                                         << ""
                                                         << "ORD.DAT";
    }

    void browseRequests()
    {
        QFETCH(bool, upload);
        QFETCH(QString, stored);
        FakeFileChooser chooser; // cancels
        DownloadEditHandOver down{{QStringLiteral("ORD.DAT"), stored}};
        UploadEditHandOver up{{QStringLiteral(" ORD.DAT "), stored}};
        std::unique_ptr<QDialog> dialog;
        if (upload)
            dialog = std::make_unique<frmUpldEdit>(up, chooser);
        else
            dialog = std::make_unique<frmDnldEdit>(down, chooser, m_prompter);
        box(*dialog, upload ? "txtSaveAs" : "txtOpenFrom")->setText(QStringLiteral("/else/x.txt"));
        click(*dialog, "cmdBrowse");

        QCOMPARE(chooser.kinds, QStringList{upload ? "save" : "open"});
        QTEST(chooser.requests[0].initialDir, "dir");
        QTEST(chooser.requests[0].initialName, "name");
        QCOMPARE(chooser.requests[0].defaultSuffix, upload ? QStringLiteral("txt") : QString());
        QCOMPARE(chooser.requests[0].filters.last(), QStringLiteral("All files (*)"));
        QCOMPARE(box(*dialog, upload ? "txtSaveAs" : "txtOpenFrom")->text(), "/else/x.txt");
    }

    void downloadOk_data()
    {
        QTest::addColumn<QString>("path"); // "@" is a readable host file
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("warnings");
        QTest::addColumn<QString>("focus"); // empty: accepted
        QTest::newRow("valid, trimmed") << "  @  "
                                        << " STOCK.CSV " << 0 << "";
        QTest::newRow("empty path still tested") << ""
                                                 << "" << 1 << "txtOpenFrom";
        QTest::newRow("blank path") << "   "
                                    << "S" << 1 << "txtOpenFrom";
        QTest::newRow("missing file") << "/no/such/file"
                                      << "S" << 1 << "txtOpenFrom";
        QTest::newRow("blank name") << "@"
                                    << "    " << 0 << "txtName";
    }

    void downloadOk()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, focus);
        const QString host = m_dir.filePath(QStringLiteral("stock.csv"));
        QFile(host).open(QIODevice::WriteOnly);
        DownloadEditHandOver handOver{{QStringLiteral("OLD"), QStringLiteral("/old")}, true};
        FakeFileChooser chooser;
        m_prompter.warnings.clear();
        frmDnldEdit dialog(handOver, chooser, m_prompter);
        QVERIFY(!handOver.DownloadEditAccepted); // cleared at opening
        box(dialog, "txtOpenFrom")->setText(path.replace(QLatin1Char('@'), host));
        box(dialog, "txtName")->setText(name);
        click(dialog, "cmdOK");

        QTEST(int(m_prompter.warnings.size()), "warnings");
        QCOMPARE(handOver.DownloadEditAccepted, focus.isEmpty());
        if (focus.isEmpty())
            QVERIFY((handOver.DownloadEditEntry == DownloadEntry{"STOCK.CSV", host}));
        else
            QCOMPARE(dialog.focusWidget()->objectName(), focus);
    }

    void uploadOk_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("focus");
        QTest::newRow("valid, trimmed, untested path") << " ORD "
                                                       << " /no/dir/o.txt "
                                                       << "";
        QTest::newRow("name first") << ""
                                    << ""
                                    << "txtName";
        QTest::newRow("blank path") << "ORD"
                                    << "  "
                                    << "txtSaveAs";
    }

    void uploadOk()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(QString, focus);
        UploadEditHandOver handOver{{}, true};
        FakeFileChooser chooser;
        frmUpldEdit dialog(handOver, chooser);
        box(dialog, "txtName")->setText(name);
        box(dialog, "txtSaveAs")->setText(path);
        click(dialog, "cmdOK");
        QCOMPARE(handOver.UploadEditAccepted, focus.isEmpty());
        if (focus.isEmpty())
            QVERIFY((handOver.UploadEditEntry == UploadEntry{"ORD", "/no/dir/o.txt"}));
        else
            QCOMPARE(dialog.focusWidget()->objectName(), focus);
    }
};

QTEST_MAIN(TestEntryDialogs)
#include "test_entrydialogs.moc"
