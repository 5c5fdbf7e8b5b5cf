#include "ElevatedSave.h"

#ifdef Q_OS_WIN
#include "SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QUuid>
#include <QWinEventNotifier>

#include <qt_windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <vector>

namespace Tarvo {

namespace {

// The current user's SID in its string form, for the files' security.
QString userSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    QString result;
    wchar_t *text = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &text)) {
        result = QString::fromWCharArray(text);
        LocalFree(text);
    }
    CloseHandle(token);
    return result;
}

// A new file that this user and the administrators may use, nobody else:
// the administrators read the values; the elevated tarvoctl writes the
// report (UAC may run it as another administrator's account).
bool createPrivateFile(const QString &path, const QByteArray &content, bool adminWrites)
{
    const QString sid = userSid();
    if (sid.isEmpty())
        return false;
    const QString sddl = QStringLiteral("D:P(A;;FA;;;%1)(A;;%2;;;BA)(A;;FA;;;SY)")
                             .arg(sid, adminWrites ? QStringLiteral("FA") : QStringLiteral("FR"));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            reinterpret_cast<LPCWSTR>(sddl.utf16()), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_WRITE, 0,
                                    &attributes, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, content.constData(), DWORD(content.size()), &written, nullptr) &&
        written == DWORD(content.size());
    CloseHandle(file);
    return ok;
}

// One argument of a Windows command line: quoted, backslashes before the
// closing quote doubled.
QString quoted(const QString &argument)
{
    QString text = argument;
    int trailing = 0;
    while (trailing < text.size() && text.at(text.size() - 1 - trailing) == QLatin1Char('\\'))
        ++trailing;
    text += QString(trailing, QLatin1Char('\\'));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

class RunAsTarvoctl final : public ElevatedSave
{
public:
    ControlResult save(const QString &controlPath, const QMap<QString, QString> &values) override
    {
        const QString stem = QDir::temp().filePath(
            QStringLiteral("tarvo-settings-%1").arg(QUuid::createUuid().toString(QUuid::Id128)));
        const QString from = stem + QStringLiteral(".json"), report = stem + QStringLiteral(".txt");
        ControlResult result;
        if (!createPrivateFile(from, SettingsFile::encode(values), false) ||
            !createPrivateFile(report, {}, true))
            result = {false, QStringLiteral("The settings cannot be handed to the elevated "
                                            "helper: no private file in %1.")
                                 .arg(QDir::toNativeSeparators(QDir::tempPath()))};
        else
            result = run(controlPath, from, report);
        QFile::remove(from);
        QFile::remove(report);
        return result;
    }

private:
    static ControlResult run(const QString &controlPath, const QString &from, const QString &report)
    {
        const QString program = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() +
                                                         QStringLiteral("/tarvoctl.exe"));
        const QString parameters =
            QStringLiteral("--control %1 save-settings --from %2 --report %3")
                .arg(quoted(controlPath), quoted(QDir::toNativeSeparators(from)),
                     quoted(QDir::toNativeSeparators(report)));
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"runas";
        info.lpFile = reinterpret_cast<LPCWSTR>(program.utf16());
        info.lpParameters = reinterpret_cast<LPCWSTR>(parameters.utf16());
        info.nShow = SW_HIDE;
        if (!ShellExecuteExW(&info) || !info.hProcess) {
            const DWORD error = GetLastError();
            if (error == ERROR_CANCELLED)
                return {false, QStringLiteral("The settings were not saved: the administrator's "
                                              "confirmation was declined.")};
            return {false, QStringLiteral("The settings were not saved: %1 could not be run "
                                          "as an administrator (error %2).")
                               .arg(program)
                               .arg(error)};
        }
        // The UAC prompt may wait for the user: the windows keep painting.
        {
            QWinEventNotifier ended(info.hProcess);
            QEventLoop loop;
            QObject::connect(&ended, &QWinEventNotifier::activated, &loop, &QEventLoop::quit);
            if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT)
                loop.exec();
        }
        DWORD exitCode = 1;
        GetExitCodeProcess(info.hProcess, &exitCode);
        CloseHandle(info.hProcess);
        if (exitCode == 0)
            return {};
        QFile file(report);
        const QString reason = file.open(QIODevice::ReadOnly)
                                   ? QString::fromUtf8(file.readAll()).trimmed()
                                   : QString();
        return {false, reason.isEmpty()
                           ? QStringLiteral("The settings were not saved: tarvoctl ended with %1.")
                                 .arg(exitCode)
                           : reason};
    }
};

} // namespace

std::unique_ptr<ElevatedSave> systemElevatedSave()
{
    return std::make_unique<RunAsTarvoctl>();
}

} // namespace Tarvo

#else

namespace Tarvo {

std::unique_ptr<ElevatedSave> systemElevatedSave()
{
    return nullptr;
}

} // namespace Tarvo

#endif
