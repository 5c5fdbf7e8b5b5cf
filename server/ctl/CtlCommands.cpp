#include "CtlCommands.h"

#include "AppVersion.h"
#include "ControlClient.h"
#include "SettingsFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace Tarvo {

namespace {

constexpr int ConnectMs = 5000;
// A start or recheck may retry a silent modem for a while.
constexpr int ModemMs = 180000;
constexpr int QuickMs = 15000;

// Where a failure's reason goes besides standard error: for a caller that
// cannot read that (one that ran tarvoctl elevated).
QString &reportPath()
{
    static QString path;
    return path;
}

int failWith(const QString &reason)
{
    std::fprintf(stderr, "tarvoctl: %s\n", qPrintable(reason));
    if (!reportPath().isEmpty()) {
        QFile report(reportPath());
        if (report.open(QIODevice::WriteOnly | QIODevice::Truncate))
            report.write(reason.toUtf8() + '\n');
    }
    return 1;
}

void print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// An answer: 0, or 1 with the reason said. A note that comes with a yes
// goes to standard error too.
int ask(const QJsonObject &answer)
{
    const ControlResult result = ControlClient::resultOf(answer);
    if (!result.ok)
        return failWith(result.message.isEmpty() ? QStringLiteral("refused by the server")
                                                 : result.message);
    if (!result.message.isEmpty())
        std::fprintf(stderr, "tarvoctl: %s\n", qPrintable(result.message));
    return 0;
}

// One request and its answer.
int ask(ControlClient &client, int id, int timeoutMs, QJsonObject *answer = nullptr)
{
    const QJsonObject got = client.waitForAnswer(id, timeoutMs);
    if (answer)
        *answer = got;
    return ask(got);
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

int status(ControlClient &client, bool json)
{
    QJsonObject answer;
    if (const int failed = ask(client, client.status(), QuickMs, &answer))
        return failed;
    if (json) {
        answer.remove(QStringLiteral("id"));
        answer.remove(QStringLiteral("ok"));
        print(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)) + '\n');
        return 0;
    }
    std::uint64_t lastSeq = 0;
    const ControlStatus s = ControlClient::statusOf(answer, &lastSeq);
    QString text = QStringLiteral("state: %1\narmed: %2\nconnected: %3\ntip: %4\nlast line: %5\n")
                       .arg(s.state, yesNo(s.armed), yesNo(s.connected), s.tip)
                       .arg(lastSeq);
    if (!s.settingsValid)
        text += QStringLiteral("settings: %1\n").arg(s.settingsProblem);
    print(text);
    return 0;
}

int stop(ControlClient &client, std::optional<bool> hangUp)
{
    if (!hangUp) {
        QJsonObject answer;
        if (const int failed = ask(client, client.status(), QuickMs, &answer))
            return failed;
        // The question the tray asks before it stops during a call.
        if (ControlClient::statusOf(answer).connected)
            return failWith(QStringLiteral("a call is up: say --hang-up to end it, or "
                                           "--keep-call to stop once it is over"));
    }
    return ask(client,
               client.stop(hangUp.value_or(false) ? ControlTarget::CallOnStop::EndCall
                                                  : ControlTarget::CallOnStop::KeepCall),
               ModemMs);
}

QString entryText(const FeedEntry &entry, bool numbered)
{
    if (!numbered)
        return entry.kind == FeedEntry::Kind::Pane || entry.kind == FeedEntry::Kind::Log
                   ? QString(entry.text).replace(QLatin1String("\r\n"), QLatin1String("\n"))
                   : QString();
    static const char *const kinds[] = {"pane", "log", "clear", "state"};
    QString text = entry.text;
    text.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), ' ');
    if (entry.kind == FeedEntry::Kind::Pane && entry.colour != ColourBlue)
        text += QStringLiteral(" [red]");
    return QStringLiteral("%1 %2 %3\n")
        .arg(entry.seq)
        .arg(QLatin1String(kinds[int(entry.kind)]), text);
}

