#include "AppIcon.h"

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

QIcon TarvoIcon()
{
    registerTarvoResources();
    QIcon icon(QStringLiteral(":/icons/tarvo.png"));
    return icon;
}

QPixmap TarvoIconPixmap()
{
    registerTarvoResources();
    return QPixmap(QStringLiteral(":/icons/tarvo.png"));
}

} // namespace Tarvo
