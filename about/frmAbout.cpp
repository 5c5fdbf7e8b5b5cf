#include "frmAbout.h"

#include "AppIcon.h"
#include "AppVersion.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace Tarvo {

QString AboutTitleLine()
{
    return QStringLiteral("%1 Version %2.%3.%4")
        .arg(QString::fromLatin1(AppVersion::Title))
        .arg(AppVersion::Major)
        .arg(AppVersion::Minor)
        .arg(AppVersion::Revision);
}

frmAbout::frmAbout(const QString &logLocation, QWidget *parent)
    : QDialog(parent), m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("frmAbout"));
    buildControls();
    Form_Load(logLocation);
}

void frmAbout::buildControls()
{
    imgIcon = new QLabel(this);
    imgIcon->setObjectName(QStringLiteral("imgIcon"));
    imgIcon->setPixmap(TarvoIconPixmap());
    imgIcon->setFixedSize(32, 32);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblCopyright = new QLabel(this);
    lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
    lblCopyright->setWordWrap(true);
    lblCopyright->setMinimumHeight(2 * lblCopyright->fontMetrics().lineSpacing());
    lblCopyright->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lblWebSite = new QLabel(this);
    lblWebSite->setObjectName(QStringLiteral("lblWebSite"));
    QFont linkFont = lblWebSite->font();
    linkFont.setUnderline(true);
    lblWebSite->setFont(linkFont);
    QPalette linkPalette = lblWebSite->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    lblWebSite->setPalette(linkPalette);
    lblWebSite->setCursor(Qt::PointingHandCursor);
    lblWebSite->installEventFilter(this);

    lblLogFile = new QLabel(this);
    lblLogFile->setObjectName(QStringLiteral("lblLogFile"));
    QFont small = lblLogFile->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    lblLogFile->setFont(small);
    lblLogFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    // Enter presses OK; Esc closes the dialog the same way.
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(imgIcon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(lblTitle, 0, 1, 1, 2);
    grid->addWidget(lblCopyright, 1, 1, 1, 2);
    grid->addWidget(lblWebSite, 2, 1);
    grid->addWidget(cmdOK, 2, 2, Qt::AlignRight);
    grid->addWidget(lblLogFile, 3, 0, 1, 3);
    grid->setColumnMinimumWidth(1, 210);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void frmAbout::Form_Load(const QString &logLocation)
{
    const QString title = QString::fromLatin1(AppVersion::Title);
    setWindowTitle(QStringLiteral("About ") + title);
    setWindowIcon(TarvoIcon());
    lblTitle->setText(AboutTitleLine());
    lblCopyright->setText(QString::fromLatin1(AppVersion::LegalNotice));
    lblWebSite->setText(QString::fromLatin1(AppVersion::WebAddress));
    lblLogFile->setText(QStringLiteral("Log file: ") + logLocation);
    lblLogFile->setToolTip(logLocation);
    lblLogFile->setVisible(!logLocation.isEmpty());
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblWebSite && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        lblWebSite_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::lblWebSite_Click()
{
    // Whether a browser came up is not our concern; the box stays open.
    m_openUrl(QUrl(lblWebSite->text()));
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void ShowAboutWindow(QWidget *parent, const QString &logLocation)
{
    frmAbout window(logLocation, parent);
    window.exec();
}

} // namespace Tarvo
