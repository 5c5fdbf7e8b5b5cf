#include "AppIcon.h"

#include <QPainter>

// Q_INIT_RESOURCE must be used outside any namespace. Referencing it here
// also keeps the linker from dropping the resource object of this library.
static void registerTarvoResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(tarvo);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace Tarvo {

QIcon tarvoIcon()
{
    registerTarvoResources();
    QIcon icon(QStringLiteral(":/icons/tarvo.png"));
    return icon;
}

QPixmap tarvoIconPixmap()
{
    registerTarvoResources();
    return QPixmap(QStringLiteral(":/icons/tarvo.png"));
}

QPixmap companyLogoPixmap()
{
    constexpr int Side = 32;
    QPixmap logo(Side, Side);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x6f, 0x78));
    painter.drawRoundedRect(QRectF(1, 1, Side - 2, Side - 2), 6, 6);
    painter.setBrush(Qt::white);
    for (int bar = 0; bar < 3; ++bar)
        painter.drawRoundedRect(QRectF(7, 8 + bar * 6, 18 - bar * 5, 3.5), 1.5, 1.5);
    return logo;
}

} // namespace Tarvo
