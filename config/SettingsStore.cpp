#include "SettingsStore.h"

#include "IniTextFormat.h"

#include <QSettings>
#include <limits>

namespace Tarvo {

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

QString key(const QString &section, const char *name)
{
    return section + QLatin1Char('/') + QLatin1String(name);
}

QString slotSection(const char *prefix, int slot)
{
    return QLatin1String(prefix) + QString::number(slot + 1);
}

std::unique_ptr<QSettings> platformSettings()
{
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Tarvo"),
        QSettings::NativeFormat);
#else
    // INI text named .conf, where the native format keeps it, but read so
    // that hand-written values come in exactly as they stand.
    return std::make_unique<QSettings>(IniTextFormat::format(), QSettings::UserScope,
                                       QStringLiteral("Tarvo"), QStringLiteral("Tarvo"));
#endif
}
} // namespace

SettingsStore::SettingsStore() : m_settings(platformSettings()) {}

SettingsStore::SettingsStore(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, IniTextFormat::format()))
{
}

SettingsStore::SettingsStore(const NativeLocation &location)
    : m_settings(std::make_unique<QSettings>(location.path, QSettings::NativeFormat))
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
    QSettings &s = *m_settings;
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
}

void SettingsStore::SaveSettings(const Configuration &model)
{
    QSettings &s = *m_settings;
    s.sync();
    // A value that already reads as the model's stays as it was written:
    // bytes that are not UTF-8, a comment after it, the user's spelling.
    const auto store = [&s](const QString &where, const QString &text) {
        if (!s.contains(where) || s.value(where).toString() != text)
            s.setValue(where, text);
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
    s.sync();
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

bool SettingsStore::retryEnabled() const
{
    m_settings->sync();
    const QString stored =
        m_settings->value(QLatin1String(RetryKey)).toString().trimmed().toLower();
    return stored != QLatin1String("0") && stored != QLatin1String("false") &&
           stored != QLatin1String("no") && stored != QLatin1String("off");
}

QString SettingsStore::location() const
{
    return m_settings->fileName();
}

} // namespace Tarvo