int watch(ControlClient &client, const CtlCommand &command)
{
    QEventLoop loop;
    int exitCode = 0;
    QObject::connect(&client, &ControlClient::entry, &loop, [&](const FeedEntry &entry) {
        print(command.json
                  ? QString::fromUtf8(QJsonDocument(toJson(entry)).toJson(QJsonDocument::Compact)) +
                        '\n'
                  : entryText(entry, command.numbered));
    });
    QObject::connect(&client, &ControlClient::gap, &loop, [&] {
        std::fprintf(stderr, "tarvoctl: what came after %llu has partly left the backlog\n",
                     static_cast<unsigned long long>(command.since.value_or(0)));
    });
    QObject::connect(&client, &ControlClient::closed, &loop, [&](const QString &why) {
        exitCode =
            failWith(QStringLiteral("%1 (resume with --since %2)").arg(why).arg(client.lastSeq()));
        loop.quit();
    });
    const int id = client.watch(command.since);
    QObject::connect(&client, &ControlClient::answered, &loop,
                     [&](int got, const QJsonObject &answer) {
                         if (got == id && !ControlClient::resultOf(answer).ok) {
                             exitCode = failWith(ControlClient::resultOf(answer).message);
                             loop.quit();
                         }
                     });
    loop.exec();
    return exitCode;
}

// True when nothing answers at path any more.
bool serverGone(const QString &path)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    const bool answered = probe.waitForConnected(1000);
    probe.abort();
    return !answered;
}

int closeWhenIdle(ControlClient &client, const QString &path, std::optional<int> waitSeconds)
{
    const QJsonObject answer = client.waitForAnswer(client.closeWhenIdle(), QuickMs);
    // A server that ends at once may close before its answer is out.
    if (!answer.isEmpty() || client.isReady())
        if (const int failed = ask(answer))
            return failed;
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = waitSeconds ? qint64(*waitSeconds) * 1000 : -1;
    const auto timeLeft = [&] { return limitMs < 0 ? 1000 : limitMs - clock.elapsed(); };
    // The server ends the connection as it goes; then the path must be dead.
    if (client.isReady()) {
        QEventLoop loop;
        QObject::connect(&client, &ControlClient::closed, &loop, &QEventLoop::quit);
        if (limitMs >= 0)
            QTimer::singleShot(int(std::max<qint64>(0, timeLeft())), &loop, &QEventLoop::quit);
        loop.exec();
    }
    while (!serverGone(path)) {
        if (timeLeft() <= 0)
            return failWith(QStringLiteral("the server still runs after %1 s").arg(*waitSeconds));
        QThread::msleep(200);
    }
    return 0;
}

bool readSettingsFile(const QString &fileName, QMap<QString, QString> &values, QString &error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return false;
    }
    if (!SettingsFile::decode(file.readAll(), values, error)) {
        error = QStringLiteral("%1: %2").arg(fileName, error);
        return false;
    }
    return true;
}

} // namespace

int runCtlCommand(const CtlCommand &command, const QString &path)
{
    reportPath() = command.report;
    QMap<QString, QString> values;
    QString readError;
    if (command.name == QLatin1String("save-settings") &&
        !readSettingsFile(command.from, values, readError))
        return failWith(readError);

    ControlClient client(QStringLiteral("tarvoctl %1").arg(QLatin1String(AppVersion::Version)));
    QString failure;
    QObject::connect(&client, &ControlClient::failed, [&](const QString &why) { failure = why; });
    client.open(path);
    if (!client.waitForReady(ConnectMs))
        return failWith(failure.isEmpty() ? QStringLiteral("no answer from %1").arg(path)
                                          : failure);

    const QString &name = command.name;
    if (name == QLatin1String("status"))
        return status(client, command.json);
    if (name == QLatin1String("start"))
        return ask(client, client.start(), ModemMs);
    if (name == QLatin1String("stop"))
        return stop(client, command.hangUp);
    if (name == QLatin1String("recheck"))
        return ask(client, client.recheck(), ModemMs);
    if (name == QLatin1String("save-settings"))
        return ask(client, client.saveSettings(values), QuickMs);
    if (name == QLatin1String("watch"))
        return watch(client, command);
    if (name == QLatin1String("close-when-idle"))
        return closeWhenIdle(client, path, command.waitSeconds);
    QJsonObject answer;
    if (const int failed = ask(client, client.version(), QuickMs, &answer))
        return failed;
    print(QStringLiteral("tarvoctl %1\nserver: %2\nprotocol: %3\n")
              .arg(QLatin1String(AppVersion::Version),
                   answer.value(QStringLiteral("server")).toString(),
                   answer.value(QStringLiteral("version")).toString()));
    return 0;
}

} // namespace Tarvo
