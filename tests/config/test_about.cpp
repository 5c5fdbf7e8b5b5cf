// The About box: the identity lines, the link, and the icon from the
// library's resources.
#include "AppIcon.h"
#include "AppVersion.h"
#include "frmAbout.h"

#include <QLabel>
#include <QTest>

using namespace Tarvo;

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void showsIdentityAndOpensLink()
    {
        frmAbout w(QStringLiteral("/opt/tarvo/Tarvo.Log"));
        QList<QUrl> opened;
        w.setUrlOpener([&](const QUrl &url) {
            opened += url;
            return false; // a failing shell leaves the box open
        });
        const auto text = [&w](const char *name) {
            return w.findChild<QLabel *>(QLatin1String(name))->text();
        };
        QCOMPARE(w.windowTitle(), QStringLiteral("About Tarvo"));
        QCOMPARE(text("lblTitle"), QStringLiteral("Tarvo Version 2.1.0"));
        QCOMPARE(text("lblCopyright"), QString::fromLatin1(AppVersion::LegalNotice));
        QCOMPARE(text("lblLogFile"), QStringLiteral("Log file: /opt/tarvo/Tarvo.Log"));

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.findChild<QLabel *>(QStringLiteral("lblWebSite")), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>{QUrl(QString::fromLatin1(AppVersion::WebAddress))});
        QVERIFY(w.isVisible());
    }

    void iconComesFromResources()
    {
        QCOMPARE(TarvoIconPixmap().size(), QSize(32, 32));
        QVERIFY(QFile::exists(QStringLiteral(":/icons/tarvo.svg")));
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
