// Whether a Windows process runs with an administrator's rights: its token
// has the Administrators group enabled (a member whose token UAC filtered
// has it only for denying, so an unelevated administrator is no
// administrator here), or it is LocalSystem itself.
//
// The server asks this of each pipe client's process as it connects; it runs
// as LocalSystem and may open every process's token for querying. Windows
// only.
#pragma once

#include <QtGlobal>
#include <optional>

#ifdef Q_OS_WIN

namespace Tarvo {

// Nothing when the process or its token cannot be opened.
std::optional<bool> processIsAdministrator(unsigned long processId);

} // namespace Tarvo

#endif
