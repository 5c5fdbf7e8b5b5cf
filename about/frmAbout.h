// The About box "About Tarvo": title and version line, legal notice, the
// maker's web address as a link and logo, and where this installation
// writes its log. Its controls sit at fixed places in a fixed client area.
//
// Title, version and legal notice are the program's identity (AppIdentity.h:
// on Windows its version resource, elsewhere the build's values); the web
// address is the build's. A click on the link hands the address to the
// desktop's browser; a failure there is ignored.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;
class QPushButton;

namespace Tarvo {

// "Tarvo Version 2.1.0": title, major, minor and revision of the program.
QString AboutTitleLine();

class frmAbout final : public QDialog
{
    Q_OBJECT
public:
    // logLocation is shown as "Log file: <path>"; empty hides the line.
    explicit frmAbout(const QString &logLocation = QString(), QWidget *parent = nullptr);

    // Opens a web address; QDesktopServices::openUrl unless replaced.
    using UrlOpener = std::function<bool(const QUrl &)>;
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void lblWebSite_Click();
    void cmdOK_Click();

private:
    void buildControls();
    void Form_Load(const QString &logLocation);

    UrlOpener m_openUrl;
    QLabel *imgIcon = nullptr;
    QLabel *imgCompany = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblWebSite = nullptr;
    QLabel *lblLogFile = nullptr;
    QPushButton *cmdOK = nullptr;
};

void showAboutWindow(QWidget *parent, const QString &logLocation = QString());

} // namespace Tarvo
