#include "PeerAccess.h"

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_WIN
#include "WindowsToken.h"

#include <qt_windows.h>
#endif

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Tarvo {

AccessDecision decideAccess(const PeerCredentials &peer, const AccessPolicy &policy)
{
    if (!peer.known)
        return {false, QStringLiteral("refused: the server cannot tell who is asking")};
    if (peer.uid == 0 || peer.uid == policy.serverUid)
        return {true, {}, PeerRole::Administrator};
    if (policy.hasGroup &&
        (peer.gid == policy.groupId ||
         std::find(peer.groups.begin(), peer.groups.end(), policy.groupId) != peer.groups.end()))
        return {true, {}, PeerRole::Administrator};
    if (policy.hasGroup)
        return {false, QStringLiteral("refused: user %1 is not in the group \"%2\"")
                           .arg(peer.uid)
                           .arg(policy.groupName)};
    return {false, QStringLiteral("refused: only root and the server's own user may connect (no "
                                  "group \"%1\" on this system)")
                       .arg(policy.groupName)};
}

AccessDecision decidePipeAccess(const PeerCredentials &peer)
{
    // A token that could not be read is no administrator's.
    return {
        true, {}, peer.known && peer.administrator ? PeerRole::Administrator : PeerRole::Operator};
}

ControlResult requestRight(const QString &op, PeerRole role)
{
    if (role == PeerRole::Administrator)
        return {};
    if (op == QLatin1String("save-settings"))
        return {false, QLatin1String(Refusal::SaveNeedsAdministrator)};
    if (op == QLatin1String("close-when-idle"))
        return {false, QLatin1String(Refusal::CloseNeedsAdministrator)};
    return {};
}

#ifdef Q_OS_UNIX

AccessPolicy localAccessPolicy(const QString &groupName)
{
    AccessPolicy policy;
    policy.serverUid = unsigned(geteuid());
    policy.groupName = groupName;
    const QByteArray name = groupName.toLocal8Bit();
    std::vector<char> buffer(16384);
    group entry{};
    group *found = nullptr;
    if (getgrnam_r(name.constData(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        policy.hasGroup = true;
        policy.groupId = unsigned(found->gr_gid);
    }
    return policy;
}

namespace {

// The groups of the peer's process itself where Linux tells them (4.13 and
// later); else those the user database gives its user.
std::vector<unsigned> peerGroups(int fd, uid_t uid, gid_t gid)
{
    std::vector<unsigned> result;
#ifdef SO_PEERGROUPS
    std::vector<gid_t> groups(64);
    socklen_t length = socklen_t(groups.size() * sizeof(gid_t));
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0 && errno == ERANGE) {
        groups.resize(length / sizeof(gid_t) + 1);
        length = socklen_t(groups.size() * sizeof(gid_t));
    }
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
        for (std::size_t i = 0; i < length / sizeof(gid_t); ++i)
            result.push_back(unsigned(groups[i]));
        return result;
    }
#endif
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return result;
    int count = 64;
    std::vector<gid_t> listed(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, gid, listed.data(), &count) < 0) {
        listed.resize(std::size_t(count));
        if (getgrouplist(found->pw_name, gid, listed.data(), &count) < 0)
            return result;
    }
    for (int i = 0; i < count; ++i)
        result.push_back(unsigned(listed[std::size_t(i)]));
    return result;
}

} // namespace

PeerCredentials peerCredentials(qintptr descriptor)
{
    PeerCredentials peer;
#ifdef SO_PEERCRED
    const int fd = int(descriptor);
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return peer;
    peer.known = true;
    peer.uid = unsigned(credentials.uid);
    peer.gid = unsigned(credentials.gid);
    peer.groups = peerGroups(fd, credentials.uid, credentials.gid);
#else
    Q_UNUSED(descriptor);
#endif
    return peer;
}

#else

AccessPolicy localAccessPolicy(const QString &groupName)
{
    AccessPolicy policy;
    policy.groupName = groupName;
    return policy;
}

#ifdef Q_OS_WIN
PeerCredentials peerCredentials(qintptr descriptor)
{
    PeerCredentials peer;
    ULONG processId = 0;
    if (!GetNamedPipeClientProcessId(reinterpret_cast<HANDLE>(descriptor), &processId))
        return peer;
    const std::optional<bool> administrator = processIsAdministrator(processId);
    peer.known = administrator.has_value();
    peer.administrator = administrator.value_or(false);
    return peer;
}
#else
PeerCredentials peerCredentials(qintptr)
{
    return {};
}
#endif

#endif

} // namespace Tarvo
