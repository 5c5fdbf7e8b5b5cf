// The About box: what it reads from the build's identity, the link, the log
// line, the icon from the library's resources, and how it closes.
#include "AppIcon.h"
#include "AppVersion.h"
#include "frmAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Tarvo;

namespace {
QLabel *label(frmAbout &w, const char *name)
{
    return w.findChild<QLabel *>(QLatin1String(name));
}
} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void showsIdentity()
    {
        QCOMPARE(AboutTitleLine(), QStringLiteral("Tarvo Version 2.1.0"));
        frmAbout w;
        QCOMPARE(w.windowTitle(), QStringLiteral("About Tarvo"));
        QCOMPARE(label(w, "lblTitle")->text(), QStringLiteral("Tarvo Version 2.1.0"));
        QCOMPARE(label(w, "lblCopyright")->text(), QString::fromLatin1(AppVersion::LegalNotice));
        QCOMPARE(label(w, "lblWebSite")->text(), QString::fromLatin1(AppVersion::WebAddress));
    }

    void linkLooksLikeOne()
    {
        frmAbout w;
        QLabel *link = label(w, "lblWebSite");
        QVERIFY(link->font().underline());
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }

    void clickOpensAddressAndStaysOpen_data()
    {
        QTest::addColumn<bool>("browserStarts");
        QTest::newRow("browser starts") << true;
        QTest::newRow("shell fails") << false;
    }

    void clickOpensAddressAndStaysOpen()
    {
        QFETCH(bool, browserStarts);
        frmAbout w;
        QList<QUrl> opened;
        w.setUrlOpener([&](const QUrl &url) {
            opened += url;
            return browserStarts;
        });
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(label(w, "lblWebSite"), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(QString::fromLatin1(AppVersion::WebAddress))});
        QVERIFY(w.isVisible());
        // A right click is no click on the link.
        QTest::mouseClick(label(w, "lblWebSite"), Qt::RightButton);
        QCOMPARE(opened.size(), 1);
    }

    void logLine_data()
    {
        QTest::addColumn<QString>("location");
        QTest::newRow("given") << "/opt/tarvo/bin/Tarvo.Log";
        QTest::newRow("none") << "";
    }

    void logLine()
    {
        QFETCH(QString, location);
        frmAbout w(location);
        QLabel *line = label(w, "lblLogFile");
        QCOMPARE(line->isHidden(), location.isEmpty());
        if (!location.isEmpty())
            QCOMPARE(line->text(), QStringLiteral("Log file: ") + location);
    }

    void iconComesFromResources()
    {
        const QPixmap pixmap = TarvoIconPixmap();
        QVERIFY(!pixmap.isNull());
        QCOMPARE(pixmap.size(), QSize(32, 32));
        QVERIFY(!TarvoIcon().isNull());
        QVERIFY(QFile::exists(QStringLiteral(":/icons/tarvo.svg")));
        frmAbout w;
        QVERIFY(!label(w, "imgIcon")->pixmap().isNull());
    }

    void okAndEscClose_data()
    {
        QTest::addColumn<int>("key"); // 0: click OK
        QTest::newRow("click") << 0;
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }

    void okAndEscClose()
    {
        QFETCH(int, key);
        frmAbout w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *ok = w.findChild<QPushButton *>(QStringLiteral("cmdOK"));
        QVERIFY(ok->isDefault());
        if (key == 0)
            ok->click();
        else
            QTest::keyClick(&w, Qt::Key(key));
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
