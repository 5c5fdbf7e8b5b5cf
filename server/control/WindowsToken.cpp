#include "WindowsToken.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <memory>
#include <vector>

namespace Tarvo {

namespace {

struct HandleClose
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

bool isSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

bool isLocalSystem(HANDLE token)
{
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed == 0)
        return false;
    std::vector<BYTE> buffer(needed);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed))
        return false;
    return isSid(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, WinLocalSystemSid);
}

// CheckTokenMembership wants an impersonation token and counts only
// enabled groups: a filtered token's deny-only Administrators does not pass.
std::optional<bool> inAdministrators(HANDLE primary)
{
    HANDLE duplicate = nullptr;
    if (!DuplicateToken(primary, SecurityIdentification, &duplicate))
        return std::nullopt;
    const Handle token(duplicate);
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) ||
        !CheckTokenMembership(token.get(), sid, &member))
        return std::nullopt;
    return member != FALSE;
}

} // namespace

std::optional<bool> processIsAdministrator(unsigned long processId)
{
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return std::nullopt;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, &opened))
        return std::nullopt;
    const Handle token(opened);
    if (isLocalSystem(token.get()))
        return true;
    return inAdministrators(token.get());
}

} // namespace Tarvo

#endif
