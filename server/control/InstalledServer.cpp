#include "InstalledServer.h"

#include <QFileInfo>

namespace Tarvo::InstalledServer {

QString unitLink()
{
#ifdef Q_OS_LINUX
    return QStringLiteral("/etc/systemd/system/multi-user.target.wants/tarvod.service");
#else
    return {};
#endif
}

bool installed(const QString &controlPath, const QString &link)
{
    // A symlink counts even when it points nowhere readable to this user.
    const auto there = [](const QString &path) {
        const QFileInfo info(path);
        return !path.isEmpty() && (info.exists() || info.isSymLink());
    };
#ifdef Q_OS_UNIX
    if (there(controlPath))
        return true;
#else
    Q_UNUSED(controlPath); // a named pipe leaves no file to look at
#endif
    return there(link);
}

} // namespace Tarvo::InstalledServer
