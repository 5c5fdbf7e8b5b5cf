// tarvod's command line: where its settings, state, log and control channel
// are, and on Windows what it does with its service. Each location has a
// system default, the places a server started at boot uses; nothing ever
// falls back to a per-user folder, since such a server has no user.
//
// The defaults are the platform's (Defaults::platform()): on Linux the
// folders the service manager makes for the unit, on Windows the registry
// key HKLM\SOFTWARE\Tarvo for the settings, %ProgramData%\Tarvo for state
// and log, and the pipe "tarvo-control". A --settings that names a registry
// root ("HKEY_LOCAL_MACHINE\...", "HKEY_CURRENT_USER\...") and a Windows
// control channel (a pipe's name) are taken as they stand; other paths given
// are made absolute from where tarvod was started. Defaults stand as they are.
//
// The service verbs exist where the defaults say so (Windows): one of them at
// most, --wait only with those that wait, and no location with any but
// --service (the service's own run, which may be pointed elsewhere).
#pragma once

#include <QString>
#include <QStringList>

namespace Tarvo {

struct DaemonOptions
{
    struct Defaults
    {
        QString settings;
        QString stateDir;
        QString logDir;
        QString control;
        bool windows = false; // the service verbs, pipe names, registry paths

        static Defaults forLinux();
        // Under programData (%ProgramData%, C:\ProgramData when unset).
        static Defaults forWindows(const QString &programData);
        static Defaults platform();
    };

    enum class Verb {
        Serve,         // in the foreground
        RunService,    // under the Service Control Manager
        Install,       // registers this tarvod as the service
        Start,         // starts it and waits until it runs
        Stop,          // stops it in order and waits for its process to end
        CloseWhenIdle, // asks it to end after the job and call, and waits
        Remove,        // stops it if need be and deletes it
        Status,        // prints its state
    };

    explicit DaemonOptions(const Defaults &defaults = Defaults::platform());

    Verb verb = Verb::Serve;
    QString settings;
    QString stateDir;
    QString logDir;
    QString control;
    // How long a verb waits, in seconds: --wait, else the verb's own default.
    int waitSeconds = 0;

    // Parses arguments (the program's name first). False with what to say
    // in message and the exit status: 0 after --help or --version, 2 for a
    // bad command line.
    bool parse(const QStringList &arguments, QString &message, int &exitStatus);

private:
    bool m_windows = false;
};

} // namespace Tarvo
