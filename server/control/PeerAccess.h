// Who may talk to the server over its control socket.
//
// The socket file is made 0660 with the group "tarvo" where that group
// exists, but a mode is easy to open up by mistake (a chmod, an umask, a
// socket folder shared with others), so each connection is checked again by
// the credentials the kernel gives for its peer: root, the server's own user
// and the members of the group "tarvo" (as their primary group or a
// supplementary one) are allowed; anyone else is refused with a reason the
// client shows. The rule is a pure function of the credentials; reading
// them is the platform's part (Linux: SO_PEERCRED and SO_PEERGROUPS).
//
// Windows has no such check yet: its named pipe's security descriptor is
// what keeps others out, and every connection counts as allowed.
#pragma once

#include <QString>
#include <vector>

namespace Tarvo {

struct PeerCredentials
{
    bool known = false; // the system told them
    unsigned uid = 0;
    unsigned gid = 0;             // primary group
    std::vector<unsigned> groups; // supplementary groups, if known
};

struct AccessPolicy
{
    unsigned serverUid = 0;
    bool hasGroup = false; // a group "tarvo" exists
    unsigned groupId = 0;  // its id
    QString groupName;     // for the reason given to the refused
};

struct AccessDecision
{
    bool allowed = false;
    QString reason; // when refused, one line
};

AccessDecision decideAccess(const PeerCredentials &peer, const AccessPolicy &policy);

// The running process's policy: its own user and the group "tarvo".
AccessPolicy localAccessPolicy(const QString &groupName = QStringLiteral("tarvo"));

// The peer of a connected local socket's descriptor. Unknown on Windows and
// where the system will not tell.
PeerCredentials peerCredentials(qintptr descriptor);

} // namespace Tarvo
