// The application's identity as the About box shows it: title, version
// numbers and legal notice.
//
// On Windows they are read from the program's own version resource
// (GetFileVersionInfo), the one Explorer shows under Properties > Details;
// the build makes that resource from the same project values as
// AppVersion.h. Elsewhere, and for a Windows program without a version
// resource, they are the build's values.
#pragma once

#include <QString>
#include <optional>

namespace Tarvo {

struct AppIdentity
{
    QString title;
    int major = 0;
    int minor = 0;
    int revision = 0;
    QString legalNotice;
    bool fromVersionResource = false;

    bool operator==(const AppIdentity &) const = default;
};

// The build's values (AppVersion.h).
AppIdentity builtInIdentity();
// The version resource of the program file at path; none when the file has
// none, or off Windows.
std::optional<AppIdentity> versionResourceIdentity(const QString &path);
// This program's: its version resource where there is one, else the build's.
AppIdentity applicationIdentity();

} // namespace Tarvo
