#include "SettingsFile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Tarvo::SettingsFile {

QByteArray encode(const QMap<QString, QString> &values)
{
    QJsonObject object;
    for (auto it = values.begin(); it != values.end(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

bool decode(const QByteArray &data, QMap<QString, QString> &values, QString &error)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (document.isNull()) {
        error = QStringLiteral("not JSON (%1 at %2)")
                    .arg(parseError.errorString())
                    .arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("not a JSON object");
        return false;
    }
    QMap<QString, QString> read;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.key().contains(QLatin1Char('/'))) {
            error = QStringLiteral("\"%1\" is no \"Group/Key\"").arg(it.key().left(80));
            return false;
        }
        if (!it.value().isString()) {
            error = QStringLiteral("the value of \"%1\" is not a text").arg(it.key().left(80));
            return false;
        }
        read.insert(it.key(), it.value().toString());
    }
    values = read;
    return true;
}

} // namespace Tarvo::SettingsFile
