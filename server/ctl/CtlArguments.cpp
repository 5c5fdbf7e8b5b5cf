#include "CtlCommands.h"

#include <QSet>

namespace Tarvo {

namespace {

const QSet<QString> &commandNames()
{
    static const QSet<QString> names{QStringLiteral("status"),
                                     QStringLiteral("start"),
                                     QStringLiteral("stop"),
                                     QStringLiteral("watch"),
                                     QStringLiteral("close-when-idle"),
                                     QStringLiteral("recheck"),
                                     QStringLiteral("save-settings"),
                                     QStringLiteral("version"),
                                     QStringLiteral("help")};
    return names;
}

// The options each command takes, besides --control.
bool optionFits(const QString &command, const QString &option)
{
    if (option == QLatin1String("--json"))
        return command == QLatin1String("status") || command == QLatin1String("watch");
    if (option == QLatin1String("--hang-up") || option == QLatin1String("--keep-call"))
        return command == QLatin1String("stop");
    if (option == QLatin1String("--since") || option == QLatin1String("--seq"))
        return command == QLatin1String("watch");
    if (option == QLatin1String("--wait"))
        return command == QLatin1String("close-when-idle");
    if (option == QLatin1String("--from") || option == QLatin1String("--report"))
        return command == QLatin1String("save-settings");
    return false;
}

} // namespace

bool parseCtlArguments(const QStringList &arguments, CtlCommand &command, QString &error)
{
    command = CtlCommand();
    QStringList options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            command.name = QStringLiteral("help");
            return true;
        }
        if (a == QLatin1String("--control") || a == QLatin1String("--since") ||
            a == QLatin1String("--wait") || a == QLatin1String("--from") ||
            a == QLatin1String("--report")) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(a);
                return false;
            }
            options << a << arguments[++i];
        } else if (a.startsWith(QLatin1String("--"))) {
            options << a << QString();
        } else if (command.name.isEmpty()) {
            command.name = a;
        } else {
            error = QStringLiteral("one command at a time (%1 and %2)").arg(command.name, a);
            return false;
        }
    }
    if (command.name.isEmpty() || !commandNames().contains(command.name)) {
        error = command.name.isEmpty() ? QStringLiteral("no command given")
                                       : QStringLiteral("unknown command %1").arg(command.name);
        return false;
    }
    for (int i = 0; i < options.size(); i += 2) {
        const QString &option = options[i];
        const QString &value = options[i + 1];
        bool number = true;
        if (option == QLatin1String("--control")) {
            command.control = value;
        } else if (!optionFits(command.name, option)) {
            error = QStringLiteral("%1 takes no %2").arg(command.name, option);
            return false;
        } else if (option == QLatin1String("--json")) {
            command.json = true;
        } else if (option == QLatin1String("--seq")) {
            command.numbered = true;
        } else if (option == QLatin1String("--hang-up") || option == QLatin1String("--keep-call")) {
            if (command.hangUp) {
                error = QStringLiteral("--hang-up and --keep-call exclude each other");
                return false;
            }
            command.hangUp = option == QLatin1String("--hang-up");
        } else if (option == QLatin1String("--since")) {
            command.since = value.toULongLong(&number);
        } else if (option == QLatin1String("--from")) {
            command.from = value;
        } else if (option == QLatin1String("--report")) {
            command.report = value;
        } else if (option == QLatin1String("--wait")) {
            command.waitSeconds = value.toInt(&number);
            number = number && *command.waitSeconds >= 0;
        }
        if (!number) {
            error = QStringLiteral("%1 needs a number, not \"%2\"").arg(option, value);
            return false;
        }
    }
    if (command.name == QLatin1String("save-settings") && command.from.isEmpty()) {
        error = QStringLiteral("save-settings needs --from FILE");
        return false;
    }
    return true;
}

QString ctlUsage()
{
    return QStringLiteral(
        "Usage: tarvoctl [--control PATH] COMMAND [OPTIONS]\n"
        "Commands:\n"
        "  status [--json]             state, armed, connected, the tip, the last line's number\n"
        "  start                       read the settings, open the port, arm the modem\n"
        "  stop [--hang-up|--keep-call]  disarm and close the port; with a call up, say\n"
        "                              whether to end it or to stop once it is over\n"
        "  watch [--since N] [--seq|--json]  what the log gets: the backlog, then live\n"
        "  close-when-idle [--wait S]  end the server once no call or job runs\n"
        "  recheck                     initialise and arm the modem again\n"
        "  save-settings --from FILE [--report FILE]  the server checks and saves the\n"
        "                              settings in FILE (a JSON object \"Group/Key\" -> text);\n"
        "                              a refusal's reason goes to the report file too\n"
        "  version                     the versions of tarvoctl, the server and the protocol\n"
        "The control path: --control PATH, else $TARVO_CONTROL, else the system's.\n");
}

} // namespace Tarvo
