// The per-user settings store: the one place that knows every section, key,
// default and range of Tarvo's stored configuration.
//
// On Linux the store is an INI file, $XDG_CONFIG_HOME/Tarvo/Tarvo.conf
// (~/.config/Tarvo/Tarvo.conf), read and written in IniTextFormat's syntax
// so that plain QSettings, a text editor and this program agree on it; on
// Windows it is the registry key HKCU\Software\VB and VBA Program
// Settings\Tarvo, where per-user settings of classic desktop programs live,
// so an existing configuration is found there (RegistryKey: its texts are
// read and written as they stand).
//
// The model occupies 34 values: Settings/"Modem Port", Settings/"Job", and
// "Name" plus "Open From" of Dnld1..Dnld8 and "Name" plus "Save As" of
// File1..File8. All of them are read every time and stored every time;
// a value that already reads as the model's, here and in plain QSettings,
// is left as it was written, and nothing is ever removed. The Ports group
// (COM1..COM4) tells which device each COM number stands for; the program
// only reads it.
//
// Saving says why it failed, in the system's words, and then leaves the
// store as it was: the file is replaced as a whole (written beside it,
// synced, renamed over it, read back), the registry's subkeys are all opened
// before a value is set. A store that cannot be written but already reads as
// the model (a file an administrator provided, lacking only empty entries)
// counts as saved.
//
// The store may be edited while the program runs: every load and every
// device lookup reads it afresh.
//
// The Windows service keeps its settings per machine, in the same subkeys
// and values under HKLM\SOFTWARE\Tarvo (MachineKey); a server is given its
// store as a ServerLocation, which is that key, another registry key path or
// a settings file.
#pragma once

#include "Configuration.h"
#include "SettingsAccess.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace Tarvo {

class SettingsStore final : public SettingsAccess
{
public:
    static constexpr std::int16_t DefaultModemPort = 1;
    static constexpr std::int16_t DefaultJobType = DownloadAndUpload;
    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 4;

    // The platform's per-user store.
    SettingsStore();
    // An INI file at the given path (tests and the demonstration use this).
    explicit SettingsStore(const QString &iniPath);
    // The platform's own kind of store somewhere else: a registry key path
    // ("HKEY_CURRENT_USER\\Software\\...") on Windows, a .conf file
    // elsewhere. Tests use it so that they never touch the user's store.
    struct NativeLocation
    {
        QString path;
    };
    explicit SettingsStore(const NativeLocation &location);
    // A server's store: a registry key when the path names a registry root
    // (Windows), else an INI file.
    struct ServerLocation
    {
        QString path;
    };
    explicit SettingsStore(const ServerLocation &location);
    // The per-machine key of the Windows service.
    static constexpr char MachineKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvo";
    ~SettingsStore() override;

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // Overwrites the whole model except the two counts, which the caller
    // derives (Configuration::deriveCounts).
    void LoadSettings(Configuration &model) override;
    // What the last LoadSettings read that the call would refuse: one
    // sentence per entry in use whose portable name cannot travel (a name
    // typed into the store by hand), for whoever runs calls from it to say.
    QStringList refusedNames() const { return m_refusedNames; }
    // Writes all 34 values of the model; false, with the system's reason in
    // error, when the store could not take them and does not already hold them.
    bool SaveSettings(const Configuration &model, QString &error) override;

    // The device COMn stands for on this machine, from the Ports group.
    QString portDevice(int comNumber) const override;
    // Recovery without a click: on unless the Recovery group's Retry key
    // says "0", "false", "no" or "off" (any case). Read afresh each time.
    bool retryEnabled() const;
    // Keeping the PC awake while the modem is armed: on unless the Service
    // group's "Keep Awake" key says no in the same words. Read afresh.
    bool keepAwakeEnabled() const;
    // Whether the store is there at all (a file, a registry key), and
    // whether it is a registry key.
    bool exists() const;
    bool inRegistry() const;
    static QString defaultPortDevice(int comNumber);

    // Where the store lives, for messages and the About box.
    QString location() const override;

    static bool isValidPort(int port) { return port >= FirstPort && port <= LastPort; }
    static bool isValidJob(int job) { return job >= DownloadOnly && job <= DownloadAndUpload; }

    // A stored number as the model holds it: a whole decimal number that fits
    // 16 bits, otherwise the fallback. Out-of-range numbers are kept; the
    // window decides what it can show of them.
    static std::int16_t parseStoredNumber(const QString &text, std::int16_t fallback);

    // Where the values live, by "Group/Key".
    class Backend;

private:
    bool switchedOn(const char *key) const;

    std::unique_ptr<Backend> m_settings;
    QStringList m_refusedNames;
};

} // namespace Tarvo
