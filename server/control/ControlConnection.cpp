#include "ControlConnection.h"

#include "ControlProtocol.h"
#include "LogFeed.h"

#include <QLocalSocket>
#include <QTimer>

namespace Tarvo {

using namespace Control;

namespace {

QString op(const QJsonObject &request)
{
    return request.value(QStringLiteral("op")).toString();
}

QJsonObject statusFields(const ControlStatus &s, const LogFeed &feed)
{
    return {{QStringLiteral("state"), s.state},
            {QStringLiteral("tip"), s.tip},
            {QStringLiteral("portOpen"), s.portOpen},
            {QStringLiteral("armed"), s.armed},
            {QStringLiteral("connected"), s.connected},
            {QStringLiteral("operationRunning"), s.operationRunning},
            {QStringLiteral("started"), s.started},
            {QStringLiteral("settingsValid"), s.settingsValid},
            {QStringLiteral("settingsProblem"), s.settingsProblem},
            {QStringLiteral("lastSeq"), double(feed.lastSeq())}};
}

} // namespace

ControlConnection::ControlConnection(QLocalSocket *socket, ControlTarget &target, LogFeed &feed,
                                     const QString &serverName, qsizetype maxPending,
                                     QObject *parent)
    : QObject(parent), m_socket(socket), m_target(target), m_feed(feed), m_serverName(serverName),
      m_maxPending(maxPending)
{
    m_socket->setParent(this);
    connect(m_socket, &QLocalSocket::readyRead, this, &ControlConnection::readLines);
    connect(m_socket, &QLocalSocket::bytesWritten, this, &ControlConnection::pumpFeed);
    connect(m_socket, &QLocalSocket::disconnected, this, &ControlConnection::onDisconnected);
}

qsizetype ControlConnection::pendingBytes() const
{
    return m_socket->bytesToWrite();
}

void ControlConnection::refuse(const QString &reason)
{
    endWith(reason);
}

void ControlConnection::readLines()
{
    // Read in pieces no larger than a line may be, so that a flood of bytes
    // without a line end is refused before it is held.
    while (!m_ending && m_busy == 0) {
        QByteArray line;
        const Take take = takeLine(m_buffer, line, RequestLimits.maxLine);
        if (take == Take::Overlong)
            return endWith(QStringLiteral("line too long"));
        if (take == Take::NeedMore) {
            if (m_socket->bytesAvailable() == 0)
                return;
            m_buffer +=
                m_socket->read(std::min(m_socket->bytesAvailable(), RequestLimits.maxLine + 2));
            continue;
        }
        const Parsed parsed = parseLine(line, RequestLimits);
        if (!parsed.ok)
            return endWith(parsed.error);
        handle(parsed.object);
    }
}

void ControlConnection::handle(const QJsonObject &request)
{
    const QString name = op(request);
    if (name == QLatin1String("hello"))
        return hello(request);
    if (!m_greeted)
        return endWith(QStringLiteral("the client must say hello first"));
    if (const ControlResult right = requestRight(name, m_role); !right.ok)
        return answer(request, right);
    if (name == QLatin1String("status"))
        return answer(request, {}, statusFields(m_target.status(), m_feed));
    if (name == QLatin1String("version"))
        return answer(
            request, {},
            {{QStringLiteral("version"), versionText()}, {QStringLiteral("server"), m_serverName}});
    if (name == QLatin1String("start"))
        return drive(request, [this] { return m_target.start(); });
    if (name == QLatin1String("stop")) {
        const bool end = request.value(QStringLiteral("call")).toString() == QLatin1String("end");
        return drive(request, [this, end] {
            return m_target.stop(end ? ControlTarget::CallOnStop::EndCall
                                     : ControlTarget::CallOnStop::KeepCall);
        });
    }
    if (name == QLatin1String("recheck"))
        return drive(request, [this] { return m_target.recheck(); });
    if (name == QLatin1String("close-when-idle"))
        return drive(request, [this] { return m_target.closeWhenIdle(); });
    if (name == QLatin1String("settings")) {
        QJsonObject values;
        const QMap<QString, QString> settings = m_target.settings();
        for (auto it = settings.begin(); it != settings.end(); ++it)
            values.insert(it.key(), it.value());
        return answer(request, {}, {{QStringLiteral("values"), values}});
    }
    if (name == QLatin1String("save-settings"))
        return saveSettings(request);
    if (name == QLatin1String("watch"))
        return watch(request);
    answer(request, {false, QStringLiteral("unknown request \"%1\"").arg(name.left(40))});
}

void ControlConnection::answer(const QJsonObject &request, const ControlResult &result,
                               QJsonObject fields)
{
    if (request.contains(QStringLiteral("id")))
        fields.insert(QStringLiteral("id"), request.value(QStringLiteral("id")));
    fields.insert(QStringLiteral("ok"), result.ok);
    if (!result.message.isEmpty())
        fields.insert(result.ok ? QStringLiteral("message") : QStringLiteral("error"),
                      result.message);
    send(encode(fields));
    // Answers are not paced like the feed: a client that asks without
    // reading the answers is dropped once they pile up.
    if (!m_ending && m_socket->bytesToWrite() > 4 * m_maxPending)
        drop(QStringLiteral("answers not read"));
}

void ControlConnection::hello(const QJsonObject &request)
{
    int major = -1, minor = -1;
    const QString version = request.value(QStringLiteral("version")).toString();
    if (!parseVersion(version, major, minor))
        return endWith(QStringLiteral("the hello names no version"));
    if (major != MajorVersion)
        return endWith(QStringLiteral("version mismatch: the server speaks %1, the client %2")
                           .arg(versionText(), version.left(20)));
    m_greeted = true;
    answer(request, {},
           {{QStringLiteral("op"), QStringLiteral("hello")},
            {QStringLiteral("version"), versionText()},
            {QStringLiteral("server"), m_serverName}});
}

void ControlConnection::watch(const QJsonObject &request)
{
    const bool resume = request.value(QStringLiteral("since")).isDouble();
    LogFeed::Since what = m_feed.since(seqOf(request.value(QStringLiteral("since"))));
    // A fresh watch starts with the backlog; a gap is news only to a resume.
    m_cursor = what.entries.empty() ? m_feed.lastSeq() : what.entries.front().seq - 1;
    m_watching = true;
    answer(request, {},
           {{QStringLiteral("gap"), resume && what.gap},
            {QStringLiteral("first"), double(m_cursor + 1)},
            {QStringLiteral("last"), double(m_feed.lastSeq())}});
    connect(&m_feed, &LogFeed::added, this, &ControlConnection::pumpFeed, Qt::UniqueConnection);
    pumpFeed();
}

void ControlConnection::saveSettings(const QJsonObject &request)
{
    const QJsonValue valuesField = request.value(QStringLiteral("values"));
    if (!valuesField.isObject())
        return answer(request, {false, QStringLiteral("save-settings needs \"values\"")});
    QMap<QString, QString> values;
    const QJsonObject object = valuesField.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return answer(
                request,
                {false,
                 QStringLiteral("the value of \"%1\" is not a string").arg(it.key().left(80))});
        values.insert(it.key(), it.value().toString());
    }
    drive(request, [this, values] { return m_target.saveSettings(values); });
}

