#include "PortClaim.h"

#include <QCryptographicHash>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Tarvo {

PortClaim::~PortClaim()
{
    release();
}

void PortClaim::release()
{
#ifdef Q_OS_LINUX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
    m_fd = -1;
    m_device.clear();
}

bool PortClaim::claim(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    const QString name = canonical.isEmpty() ? device : canonical;
    if (name == m_device)
        return true;
#ifdef Q_OS_LINUX
    const QByteArray id =
        "tarvo-line-" + QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex();
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, id.constData(), std::size_t(id.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true; // no claim can be made: the port's own lock still holds
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(id.size()));
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0) {
        const bool held = errno == EADDRINUSE;
        ::close(fd);
        return !held;
    }
    release();
    m_fd = fd;
#endif
    m_device = name;
    return true;
}

} // namespace Tarvo
