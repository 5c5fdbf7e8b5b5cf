#include "DaemonOptions.h"

#include "AppVersion.h"

#include <QCommandLineParser>
#include <QDir>

namespace Tarvo {

bool DaemonOptions::parse(const QStringList &arguments, QString &message, int &exitStatus)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the portables' calls on a modem without a window."));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"), QStringLiteral("The settings file (default %1).").arg(settings),
        QStringLiteral("FILE"), settings);
    const QCommandLineOption stateOption(
        QStringLiteral("state-dir"),
        QStringLiteral("The folder of the upload journal and locks (default %1).").arg(stateDir),
        QStringLiteral("DIR"), stateDir);
    const QCommandLineOption logOption(
        QStringLiteral("log-dir"),
        QStringLiteral("The folder of Tarvo.Log (default %1).").arg(logDir), QStringLiteral("DIR"),
        logDir);
    const QCommandLineOption controlOption(
        QStringLiteral("control"),
        QStringLiteral("The control channel's socket (default %1).").arg(control),
        QStringLiteral("PATH"), control);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Shows this help."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Shows the version."));
    parser.addOptions(
        {settingsOption, stateOption, logOption, controlOption, helpOption, versionOption});

    exitStatus = 2;
    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        message =
            QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return false;
    }
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        exitStatus = 0;
        message = parser.isSet(helpOption)
                      ? parser.helpText()
                      : QStringLiteral("tarvod %1").arg(QLatin1String(AppVersion::Version));
        return false;
    }
    for (const QCommandLineOption *option :
         {&settingsOption, &stateOption, &logOption, &controlOption})
        if (parser.value(*option).isEmpty()) {
            message = QStringLiteral("--%1 may not be empty.").arg(option->names().first());
            return false;
        }
    // Relative paths are taken from where the server was started, once.
    const auto absolute = [&parser](const QCommandLineOption &option) {
        return QDir::cleanPath(QDir::current().absoluteFilePath(parser.value(option)));
    };
    settings = absolute(settingsOption);
    stateDir = absolute(stateOption);
    logDir = absolute(logOption);
    control = absolute(controlOption);
    return true;
}

} // namespace Tarvo
