// Host paths as a server that runs without anybody logged in sees them: the
// Windows service runs in a session of its own, where the drive letters a
// user mapped to network shares do not exist and no current folder of the
// user's applies.
//
// judgeServicePath() looks at one path, with the letters mapped in the
// user's session given as input (letter -> share, "\\server\share"; the
// share empty when the mapping is there but its share cannot be told):
//   Fine         absolute, and on no mapped drive (a local drive, a UNC path)
//   Relative     a bare name, "..\x", "\x" (the current drive's root) or
//                "C:x" (that drive's current folder): refused for a server
//   MappedDrive  "S:\x" on a mapped letter; unc is the same place on the
//                share ("\\server\share\x"), empty when the share is unknown
// The "\\?\" and "\\.\" forms of a drive path count as the drive path.
// Unix paths are fine when they start with "/", relative otherwise.
//
// reviewServicePaths() is what the configuration window does at OK with the
// entries in use when the settings are a service's: relative paths refused
// (a warning naming them, false), then one question offering the network
// paths for the mapped ones (Yes puts them in the model), then a notice for
// mapped ones whose share is not known (kept as typed).
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace Tarvo {

class Prompter;
struct Configuration;

enum class PathStyle { Windows, Unix };

inline constexpr PathStyle nativePathStyle()
{
#ifdef Q_OS_WIN
    return PathStyle::Windows;
#else
    return PathStyle::Unix;
#endif
}

// Upper-case drive letter -> its share, as the user's session maps it.
using DriveShares = QMap<QChar, QString>;

struct ServicePath
{
    enum class Verdict { Fine, Relative, MappedDrive };
    Verdict verdict = Verdict::Fine;
    QString unc; // MappedDrive: the path on its share; empty when the share is unknown
};

ServicePath judgeServicePath(const QString &path, const DriveShares &drives,
                             PathStyle style = nativePathStyle());

// The network drives among the letters that paths use, with their shares, as
// this log-on session maps them (Windows; empty elsewhere).
DriveShares mappedDrives(const QStringList &paths);

// The host paths of the entries in use, downloads first.
QStringList entryPaths(const Configuration &model);
// Puts the network path in place of every mapped path whose share is known;
// the number changed.
int useNetworkPaths(Configuration &model, const DriveShares &drives,
                    PathStyle style = nativePathStyle());

// False when a relative path refuses the OK; drives as mappedDrives() gives them.
bool reviewServicePaths(Configuration &model, const DriveShares &drives, Prompter &prompter,
                        PathStyle style = nativePathStyle());

} // namespace Tarvo
