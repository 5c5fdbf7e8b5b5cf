#include "SettingsValues.h"

#include "SettingsStore.h"

namespace Tarvo::SettingsValues {

namespace {

const QString ModemPortKey = QStringLiteral("Settings/Modem Port");
const QString JobKey = QStringLiteral("Settings/Job");
const QString RetryKey = QStringLiteral("Recovery/Retry");

QString slot(const char *prefix, int index, const char *name)
{
    return QStringLiteral("%1%2/%3")
        .arg(QLatin1String(prefix))
        .arg(index + 1)
        .arg(QLatin1String(name));
}

QString portKey(int comNumber)
{
    return QStringLiteral("Ports/COM%1").arg(comNumber);
}

// What only the file's editor changes.
QMap<QString, QString> readOnly(SettingsStore &store)
{
    QMap<QString, QString> values;
    for (int port = SettingsStore::FirstPort; port <= SettingsStore::LastPort; ++port)
        values.insert(portKey(port), store.portDevice(port));
    values.insert(RetryKey, store.retryEnabled() ? QStringLiteral("1") : QStringLiteral("0"));
    return values;
}

} // namespace

QMap<QString, QString> modelValues(const Configuration &model)
{
    QMap<QString, QString> values;
    values.insert(ModemPortKey, QString::number(model.ModemPort));
    values.insert(JobKey, QString::number(model.JobType));
    for (int i = 0; i < MaxEntries; ++i) {
        values.insert(slot("Dnld", i, "Name"), model.DownloadList[i].Name);
        values.insert(slot("Dnld", i, "Open From"), model.DownloadList[i].OpenFrom);
        values.insert(slot("File", i, "Name"), model.UploadList[i].Name);
        values.insert(slot("File", i, "Save As"), model.UploadList[i].SaveAs);
    }
    return values;
}

QMap<QString, QString> read(SettingsStore &store, const Configuration &model)
{
    QMap<QString, QString> values = readOnly(store);
    values.insert(modelValues(model));
    return values;
}

bool takeModelValue(const QString &key, const QString &value, Configuration &model)
{
    if (key == ModemPortKey || key == JobKey) {
        std::int16_t &number = key == ModemPortKey ? model.ModemPort : model.JobType;
        number = SettingsStore::parseStoredNumber(value, -1);
        return true;
    }
    for (int i = 0; i < MaxEntries; ++i) {
        QString *const texts[] = {&model.DownloadList[i].Name, &model.DownloadList[i].OpenFrom,
                                  &model.UploadList[i].Name, &model.UploadList[i].SaveAs};
        const QString keys[] = {slot("Dnld", i, "Name"), slot("Dnld", i, "Open From"),
                                slot("File", i, "Name"), slot("File", i, "Save As")};
        for (int k = 0; k < 4; ++k)
            if (key == keys[k]) {
                *texts[k] = value;
                return true;
            }
    }
    return false;
}

bool apply(const QMap<QString, QString> &values, SettingsStore &store, Configuration &model,
           QString &error)
{
    const QMap<QString, QString> fixed = readOnly(store);
    for (auto [key, value] : values.asKeyValueRange()) {
        if (takeModelValue(key, value, model))
            continue;
        if (!fixed.contains(key)) {
            error = QStringLiteral("There is no setting %1.").arg(key);
            return false;
        }
        if (fixed.value(key) != value) {
            error = QStringLiteral("%1 is changed in the settings file %2 only.")
                        .arg(key, store.location());
            return false;
        }
    }
    model.deriveCounts();
    error = problem(model);
    return error.isEmpty();
}

QString problem(const Configuration &model)
{
    if (!SettingsStore::isValidPort(model.ModemPort))
        return QStringLiteral("The modem port must be COM%1 to COM%2.")
            .arg(SettingsStore::FirstPort)
            .arg(SettingsStore::LastPort);
    if (!SettingsStore::isValidJob(model.JobType))
        return QStringLiteral("The job must be %1 (download), %2 (upload) or %3 (both).")
            .arg(int(DownloadOnly))
            .arg(int(UploadOnly))
            .arg(int(DownloadAndUpload));
    return {};
}

} // namespace Tarvo::SettingsValues
