#include "frmAbout.h"

#include "AppIcon.h"
#include "AppIdentity.h"
#include "AppVersion.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace Tarvo {

QString AboutTitleLine()
{
    const AppIdentity identity = applicationIdentity();
    return QStringLiteral("%1 Version %2.%3.%4")
        .arg(identity.title)
        .arg(identity.major)
        .arg(identity.minor)
        .arg(identity.revision);
}

frmAbout::frmAbout(const QString &logLocation, QWidget *parent)
    : QDialog(parent), m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("frmAbout"));
    buildControls();
    Form_Load(logLocation);
}

namespace {

// Places are laid down in twips, 15 to a pixel.
constexpr int pixels(int twips)
{
    return twips / 15;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}

constexpr qreal LabelPoints = 8.25;
constexpr int PictureSide = 32;

} // namespace

void frmAbout::buildControls()
{
    setFixedSize(pixels(5670), pixels(1635));
    QFont labelFont = font();
    labelFont.setPointSizeF(LabelPoints);

    auto picture = [this](const char *name, const QPixmap &pixmap, int left, int top) {
        auto *label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        label->setPixmap(pixmap);
        label->setGeometry(pixels(left), pixels(top), PictureSide, PictureSide);
        return label;
    };
    auto label = [this, &labelFont](const char *name, const QRect &place) {
        auto *text = new QLabel(this);
        text->setObjectName(QLatin1String(name));
        text->setFont(labelFont);
        text->setGeometry(place);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return text;
    };
    imgIcon = picture("imgIcon", tarvoIconPixmap(), 165, 180);
    imgCompany = picture("imgCompany", companyLogoPixmap(), 150, 765);
    lblTitle = label("lblTitle", twipsRect(960, 240, 4365, 240));
    lblCopyright = label("lblCopyright", twipsRect(960, 630, 4365, 450));
    lblCopyright->setWordWrap(true);
    lblWebSite = label("lblWebSite", twipsRect(960, 1110, 3150, 240));
    QFont linkFont = labelFont;
    linkFont.setUnderline(true);
    lblWebSite->setFont(linkFont);
    QPalette linkPalette = lblWebSite->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    lblWebSite->setPalette(linkPalette);
    lblWebSite->setCursor(Qt::PointingHandCursor);
    lblWebSite->installEventFilter(this);

    // Not one of the box's own controls: a thin line in the strip under
    // the link and OK, cut short with "..." and whole in its tooltip.
    const int stripTop = pixels(1110 + 360);
    lblLogFile = label("lblLogFile", QRect(pixels(150), stripTop, pixels(5670 - 2 * 150),
                                           pixels(1635) - stripTop));
    QFont small = labelFont;
    small.setPointSizeF(6.5);
    lblLogFile->setFont(small);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(4260, 1110, 1230, 360));
    // Enter presses OK; Esc closes the dialog the same way.
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    setTabOrder(lblTitle, lblCopyright);
    setTabOrder(lblCopyright, lblWebSite);
    setTabOrder(lblWebSite, cmdOK);
}

void frmAbout::Form_Load(const QString &logLocation)
{
    const AppIdentity identity = applicationIdentity();
    setWindowTitle(QStringLiteral("About ") + identity.title);
    setWindowIcon(tarvoIcon());
    lblTitle->setText(AboutTitleLine());
    lblCopyright->setText(identity.legalNotice);
    lblWebSite->setText(QString::fromLatin1(AppVersion::WebAddress));
    const QString logLine = QStringLiteral("Log file: ") + logLocation;
    lblLogFile->setText(
        lblLogFile->fontMetrics().elidedText(logLine, Qt::ElideMiddle, lblLogFile->width()));
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

void showAboutWindow(QWidget *parent, const QString &logLocation)
{
    frmAbout window(logLocation, parent);
    window.exec();
}

} // namespace Tarvo
