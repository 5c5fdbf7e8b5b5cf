// tarvod's command line: where its settings, state, log and control socket
// are. Each has a system default, the folders the service manager makes for
// the unit; nothing ever falls back to a per-user folder, since a server
// started at boot has no user.
#pragma once

#include <QString>
#include <QStringList>

namespace Tarvo {

struct DaemonOptions
{
    static constexpr char DefaultSettings[] = "/etc/tarvo/Tarvo.conf";
    static constexpr char DefaultStateDir[] = "/var/lib/tarvo";
    static constexpr char DefaultLogDir[] = "/var/log/tarvo";
    static constexpr char DefaultControl[] = "/run/tarvo/control";

    QString settings = QLatin1String(DefaultSettings);
    QString stateDir = QLatin1String(DefaultStateDir);
    QString logDir = QLatin1String(DefaultLogDir);
    QString control = QLatin1String(DefaultControl);

    // Parses arguments (the program's name first). False with what to say
    // in message and the exit status: 0 after --help or --version, 2 for a
    // bad command line.
    bool parse(const QStringList &arguments, QString &message, int &exitStatus);
};

} // namespace Tarvo
