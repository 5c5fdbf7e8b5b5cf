// Moving the user's own settings to the server that now answers for
// everybody: a tray attached to the service offers it once.
//
// The offer is made when the user's own store has entries, the server's
// settings are not already the same, and the user's upload journal is empty
// (it holds nothing that a standalone Tarvo would still have to undo; its
// lock is taken for the look). Yes opens the configuration window on a copy
// of the user's settings with every path on a mapped drive turned into its
// network path, and its OK saves through the server (RemoteSettings); the
// window judges the paths as the service's (ServicePaths.h). No, an OK that
// saved, or settings found the same are remembered in a mark beside the
// journal, so the question does not come again; a Cancel in the window
// leaves it for the next start.
#pragma once

#include "Configuration.h"
#include "ServicePaths.h"
#include "SettingsAccess.h"

#include <QString>
#include <functional>

namespace Tarvo {

class Prompter;
class RemoteSettings;

class SettingsMove
{
public:
    // The configuration window on the given settings; true after OK.
    using ConfigureStep = std::function<bool(SettingsAccess &settings)>;
    using DriveLookup = std::function<DriveShares(const QStringList &paths)>;

    // own: the user's store; stateFolder: the user's journal's folder.
    SettingsMove(SettingsAccess &own, const QString &stateFolder);

    // Tests judge paths by other rules than this platform's.
    void setPathRules(PathStyle style, DriveLookup lookup);

    static QString question();
    // The mark that remembers the answer.
    QString markPath() const { return m_markPath; }
    // Not answered yet, and the journal empty: the offer may be made.
    bool due() const;

    // Offers the move when it is due; service must have fetched the
    // server's settings. Returns true when the copy was saved.
    bool offer(Prompter &prompter, RemoteSettings &service, const ConfigureStep &configure);

private:
    // The user's copy as the server is to get it.
    class Copy;

    bool journalEmpty() const;
    void remember(const char *answer) const;

    SettingsAccess &m_own;
    QString m_journalFolder;
    QString m_markPath;
    PathStyle m_style = nativePathStyle();
    DriveLookup m_drives = &mappedDrives;
};

} // namespace Tarvo
