#include "RegistryKey.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <qt_windows.h>

namespace Tarvo {

namespace {

// The roots a path may name, and the view every key is opened in.
const std::pair<QString, HKEY> Roots[] = {
    {QStringLiteral("HKEY_CURRENT_USER\\"), HKEY_CURRENT_USER},
    {QStringLiteral("HKEY_LOCAL_MACHINE\\"), HKEY_LOCAL_MACHINE},
};
constexpr REGSAM View = KEY_WOW64_64KEY;

struct Handle
{
    HKEY key = nullptr;
    ~Handle()
    {
        if (key)
            RegCloseKey(key);
    }
};

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// The subkey and the value name of "Group/Key".
std::pair<QString, QString> split(const QString &root, const QString &key)
{
    const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {root, key};
    QString group = key.first(slash);
    group.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return {root + QLatin1Char('\\') + group, key.sliced(slash + 1)};
}

QString utf16(const QByteArray &data, qsizetype from = 0)
{
    return QString(reinterpret_cast<const QChar *>(data.constData()) + from,
                   data.size() / 2 - from);
}

// A text ends at its first NUL; a REG_MULTI_SZ is texts up to an empty one.
QString upToNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.first(nul);
}

std::optional<QString> asText(DWORD type, const QByteArray &data)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return upToNul(utf16(data));
    case REG_MULTI_SZ: {
        QStringList texts;
        for (qsizetype at = 0; at < data.size() / 2; at += texts.constLast().size() + 1) {
            texts += upToNul(utf16(data, at));
            if (texts.constLast().isEmpty()) {
                texts.removeLast();
                break;
            }
        }
        return texts.size() == 1 ? texts.constFirst() : QString();
    }
    case REG_BINARY:
    case REG_NONE:
        return utf16(data);
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (data.size() >= 4) {
            const auto byte = [&data](int i) { return quint32(uchar(data[i])); };
            const quint32 value = type == REG_DWORD
                                      ? byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24
                                      : byte(3) | byte(2) << 8 | byte(1) << 16 | byte(0) << 24;
            return QString::number(qint32(value));
        }
        break;
    case REG_QWORD:
        if (data.size() >= 8) {
            qint64 value = 0;
            std::memcpy(&value, data.constData(), sizeof value);
            return QString::number(value);
        }
        break;
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

RegistryKey::RegistryKey(const QString &path)
    : m_path(path), m_root(HKEY_CURRENT_USER), m_subkey(path)
{
    for (const auto &[prefix, root] : Roots)
        if (path.startsWith(prefix, Qt::CaseInsensitive)) {
            m_root = root;
            m_subkey = path.sliced(prefix.size());
        }
}

bool RegistryKey::namesRoot(const QString &path)
{
    return std::any_of(std::begin(Roots), std::end(Roots), [&path](const auto &root) {
        return path.startsWith(root.first, Qt::CaseInsensitive);
    });
}

bool RegistryKey::exists() const
{
    Handle handle;
    return RegOpenKeyExW(HKEY(m_root), wide(m_subkey), 0, KEY_QUERY_VALUE | View, &handle.key) ==
           ERROR_SUCCESS;
}

std::optional<QString> RegistryKey::text(const QString &key) const
{
    const auto [subkey, name] = split(m_subkey, key);
    Handle handle;
    if (RegOpenKeyExW(HKEY(m_root), wide(subkey), 0, KEY_QUERY_VALUE | View, &handle.key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    // Asked again with the size it gave while the value is larger (2 MB will do).
    QByteArray data;
    DWORD type = REG_NONE, size = 256;
    for (LSTATUS status = ERROR_MORE_DATA; status != ERROR_SUCCESS;) {
        data.resize(qsizetype(size));
        status = RegQueryValueExW(handle.key, wide(name), nullptr, &type,
                                  reinterpret_cast<BYTE *>(data.data()), &size);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return std::nullopt;
    }
    data.truncate(qsizetype(size));
    return asText(type, data);
}

bool RegistryKey::write(const QList<std::pair<QString, QString>> &texts, QString &error)
{
    std::map<QString, Handle> groups;
    for (const auto &[key, text] : texts) {
        const QString subkey = split(m_subkey, key).first;
        if (groups.count(subkey))
            continue;
        const LSTATUS status =
            RegCreateKeyExW(HKEY(m_root), wide(subkey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE | View, nullptr, &groups[subkey].key, nullptr);
        if (status != ERROR_SUCCESS) {
            error = qt_error_string(int(status));
            return false;
        }
    }
    for (const auto &[key, text] : texts) {
        const auto [subkey, name] = split(m_subkey, key);
        const LSTATUS status = RegSetValueExW(
            groups[subkey].key, wide(name), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.utf16()),
            DWORD((text.size() + 1) * qsizetype(sizeof(char16_t))));
        if (status != ERROR_SUCCESS) {
            error = qt_error_string(int(status));
            return false;
        }
    }
    return true;
}

} // namespace Tarvo
