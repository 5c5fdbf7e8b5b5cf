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
// On Windows the named pipe's security descriptor (PipeListener.h) decides
// who may connect at all; every connection it lets in is allowed. There the
// rights differ per request instead: everybody may watch and drive the
// modem, but changing the settings and closing the server need an
// administrator (an elevated member of Administrators, or LocalSystem),
// read from the token of the pipe client's process when it connects.
//
// On Linux everybody allowed is an administrator in that sense: the group
// "tarvo" is itself a grant an administrator made, and the server can only
// write where its own user may, whatever the settings say.
#pragma once

#include "ControlTarget.h"

#include <QString>
#include <vector>

namespace Tarvo {

struct PeerCredentials
{
    bool known = false; // the system told them
    unsigned uid = 0;
    unsigned gid = 0;             // primary group
    std::vector<unsigned> groups; // supplementary groups, if known
    bool administrator = false;   // Windows: an elevated administrator or LocalSystem
};

struct AccessPolicy
{
    unsigned serverUid = 0;
    bool hasGroup = false; // a group "tarvo" exists
    unsigned groupId = 0;  // its id
    QString groupName;     // for the reason given to the refused
};

// What an allowed peer may do besides watching and driving the modem.
enum class PeerRole { Operator, Administrator };

struct AccessDecision
{
    bool allowed = false;
    QString reason; // when refused, one line
    PeerRole role = PeerRole::Operator;
};

// The Linux rule: root, the server's user and the group's members.
AccessDecision decideAccess(const PeerCredentials &peer, const AccessPolicy &policy);
// The Windows rule: everybody the pipe let in; an administrator or not.
AccessDecision decidePipeAccess(const PeerCredentials &peer);

// Whether a peer of this role may make the request op: ok, or refused
// with the message its answer carries.
ControlResult requestRight(const QString &op, PeerRole role);

namespace Refusal {
inline constexpr char SaveNeedsAdministrator[] = "Changing the settings needs an administrator.";
inline constexpr char CloseNeedsAdministrator[] = "Closing the server needs an administrator.";
} // namespace Refusal

// The running process's policy: its own user and the group "tarvo".
AccessPolicy localAccessPolicy(const QString &groupName = QStringLiteral("tarvo"));

// The peer of a connected local socket's descriptor (on Windows, the pipe's
// handle: whether its client's process is an administrator). Unknown where
// the system will not tell.
PeerCredentials peerCredentials(qintptr descriptor);

} // namespace Tarvo
