// The settings as a control client sees them: every value by "Group/Key",
// the names the settings file uses ("Settings/Modem Port", "Dnld1/Open
// From", "File3/Save As", "Ports/COM1"), and the check of values a client
// sends before they are saved.
//
// A client may change the model's 34 values. The Ports and Recovery groups
// are shown as the server reads them but belong to whoever edits the file:
// a value for them that differs from what is stored is refused, as is a
// name the store does not know, or a port or job number out of range.
#pragma once

#include "Configuration.h"

#include <QMap>
#include <QString>

namespace Tarvo {

class SettingsStore;

namespace SettingsValues {

QMap<QString, QString> read(SettingsStore &store, const Configuration &model);
// The model's 34 values alone.
QMap<QString, QString> modelValues(const Configuration &model);
// Sets the model's value named key (a number that does not parse becomes
// -1); false for a name that is none of the model's.
bool takeModelValue(const QString &key, const QString &value, Configuration &model);
// Applies values over model; false with the reason when one cannot be taken
// (model is then partly changed: work on a copy).
bool apply(const QMap<QString, QString> &values, SettingsStore &store, Configuration &model,
           QString &error);
// Why the model cannot be served, or empty when it can.
QString problem(const Configuration &model);

} // namespace SettingsValues

} // namespace Tarvo
