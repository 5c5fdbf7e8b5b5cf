// Saving the settings with an administrator's rights, for a tray whose
// user the server lets watch and drive the modem but not change its
// settings.
//
// The Windows way (systemElevatedSave()): the values go to a temporary file
// that only this user and the administrators may read, tarvoctl.exe beside
// the program runs elevated through UAC ("runas") as
// `tarvoctl --control PIPE save-settings --from FILE --report FILE` and is
// waited for (events keep flowing meanwhile), and its exit status with the
// reason it wrote to the report file is the save's result. A confirmation
// the user declines is a refusal too. Both files go afterwards.
//
// Behind this interface the tray's decision (AttachedServer::saveSettings)
// is tested without UAC. Elsewhere than on Windows there is none: on Linux
// everybody the server lets in may save.
#pragma once

#include "ControlTarget.h"

#include <QMap>
#include <QString>
#include <memory>

namespace Tarvo {

class ElevatedSave
{
public:
    virtual ~ElevatedSave() = default;
    // Saves values through the server at controlPath as an administrator.
    virtual ControlResult save(const QString &controlPath,
                               const QMap<QString, QString> &values) = 0;
};

// The system's way, or nullptr where there is none.
std::unique_ptr<ElevatedSave> systemElevatedSave();

} // namespace Tarvo
