#include "SettingsStore.h"

#include "HostFiles.h"
#include "IniTextFormat.h"
#ifdef Q_OS_WIN
#include "RegistryKey.h"
#endif

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <limits>

namespace Tarvo {

class SettingsStore::Backend
{
public:
    using Texts = QList<std::pair<QString, QString>>;

    virtual ~Backend() = default;
    // Looks at the store again: it may have been changed from outside.
    virtual void sync() = 0;
    // The stored text as this program reads it, or fallback when there is none.
    virtual QVariant value(const QString &key, const QVariant &fallback = {}) const = 0;
    // Left as it was written, the value reads as value() in other readers too.
    virtual bool standsAsRead(const QString &key) const = 0;
    // Stores the texts and keeps everything else; false with the reason.
    virtual bool write(const Texts &texts, QString &error) = 0;
    virtual QString fileName() const = 0;
    virtual bool exists() const = 0;
    virtual bool isRegistry() const { return false; }
};

namespace {
constexpr char SettingsSection[] = "Settings";
constexpr char ModemPortKey[] = "Modem Port";
constexpr char JobKey[] = "Job";
constexpr char DownloadPrefix[] = "Dnld";
constexpr char UploadPrefix[] = "File";
constexpr char NameKey[] = "Name";
constexpr char OpenFromKey[] = "Open From";
constexpr char SaveAsKey[] = "Save As";
constexpr char PortsSection[] = "Ports";
constexpr char RetryKey[] = "Recovery/Retry";
constexpr char KeepAwakeKey[] = "Service/Keep Awake";

QString key(const QString &section, const char *name)
{
    return section + QLatin1Char('/') + QLatin1String(name);
}

QString slotSection(const char *prefix, int slot)
{
    return QLatin1String(prefix) + QString::number(slot + 1);
}

// The whole file; an absent one is empty. toWrite: the file must also be
// one that may be written (one made read-only is not replaced either).
bool readWhole(const QString &path, QByteArray &bytes, QString &error, bool toWrite = false)
{
    bytes.clear();
    if (!QFileInfo::exists(path))
        return true;
    QFile file(path);
    const auto mode =
        toWrite ? QIODevice::ReadWrite | QIODevice::ExistingOnly : QIODevice::ReadOnly;
    if (!openRegularFile(file, mode, error))
        return false;
    char block[4096];
    for (qint64 got; (got = readSome(file, path, block, sizeof block, error)) != 0;) {
        if (got < 0)
            return false;
        bytes.append(block, got);
    }
    return true;
}

QSettings::SettingsMap parse(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QSettings::SettingsMap map;
    IniTextFormat::read(buffer, map);
    return map;
}

bool makeFolder(const QString &folder, QString &error)
{
    errno = 0;
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return true;
    error = errno ? systemErrorText(errno) : QStringLiteral("the folder cannot be made");
    return false;
}

// The settings file, read afresh at each look. It is written here and not
// through QSettings, which says no more than "access error" and keeps a
// change it could not write for its next try.
class IniFile final : public SettingsStore::Backend
{
public:
    explicit IniFile(QString path) : m_path(std::move(path)) {}

    void sync() override
    {
        QByteArray bytes;
        QString error;
        m_map = readWhole(m_path, bytes, error) ? parse(bytes) : QSettings::SettingsMap();
    }
    QVariant value(const QString &key, const QVariant &fallback) const override
    {
        const auto it = m_map.constFind(key);
        return it == m_map.cend() ? fallback : QVariant(stored(*it).text);
    }
    bool standsAsRead(const QString &key) const override
    {
        const IniTextFormat::StoredValue entry = stored(m_map.value(key));
        return entry.stands && entry.alike;
    }
    bool write(const Texts &texts, QString &error) override
    {
        // Written where a linked file lives, over what the file holds now.
        QByteArray bytes;
        const QString target = resolveLinks(m_path, error);
        if (target.isEmpty() || !readWhole(target, bytes, error, true) ||
            !makeFolder(QFileInfo(target).absolutePath(), error))
            return false;
        QSettings::SettingsMap map = parse(bytes);
        for (const auto &[key, text] : texts)
            map[key] = text;
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        IniTextFormat::write(out, map);
        const QFile::Permissions mode = QFile::permissions(target);
        if (!writeFileChecked(target, out.data(), error))
            return false;
        if (mode)
            QFile::setPermissions(target, mode);
        m_map = parse(out.data());
        return true;
    }
    QString fileName() const override { return m_path; }
    bool exists() const override { return QFileInfo::exists(m_path); }

private:
    static IniTextFormat::StoredValue stored(const QVariant &value)
    {
        return value.value<IniTextFormat::StoredValue>();
    }

    QString m_path;
    QSettings::SettingsMap m_map;
};

#ifdef Q_OS_WIN
class Registry final : public SettingsStore::Backend
{
public:
    explicit Registry(const QString &path) : m_key(path) {}

    void sync() override {} // read at each look
    QVariant value(const QString &key, const QVariant &fallback) const override
    {
        const std::optional<QString> text = m_key.text(key);
        return text ? QVariant(*text) : fallback;
    }
    bool standsAsRead(const QString &) const override { return true; }
    bool write(const Texts &texts, QString &error) override { return m_key.write(texts, error); }
    QString fileName() const override { return m_key.path(); }
    bool exists() const override { return m_key.exists(); }
    bool isRegistry() const override { return true; }

private:
    RegistryKey m_key;
};
#endif

std::unique_ptr<SettingsStore::Backend> nativeStore(const QString &path)
{
#ifdef Q_OS_WIN
    return std::make_unique<Registry>(path);
#else
    return std::make_unique<IniFile>(path);
#endif
}

std::unique_ptr<SettingsStore::Backend> serverStore(const QString &path)
{
#ifdef Q_OS_WIN
    if (RegistryKey::namesRoot(path))
        return std::make_unique<Registry>(path);
#endif
    return std::make_unique<IniFile>(path);
}

QString platformLocation()
{
#ifdef Q_OS_WIN
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Tarvo");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Tarvo/Tarvo.conf");
#endif
}
} // namespace

