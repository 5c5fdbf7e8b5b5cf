#include "AppIdentity.h"

#include "AppVersion.h"

#ifdef Q_OS_WIN
#include <QByteArray>
#include <iterator>
#include <qt_windows.h>
#endif

namespace Tarvo {

AppIdentity builtInIdentity()
{
    return {QString::fromLatin1(AppVersion::Title),
            AppVersion::Major,
            AppVersion::Minor,
            AppVersion::Revision,
            QString::fromLatin1(AppVersion::LegalNotice),
            false};
}

#ifdef Q_OS_WIN

namespace {

// A text of the string table for the resource's first translation.
QString versionText(const QByteArray &block, const QString &table, const char *name)
{
    const QString query =
        QStringLiteral("\\StringFileInfo\\") + table + QLatin1Char('\\') + QLatin1String(name);
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.constData(), reinterpret_cast<LPCWSTR>(query.utf16()), &value,
                        &length) ||
        !value || length == 0)
        return {};
    return QString::fromWCharArray(static_cast<const wchar_t *>(value)).trimmed();
}

} // namespace

std::optional<AppIdentity> versionResourceIdentity(const QString &path)
{
    const std::wstring file = path.toStdWString();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    QByteArray block(qsizetype(size), '\0');
    if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data()))
        return std::nullopt;

    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.constData(), L"\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);

    struct Translation
    {
        WORD language;
        WORD codePage;
    };
    if (!VerQueryValueW(block.constData(), L"\\VarFileInfo\\Translation", &value, &length) ||
        length < sizeof(Translation))
        return std::nullopt;
    const auto *translation = static_cast<const Translation *>(value);
    const QString table = QStringLiteral("%1%2")
                              .arg(translation->language, 4, 16, QLatin1Char('0'))
                              .arg(translation->codePage, 4, 16, QLatin1Char('0'));

    AppIdentity identity;
    identity.title = versionText(block, table, "ProductName");
    identity.major = HIWORD(fixed->dwFileVersionMS);
    identity.minor = LOWORD(fixed->dwFileVersionMS);
    identity.revision = HIWORD(fixed->dwFileVersionLS);
    identity.legalNotice = versionText(block, table, "LegalCopyright");
    identity.fromVersionResource = true;
    if (identity.title.isEmpty())
        return std::nullopt;
    return identity;
}

AppIdentity applicationIdentity()
{
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    if (length > 0 && length < std::size(path)) {
        if (auto identity = versionResourceIdentity(QString::fromWCharArray(path, int(length))))
            return *identity;
    }
    return builtInIdentity();
}

#else

std::optional<AppIdentity> versionResourceIdentity(const QString &)
{
    return std::nullopt;
}

AppIdentity applicationIdentity()
{
    return builtInIdentity();
}

#endif

} // namespace Tarvo
