// The settings as a file, for handing them to another process: one JSON
// object of "Group/Key" -> text, UTF-8. The tray writes it when the service
// wants an administrator for a save, and the elevated
// `tarvoctl save-settings --from FILE` reads it back.
//
// Reading is strict: anything but an object whose every value is a string
// is refused with the reason, so a file that is not what the tray wrote
// never reaches the server.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace Tarvo::SettingsFile {

QByteArray encode(const QMap<QString, QString> &values);
bool decode(const QByteArray &data, QMap<QString, QString> &values, QString &error);

} // namespace Tarvo::SettingsFile
