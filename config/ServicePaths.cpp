#include "ServicePaths.h"

#include "Configuration.h"
#include "Prompter.h"

#include <QSet>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <winnetwk.h>
#endif

namespace Tarvo {

namespace {
const QString RelativeRefused =
    QStringLiteral("The server runs without anybody logged in and cannot tell where a relative "
                   "path leads. Give the full path of:");
const QString MappedQuestion =
    QStringLiteral("The server runs without anybody logged in and does not see the drives mapped "
                   "for you. Use the network paths instead?");
const QString ShareUnknown =
    QStringLiteral("The server runs without anybody logged in and does not see the drives mapped "
                   "for you; the network path of these is not known:");

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

// "X:\..." (either separator): the drive's letter, upper case; else none.
QChar absoluteDrive(const QString &path)
{
    const bool drive = path.size() >= 3 && path[0].unicode() < 128 && path[0].isLetter() &&
                       path[1] == QLatin1Char(':') && isSeparator(path[2]);
    return drive ? path[0].toUpper() : QChar();
}

// The drive path behind "\\?\X:\..." and "\\.\X:\...", or the path itself.
QString withoutDevicePrefix(const QString &path)
{
    const bool prefixed = path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
                          (path[2] == QLatin1Char('?') || path[2] == QLatin1Char('.')) &&
                          isSeparator(path[3]);
    return prefixed && !absoluteDrive(path.mid(4)).isNull() ? path.mid(4) : path;
}

// Calls visit with the name and the host path of every entry in use.
template <typename Model, typename Visit> void forEachEntry(Model &model, Visit visit)
{
    for (int i = 0; i < model.DownloadCount; ++i)
        visit(model.DownloadList[i].Name, model.DownloadList[i].OpenFrom);
    for (int i = 0; i < model.UploadCount; ++i)
        visit(model.UploadList[i].Name, model.UploadList[i].SaveAs);
}

#ifdef Q_OS_WIN
// The share a network drive is connected to; empty when it cannot be told.
QString shareOf(QChar letter)
{
    const std::wstring drive = QString(letter + QStringLiteral(":")).toStdWString();
    std::wstring remote(MAX_PATH, L'\0');
    DWORD length = DWORD(remote.size());
    DWORD result = WNetGetConnectionW(drive.c_str(), remote.data(), &length);
    if (result == ERROR_MORE_DATA) {
        remote.assign(length, L'\0');
        result = WNetGetConnectionW(drive.c_str(), remote.data(), &length);
    }
    return result == NO_ERROR ? QString::fromWCharArray(remote.c_str()) : QString();
}
#endif
} // namespace

ServicePath judgeServicePath(const QString &path, const DriveShares &drives, PathStyle style)
{
    using Verdict = ServicePath::Verdict;
    if (path.isEmpty())
        return {};
    if (style == PathStyle::Unix)
        return {path.startsWith(QLatin1Char('/')) ? Verdict::Fine : Verdict::Relative, {}};
    const QString drivePath = withoutDevicePrefix(path);
    const QChar letter = absoluteDrive(drivePath);
    if (letter.isNull()) {
        // Two separators lead a UNC path (or another device's); anything else
        // depends on a current drive or folder: "\x", "C:x", "x".
        const bool network = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
        return {network ? Verdict::Fine : Verdict::Relative, {}};
    }
    if (!drives.contains(letter))
        return {};
    QString share = drives.value(letter);
    if (share.isEmpty())
        return {Verdict::MappedDrive, {}};
    while (!share.isEmpty() && isSeparator(share.back()))
        share.chop(1);
    QString rest = drivePath.mid(3);
    rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return {Verdict::MappedDrive, share + QLatin1Char('\\') + rest};
}

DriveShares mappedDrives(const QStringList &paths)
{
    DriveShares drives;
#ifdef Q_OS_WIN
    QSet<QChar> letters;
    for (const QString &path : paths)
        if (const QChar letter = absoluteDrive(withoutDevicePrefix(path)); !letter.isNull())
            letters.insert(letter);
    for (QChar letter : letters) {
        const std::wstring root = QString(letter + QStringLiteral(":\\")).toStdWString();
        if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE)
            drives.insert(letter, shareOf(letter));
    }
#else
    Q_UNUSED(paths);
#endif
    return drives;
}

QStringList entryPaths(const Configuration &model)
{
    QStringList paths;
    forEachEntry(model, [&paths](const QString &, const QString &path) { paths += path; });
    return paths;
}

int useNetworkPaths(Configuration &model, const DriveShares &drives, PathStyle style)
{
    int changed = 0;
    forEachEntry(model, [&](const QString &, QString &path) {
        if (const ServicePath judged = judgeServicePath(path, drives, style);
            !judged.unc.isEmpty()) {
            path = judged.unc;
            ++changed;
        }
    });
    return changed;
}

bool reviewServicePaths(Configuration &model, const DriveShares &drives, Prompter &prompter,
                        PathStyle style)
{
    QStringList relative, mapped, unknown;
    forEachEntry(model, [&](const QString &name, QString &path) {
        const ServicePath judged = judgeServicePath(path, drives, style);
        if (judged.verdict == ServicePath::Verdict::Relative)
            relative += name + QStringLiteral(": ") + path;
        else if (judged.verdict == ServicePath::Verdict::MappedDrive)
            (judged.unc.isEmpty() ? unknown : mapped) +=
                judged.unc.isEmpty() ? path : path + QStringLiteral(" -> ") + judged.unc;
    });
    const QChar newline = QLatin1Char('\n');
    if (!relative.isEmpty()) {
        prompter.warn(RelativeRefused + newline + relative.join(newline));
        return false;
    }
    if (!mapped.isEmpty() && prompter.askYesNo(MappedQuestion + newline + mapped.join(newline)))
        useNetworkPaths(model, drives, style);
    if (!unknown.isEmpty())
        prompter.inform(ShareUnknown + newline + unknown.join(newline));
    return true;
}

} // namespace Tarvo
