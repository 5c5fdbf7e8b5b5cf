#include "RemoteSettings.h"

#include "AttachedServer.h"
#include "Configuration.h"
#include "SettingsStore.h"
#include "SettingsValues.h"

namespace Tarvo {

bool RemoteSettings::fetch(QString &error)
{
    return m_server.settings(m_values, error);
}

void RemoteSettings::LoadSettings(Configuration &model)
{
    // Every value is the server's; one it did not send is empty, as a
    // missing key of the per-user store reads.
    const auto downloadCount = model.DownloadCount, uploadCount = model.UploadCount;
    model = Configuration();
    model.DownloadCount = downloadCount;
    model.UploadCount = uploadCount;
    model.ModemPort = SettingsStore::DefaultModemPort;
    model.JobType = SettingsStore::DefaultJobType;
    for (auto [key, value] : m_values.asKeyValueRange())
        SettingsValues::takeModelValue(key, value, model);
}

bool RemoteSettings::SaveSettings(const Configuration &model, QString &error)
{
    const QMap<QString, QString> values = SettingsValues::modelValues(model);
    const ControlResult result = m_server.saveSettings(values);
    if (!result.ok) {
        error = result.message;
        return false;
    }
    m_values.insert(values);
    return true;
}

QString RemoteSettings::portDevice(int comNumber) const
{
    const QString device = m_values.value(QStringLiteral("Ports/COM%1").arg(comNumber));
    return device.isEmpty() ? SettingsStore::defaultPortDevice(comNumber) : device;
}

QString RemoteSettings::location() const
{
    return QStringLiteral("the server at %1").arg(m_server.path());
}

} // namespace Tarvo
