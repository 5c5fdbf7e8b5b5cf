// The commands of tarvoctl: reading the command line, and running one
// command against the server through a ControlClient.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace Tarvo {

struct CtlCommand
{
    QString name; // status, start, stop, watch, close-when-idle, recheck, save-settings, version,
                  // help
    QString control; // --control PATH, empty when not given
    bool json = false;
    bool numbered = false;              // watch --seq
    std::optional<bool> hangUp;         // stop --hang-up / --keep-call
    std::optional<std::uint64_t> since; // watch --since N
    std::optional<int> waitSeconds;     // close-when-idle --wait S
    QString from;                       // save-settings --from FILE
    QString report;                     // save-settings --report FILE
};

bool parseCtlArguments(const QStringList &arguments, CtlCommand &command, QString &error);
QString ctlUsage();

// The exit status: 0 done, 1 not done (the reason on standard error).
int runCtlCommand(const CtlCommand &command, const QString &path);

} // namespace Tarvo