SettingsStore::SettingsStore() : m_settings(nativeStore(platformLocation())) {}

SettingsStore::SettingsStore(const QString &iniPath)
    : m_settings(std::make_unique<IniFile>(iniPath))
{
}

SettingsStore::SettingsStore(const NativeLocation &location)
    : m_settings(nativeStore(location.path))
{
}

SettingsStore::SettingsStore(const ServerLocation &location)
    : m_settings(serverStore(location.path))
{
}

SettingsStore::~SettingsStore() = default;

std::int16_t SettingsStore::parseStoredNumber(const QString &text, std::int16_t fallback)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    // toLongLong stops at an embedded NUL, so "1\0x" would pass as 1.
    if (!ok || text.contains(QChar(0)) || value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        return fallback;
    return static_cast<std::int16_t>(value);
}

void SettingsStore::LoadSettings(Configuration &model)
{
    Backend &s = *m_settings;
    s.sync(); // the file may have been edited since the last look
    const auto number = [&s](const char *name, std::int16_t fallback) {
        const QVariant stored = s.value(key(QLatin1String(SettingsSection), name));
        return stored.isValid() ? parseStoredNumber(stored.toString(), fallback) : fallback;
    };
    const auto text = [&s](const QString &section, const char *name) {
        return s.value(key(section, name)).toString();
    };

    model.ModemPort = number(ModemPortKey, DefaultModemPort);
    model.JobType = number(JobKey, DefaultJobType);
    for (int i = 0; i < MaxEntries; ++i) {
        const QString section = slotSection(DownloadPrefix, i);
        model.DownloadList[i].Name = text(section, NameKey);
        model.DownloadList[i].OpenFrom = text(section, OpenFromKey);
    }
    for (int i = 0; i < MaxEntries; ++i) {
        const QString section = slotSection(UploadPrefix, i);
        model.UploadList[i].Name = text(section, NameKey);
        model.UploadList[i].SaveAs = text(section, SaveAsKey);
    }
    Configuration counted = model;
    counted.deriveCounts();
    m_refusedNames = nameRefusals(counted);
}

bool SettingsStore::SaveSettings(const Configuration &model, QString &error)
{
    Backend &s = *m_settings;
    s.sync();
    // A value that already reads as the model's, here and in other readers,
    // stays as it was written: bytes that are not UTF-8, a comment after it,
    // the user's spelling.
    Backend::Texts changes;
    const auto store = [&s, &changes](const QString &where, const QString &text) {
        const QVariant stored = s.value(where);
        if (!stored.isValid() || stored.toString() != text || !s.standsAsRead(where))
            changes.append({where, text});
    };
    // Numbers are written as text: the registry keeps them as plain strings.
    store(key(QLatin1String(SettingsSection), ModemPortKey), QString::number(model.ModemPort));
    store(key(QLatin1String(SettingsSection), JobKey), QString::number(model.JobType));
    for (int i = 0; i < MaxEntries; ++i) {
        const QString section = slotSection(DownloadPrefix, i);
        store(key(section, NameKey), model.DownloadList[i].Name);
        store(key(section, OpenFromKey), model.DownloadList[i].OpenFrom);
    }
    for (int i = 0; i < MaxEntries; ++i) {
        const QString section = slotSection(UploadPrefix, i);
        store(key(section, NameKey), model.UploadList[i].Name);
        store(key(section, SaveAsKey), model.UploadList[i].SaveAs);
    }
    if (changes.isEmpty() || s.write(changes, error))
        return true;
    // Nothing is lost when only values that were missing could not be added.
    Configuration stored;
    LoadSettings(stored);
    stored.DownloadCount = model.DownloadCount;
    stored.UploadCount = model.UploadCount;
    return stored == model;
}

QString SettingsStore::defaultPortDevice(int comNumber)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(comNumber);
#else
    return QStringLiteral("/dev/ttyS%1").arg(comNumber - 1);
#endif
}

QString SettingsStore::portDevice(int comNumber) const
{
    // Asked at every open of the port: a corrected device counts at the next Start.
    m_settings->sync();
    const QString stored =
        m_settings
            ->value(QStringLiteral("%1/COM%2").arg(QLatin1String(PortsSection)).arg(comNumber))
            .toString()
            .trimmed();
    return stored.isEmpty() ? defaultPortDevice(comNumber) : stored;
}

// A switch that is on unless it says a plain no.
bool SettingsStore::switchedOn(const char *key) const
{
    m_settings->sync();
    const QString stored = m_settings->value(QLatin1String(key)).toString().trimmed().toLower();
    return stored != QLatin1String("0") && stored != QLatin1String("false") &&
           stored != QLatin1String("no") && stored != QLatin1String("off");
}

bool SettingsStore::retryEnabled() const
{
    return switchedOn(RetryKey);
}

bool SettingsStore::keepAwakeEnabled() const
{
    return switchedOn(KeepAwakeKey);
}

bool SettingsStore::exists() const
{
    return m_settings->exists();
}

bool SettingsStore::inRegistry() const
{
    return m_settings->isRegistry();
}

QString SettingsStore::location() const
{
    return m_settings->fileName();
}

} // namespace Tarvo
