// The application icon, drawn for Tarvo, from the resources of tarvo_about:
// ":/icons/tarvo.png" (32 by 32) and ":/icons/tarvo.svg".
//
// Call tarvoIcon() rather than naming the resource path directly: it makes
// sure the resources of this static library are linked in and registered.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace Tarvo {

QIcon tarvoIcon();
QPixmap tarvoIconPixmap();
// The maker's logo for the About box, 32 by 32, drawn in code: a teal
// rounded square carrying three white bars of falling length.
QPixmap companyLogoPixmap();

} // namespace Tarvo
