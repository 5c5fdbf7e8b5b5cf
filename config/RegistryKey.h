// A registry key holding settings by "Group/Key": the group is a subkey, the
// key a value in it. Windows only.
//
// The path names its root: "HKEY_CURRENT_USER\..." (the per-user store, and
// the root when none is named) or "HKEY_LOCAL_MACHINE\..." (the service's
// store, which no user's log-on changes). Keys are always opened in the
// 64-bit view, so that a 32-bit program (the installer) that writes the same
// path in that view and this program agree; no value lands under
// WOW6432Node.
//
// The key is read and written through the registry functions themselves,
// not through QSettings, which gives a text that starts with "@" a meaning
// of its own: it reads "@@x" as "@x", "@ByteArray(x)" as "x" and
// "@Variant(...)" as a binary value, and writes "@x" as "@@x". Here a REG_SZ
// value is the text, whatever its first character, both ways.
//
// What other programs or earlier versions may have put there reads as it
// did through QSettings: REG_EXPAND_SZ as it stands (its variables are not
// expanded), REG_DWORD and REG_QWORD as their decimal number, a REG_MULTI_SZ
// of one text as that text and of any other count as an empty text,
// REG_BINARY and REG_NONE as their bytes taken as UTF-16; a text ends at its
// first NUL. Types that hold no value of these kinds read as absent. Texts
// are written as REG_SZ.
//
// A write opens or creates every subkey it needs before it sets any value,
// so that a key that cannot be written (access denied, a volatile parent)
// fails before anything has changed.
#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace Tarvo {

class RegistryKey
{
public:
    // "HKEY_CURRENT_USER\\Software\\..." or "HKEY_LOCAL_MACHINE\\SOFTWARE\\...";
    // without a root, HKEY_CURRENT_USER.
    explicit RegistryKey(const QString &path);
    // Whether the path starts with a root this class knows.
    static bool namesRoot(const QString &path);

    // Whether the key itself exists (it may hold no value yet).
    bool exists() const;

    QString path() const { return m_path; }
    // The value's text, or none when it or its group does not exist.
    std::optional<QString> text(const QString &key) const;
    // Sets each key to its text; false with the system's reason.
    bool write(const QList<std::pair<QString, QString>> &texts, QString &error);

private:
    QString m_path;
    void *m_root = nullptr; // the HKEY the subkey lies under
    QString m_subkey;
};

} // namespace Tarvo
