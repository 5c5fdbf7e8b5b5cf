#include "DaemonOptions.h"

#include "AppVersion.h"
#include "SettingsStore.h"

#include <QCommandLineParser>
#include <QDir>
#include <array>
#include <limits>
#include <utility>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shlobj.h>
#endif

namespace Tarvo {

namespace {

struct VerbOption
{
    DaemonOptions::Verb verb;
    const char *name;
    const char *help;
    int defaultWait; // seconds; 0 when the verb does not wait
};

constexpr std::array<VerbOption, 7> Verbs{{
    {DaemonOptions::Verb::RunService, "service",
     "Runs as the Windows service (only the Service Control Manager starts it so).", 0},
    {DaemonOptions::Verb::Install, "install-service",
     "Registers this tarvod as the Windows service Tarvo (automatic start).", 0},
    {DaemonOptions::Verb::Start, "start-service", "Starts the service; waits until it runs.", 30},
    {DaemonOptions::Verb::Stop, "stop-service",
     "Stops the service in order; waits until its process has ended.", 30},
    {DaemonOptions::Verb::CloseWhenIdle, "close-service-when-idle",
     "Asks the service to end once no job runs and no call is up; waits until it has.", 120},
    {DaemonOptions::Verb::Remove, "remove-service",
     "Stops the service if it runs, then removes it.", 30},
    {DaemonOptions::Verb::Status, "service-status", "Prints the service's state.", 0},
}};

// The longest wait a verb accepts: a day.
constexpr int MaxWaitSeconds = 24 * 60 * 60;

} // namespace

DaemonOptions::Defaults DaemonOptions::Defaults::forLinux()
{
    return {QStringLiteral("/etc/tarvo/Tarvo.conf"), QStringLiteral("/var/lib/tarvo"),
            QStringLiteral("/var/log/tarvo"), QStringLiteral("/run/tarvo/control"), false};
}

DaemonOptions::Defaults DaemonOptions::Defaults::forWindows(const QString &programData)
{
    const QString root = programData.isEmpty() ? QStringLiteral("C:\\ProgramData") : programData;
    const QString folder = root + QStringLiteral("\\Tarvo");
    return {QLatin1String(SettingsStore::MachineKey), folder, folder,
            QStringLiteral("tarvo-control"), true};
}

DaemonOptions::Defaults DaemonOptions::Defaults::platform()
{
#ifdef Q_OS_WIN
    // The system's own word: a service's %ProgramData% may differ (Wine
    // gives services C:\users\Public).
    QString programData;
    wchar_t *folder = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder)))
        programData = QString::fromWCharArray(folder);
    CoTaskMemFree(folder);
    return forWindows(programData.isEmpty() ? qEnvironmentVariable("ProgramData") : programData);
#else
    return forLinux();
#endif
}

DaemonOptions::DaemonOptions(const Defaults &defaults)
    : settings(defaults.settings), stateDir(defaults.stateDir), logDir(defaults.logDir),
      control(defaults.control), m_windows(defaults.windows)
{
}

bool DaemonOptions::parse(const QStringList &arguments, QString &message, int &exitStatus)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves the portables' calls on a modem without a window."));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("The settings %1 (default %2).")
            .arg(m_windows ? QStringLiteral("registry key or file") : QStringLiteral("file"),
                 settings),
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
        QStringLiteral("The control channel's %1 (default %2).")
            .arg(m_windows ? QStringLiteral("pipe") : QStringLiteral("socket"), control),
        QStringLiteral("PATH"), control);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Shows this help."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Shows the version."));
    parser.addOptions(
        {settingsOption, stateOption, logOption, controlOption, helpOption, versionOption});
    const QCommandLineOption waitOption(
        QStringLiteral("wait"), QStringLiteral("How long a service verb waits, in seconds."),
        QStringLiteral("S"));
    std::vector<QCommandLineOption> verbOptions;
    if (m_windows) {
        for (const VerbOption &each : Verbs)
            verbOptions.emplace_back(QLatin1String(each.name), QLatin1String(each.help));
        for (const QCommandLineOption &option : verbOptions)
            parser.addOption(option);
        parser.addOption(waitOption);
    }

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

    const VerbOption *chosen = nullptr;
    for (std::size_t i = 0; i < verbOptions.size(); ++i) {
        if (!parser.isSet(verbOptions[i]))
            continue;
        if (chosen) {
            message = QStringLiteral("--%1 and --%2 may not be given together.")
                          .arg(QLatin1String(chosen->name), QLatin1String(Verbs[i].name));
            return false;
        }
        chosen = &Verbs[i];
    }
    verb = chosen ? chosen->verb : Verb::Serve;
    waitSeconds = chosen ? chosen->defaultWait : 0;
    if (m_windows && parser.isSet(waitOption)) {
        if (waitSeconds == 0) {
            message = chosen ? QStringLiteral("--wait does not go with --%1.")
                                   .arg(QLatin1String(chosen->name))
                             : QStringLiteral("--wait goes with a service verb only.");
            return false;
        }
        bool ok = false;
        const QString text = parser.value(waitOption);
        waitSeconds = text.toInt(&ok);
        if (!ok || text.trimmed() != text || waitSeconds < 0 || waitSeconds > MaxWaitSeconds) {
            message = QStringLiteral("--wait takes whole seconds from 0 to %1, not \"%2\".")
                          .arg(MaxWaitSeconds)
                          .arg(text);
            return false;
        }
    }

    const std::array<std::pair<const QCommandLineOption *, QString *>, 4> locations{{
        {&settingsOption, &settings},
        {&stateOption, &stateDir},
        {&logOption, &logDir},
        {&controlOption, &control},
    }};
    for (const auto &[option, value] : locations) {
        if (!parser.isSet(*option))
            continue; // a default stands as it is
        if (verb != Verb::Serve && verb != Verb::RunService) {
            message = QStringLiteral("--%1 does not go with --%2: the service's own locations "
                                     "are those it was installed with.")
                          .arg(option->names().first(), QLatin1String(chosen->name));
            return false;
        }
        const QString given = parser.value(*option);
        if (given.isEmpty()) {
            message = QStringLiteral("--%1 may not be empty.").arg(option->names().first());
            return false;
        }
        // A registry key and a pipe's name are no paths; anything else is
        // taken from where the server was started, once.
        const bool asItStands =
            m_windows &&
            ((option == &settingsOption &&
              (given.startsWith(QLatin1String("HKEY_LOCAL_MACHINE\\"), Qt::CaseInsensitive) ||
               given.startsWith(QLatin1String("HKEY_CURRENT_USER\\"), Qt::CaseInsensitive))) ||
             option == &controlOption);
        *value = asItStands ? given : QDir::cleanPath(QDir::current().absoluteFilePath(given));
        if (m_windows && !asItStands)
            *value = QDir::toNativeSeparators(*value);
    }
    return true;
}

} // namespace Tarvo