// Runs a call that may pump events, and answers it unless the connection
// ended meanwhile; an end that came during the call is carried out now.
template <typename Call> void ControlConnection::drive(const QJsonObject &request, Call call)
{
    ++m_busy;
    const ControlResult result = call();
    --m_busy;
    if (!m_ending)
        answer(request, result);
    // The caller, readLines(), goes on with what came in meanwhile.
    finishIfDone();
}

void ControlConnection::pumpFeed()
{
    if (!m_watching || m_ending)
        return;
    while (m_cursor < m_feed.lastSeq() && m_socket->bytesToWrite() < m_maxPending) {
        const FeedEntry *next = m_feed.entry(m_cursor + 1);
        if (!next)
            return drop(QStringLiteral("fell behind the backlog (not reading)"));
        send(encode(toJson(*next)));
        ++m_cursor;
    }
    if (m_cursor < m_feed.lastSeq() && !m_feed.entry(m_cursor + 1))
        drop(QStringLiteral("fell behind the backlog (not reading)"));
}

void ControlConnection::send(const QByteArray &line)
{
    if (!m_ending)
        m_socket->write(line);
}

void ControlConnection::endWith(const QString &error)
{
    if (m_ending)
        return;
    send(encode({{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}}));
    m_ending = true;
    m_endReason = error;
    // The error line goes out first; a client that does not take it within
    // a few seconds is cut off.
    QTimer::singleShot(FlushMs, m_socket, &QLocalSocket::abort);
    m_socket->disconnectFromServer();
    finishIfDone();
}

void ControlConnection::drop(const QString &why)
{
    if (m_ending)
        return;
    m_ending = true;
    m_endReason = why;
    m_socket->abort();
    finishIfDone();
}

void ControlConnection::onDisconnected()
{
    if (!m_ending) {
        m_ending = true;
        m_endReason = QStringLiteral("the client left");
    }
    finishIfDone();
}

// The object goes once the socket is closed and no request runs inside the
// target on its behalf.
void ControlConnection::finishIfDone()
{
    if (m_finished || !m_ending || m_busy > 0 ||
        m_socket->state() != QLocalSocket::UnconnectedState)
        return;
    m_finished = true;
    disconnect(&m_feed, nullptr, this, nullptr);
    emit finished(m_endReason);
    deleteLater();
}

} // namespace Tarvo
