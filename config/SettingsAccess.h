// What the configuration window needs of a settings store: load the model,
// save it (false with the reason, the store then as it was), the device a
// COM number stands for, and where the store is, for the message when a
// save fails. The per-user store is one; a tray attached to a server
// reaches the server's settings over its control channel through another.
// Such a server runs without anybody logged in, which the window must know
// to judge the paths it is given (ServicePaths.h).
#pragma once

#include <QString>

namespace Tarvo {

struct Configuration;

class SettingsAccess
{
public:
    virtual ~SettingsAccess() = default;
    // Overwrites the whole model except the two counts.
    virtual void LoadSettings(Configuration &model) = 0;
    virtual bool SaveSettings(const Configuration &model, QString &error) = 0;
    virtual QString portDevice(int comNumber) const = 0;
    virtual QString location() const = 0;
    // The settings are read by a server that runs without anybody logged in.
    virtual bool readByService() const { return false; }
};

} // namespace Tarvo
