// tarvoctl: drives a running Tarvo server over its control channel.
//
//   tarvoctl [--control PATH] COMMAND [OPTIONS]
//
// Each command is one request (watch: one request, then the feed until the
// connection ends). Exit status 0 when the server did what was asked; 1 with
// a one-line reason on standard error when it could not be reached, refused
// the client, speaks another major version, or answered no; 2 for a command
// line it does not understand.
#include "AppVersion.h"
#include "ControlClient.h"
#include "CtlCommands.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

using namespace Tarvo;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvoctl"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(AppVersion::Version));

    CtlCommand command;
    QString error;
    if (!parseCtlArguments(app.arguments().mid(1), command, error)) {
        std::fprintf(stderr, "tarvoctl: %s\n%s", qPrintable(error), qPrintable(ctlUsage()));
        return 2;
    }
    if (command.name == QLatin1String("help")) {
        std::fputs(qPrintable(ctlUsage()), stdout);
        return 0;
    }
    return runCtlCommand(command, ControlClient::resolvePath(command.control));
}
