#include "ControlClient.h"

#include "ControlProtocol.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QLocalSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Tarvo {

using namespace Control;

QString ControlClient::systemPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("tarvo-control"); // a pipe's name: \\.\pipe\tarvo-control
#else
    return QStringLiteral("/run/tarvo/control");
#endif
}

QString ControlClient::resolvePath(const QString &option)
{
    if (!option.isEmpty())
        return option;
    const QString fromEnvironment = qEnvironmentVariable("TARVO_CONTROL");
    return fromEnvironment.isEmpty() ? systemPath() : fromEnvironment;
}

ControlClient::ControlClient(const QString &clientName, QObject *parent)
    : QObject(parent), m_clientName(clientName), m_socket(new QLocalSocket(this))
{
    connect(m_socket, &QLocalSocket::connected, this, &ControlClient::onConnected);
    connect(m_socket, &QLocalSocket::readyRead, this, &ControlClient::readLines);
    connect(m_socket, &QLocalSocket::disconnected, this, &ControlClient::onDisconnected);
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError e) {
        if (m_ready || m_over)
            return;
        // A refusal comes as a line before the end: say that, not the end.
        readLines();
        if (!m_over)
            fail(m_lastError.isEmpty() ? connectError(e) : m_lastError);
    });
}

// Qt's own texts for these are no help ("connectToServer: Invalid name" for
// a path where nothing is).
QString ControlClient::connectError(int error) const
{
    const QString path = m_socket->serverName();
    switch (QLocalSocket::LocalSocketError(error)) {
    case QLocalSocket::ServerNotFoundError:
        return QStringLiteral("cannot connect to %1: no server there").arg(path);
    case QLocalSocket::ConnectionRefusedError:
        return QStringLiteral("cannot connect to %1: nobody answers (a server that ended?)")
            .arg(path);
    case QLocalSocket::SocketAccessError:
#ifdef Q_OS_WIN
        return QStringLiteral("cannot connect to %1: no permission (interactive users and "
                              "administrators of this machine may)")
            .arg(path);
#else
        return QStringLiteral("cannot connect to %1: no permission (root, the server's user and "
                              "the group \"tarvo\" may)")
            .arg(path);
#endif
    default:
        return QStringLiteral("cannot connect to %1: %2").arg(path, m_socket->errorString());
    }
}

void ControlClient::onConnected()
{
    if (const QString failure = checkServer(); !failure.isEmpty())
        return fail(failure);
    m_socket->write(encode({{QStringLiteral("op"), QStringLiteral("hello")},
                            {QStringLiteral("version"), versionText()},
                            {QStringLiteral("client"), m_clientName}}));
}

QString ControlClient::serverCheckFailure(const QString &pipe, unsigned long server,
                                          const ServiceInfo &service)
{
    if (server == 0)
        return QStringLiteral("cannot tell which process serves %1; nothing was sent").arg(pipe);
    if (!service.running() || service.processId == 0)
        return QStringLiteral("%1 is served by process %2, but the service %3 does not run; "
                              "nothing was sent")
            .arg(pipe)
            .arg(server)
            .arg(QLatin1String(WindowsService::Name));
    if (server != service.processId)
        return QStringLiteral("%1 is served by process %2, not by the service %3 (process %4); "
                              "nothing was sent")
            .arg(pipe)
            .arg(server)
            .arg(QLatin1String(WindowsService::Name))
            .arg(service.processId);
    return {};
}

// Empty when the pipe's server is the one expected, or none is.
QString ControlClient::checkServer() const
{
#ifdef Q_OS_WIN
    const QString pipe = m_socket->serverName();
    static const QString prefix = QStringLiteral("\\\\.\\pipe\\");
    const QString bare =
        pipe.startsWith(prefix, Qt::CaseInsensitive) ? pipe.mid(prefix.size()) : pipe;
    const bool system = bare.compare(systemPath(), Qt::CaseInsensitive) == 0;
    if (!system && !m_expectedServer)
        return {};
    ServiceInfo service;
    if (m_expectedServer) {
        service.state = ServiceInfo::State::Running;
        service.processId = *m_expectedServer;
    } else {
        service = queryService();
    }
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(m_socket->socketDescriptor()),
                                     &server))
        server = 0;
    return serverCheckFailure(pipe, server, service);
#else
    return {};
#endif
}

ControlClient::~ControlClient()
{
    m_over = true; // no signals from the socket's end while going
    m_socket->abort();
}

void ControlClient::open(const QString &path)
{
    // The end of an earlier connection is no news to anybody.
    m_over = true;
    m_socket->abort();
    m_ready = m_over = false;
    m_buffer.clear();
    m_lastError.clear();
    m_inBacklog = false;
    m_socket->connectToServer(path);
}

void ControlClient::close()
{
    m_over = true;
    m_ready = false;
    m_socket->abort();
}

int ControlClient::request(const QString &op, QJsonObject fields)
{
    const int id = m_nextId++;
    fields.insert(QStringLiteral("id"), id);
    fields.insert(QStringLiteral("op"), op);
    m_socket->write(encode(fields));
    return id;
}

int ControlClient::stop(ControlTarget::CallOnStop call)
{
    return request(QStringLiteral("stop"),
                   {{QStringLiteral("call"), call == ControlTarget::CallOnStop::EndCall
                                                 ? QStringLiteral("end")
                                                 : QStringLiteral("keep")}});
}

int ControlClient::saveSettings(const QMap<QString, QString> &values)
{
    QJsonObject object;
    for (auto it = values.begin(); it != values.end(); ++it)
        object.insert(it.key(), it.value());
    return request(QStringLiteral("save-settings"), {{QStringLiteral("values"), object}});
}

int ControlClient::watch(std::optional<std::uint64_t> since)
{
    QJsonObject fields;
    if (since)
        fields.insert(QStringLiteral("since"), double(*since));
    m_inBacklog = false;
    m_watchId = request(QStringLiteral("watch"), fields);
    return m_watchId;
}

ControlStatus ControlClient::statusOf(const QJsonObject &a, std::uint64_t *lastSeq)
{
    ControlStatus s;
    s.state = a.value(QStringLiteral("state")).toString();
    s.tip = a.value(QStringLiteral("tip")).toString();
    s.portOpen = a.value(QStringLiteral("portOpen")).toBool();
    s.armed = a.value(QStringLiteral("armed")).toBool();
    s.connected = a.value(QStringLiteral("connected")).toBool();
    s.operationRunning = a.value(QStringLiteral("operationRunning")).toBool();
    s.started = a.value(QStringLiteral("started")).toBool();
    s.settingsValid = a.value(QStringLiteral("settingsValid")).toBool(true);
    s.settingsProblem = a.value(QStringLiteral("settingsProblem")).toString();
    if (lastSeq)
        *lastSeq = seqOf(a.value(QStringLiteral("lastSeq")));
    return s;
}

QMap<QString, QString> ControlClient::settingsOf(const QJsonObject &answer)
{
    QMap<QString, QString> values;
    const QJsonObject object = answer.value(QStringLiteral("values")).toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        values.insert(it.key(), it.value().toString());
    return values;
}

ControlResult ControlClient::resultOf(const QJsonObject &answer)
{
    if (answer.isEmpty())
        return {false, QStringLiteral("no answer from the server")};
    const bool ok = answer.value(QStringLiteral("ok")).toBool();
    return {ok, answer.value(ok ? QStringLiteral("message") : QStringLiteral("error")).toString()};
}

void ControlClient::readLines()
{
    while (!m_over) {
        QByteArray line;
        const Take take = takeLine(m_buffer, line, ReplyLimits.maxLine);
        if (take == Take::Overlong)
            return fail(QStringLiteral("the server sent a line too long"));
        if (take == Take::NeedMore) {
            if (m_socket->bytesAvailable() == 0)
                return;
            m_buffer +=
                m_socket->read(std::min(m_socket->bytesAvailable(), ReplyLimits.maxLine + 2));
            continue;
        }
        const Parsed parsed = parseLine(line, ReplyLimits);
        if (!parsed.ok)
            return fail(QStringLiteral("the server sent %1").arg(parsed.error));
        handle(parsed.object);
    }
}

void ControlClient::handle(const QJsonObject &object)
{
    const bool ok = object.value(QStringLiteral("ok")).toBool();
    if (!m_ready) {
        int major = -1, minor = -1;
        if (!ok)
            return fail(object.value(QStringLiteral("error")).toString());
        if (!parseVersion(object.value(QStringLiteral("version")).toString(), major, minor) ||
            major != MajorVersion)
            return fail(QStringLiteral("version mismatch: the server speaks %1, the client %2")
                            .arg(object.value(QStringLiteral("version")).toString().left(20),
                                 versionText()));
        m_ready = true;
        m_serverName = object.value(QStringLiteral("server")).toString();
        emit ready();
        return;
    }
    FeedEntry item;
    if (fromJson(object, item)) {
        m_lastSeq = item.seq;
        emit entry(item);
        if (m_inBacklog && item.seq >= m_backlogEnd) {
            m_inBacklog = false;
            emit backlogDone();
        }
        return;
    }
    if (!object.contains(QStringLiteral("id"))) {
        // The server's last word before it ends the connection.
        m_lastError = object.value(QStringLiteral("error")).toString();
        return;
    }
    const int id = object.value(QStringLiteral("id")).toInt();
    if (ok && id == m_watchId) {
        m_backlogEnd = seqOf(object.value(QStringLiteral("last")));
        const std::uint64_t first = seqOf(object.value(QStringLiteral("first")));
        m_inBacklog = first <= m_backlogEnd;
        if (object.value(QStringLiteral("gap")).toBool())
            emit gap();
        if (!m_inBacklog)
            emit backlogDone();
    }
    emit answered(id, object);
}

void ControlClient::fail(const QString &reason)
{
    if (m_over)
        return;
    m_over = true;
    m_socket->abort();
    emit failed(reason.isEmpty() ? QStringLiteral("the server closed the connection") : reason);
}

void ControlClient::onDisconnected()
{
    if (m_over)
        return;
    // What is still buffered may hold the server's last word.
    readLines();
    if (m_over)
        return;
    if (!m_ready)
        return fail(m_lastError);
    m_over = true;
    m_ready = false;
    emit closed(m_lastError.isEmpty() ? QStringLiteral("the server closed the connection")
                                      : m_lastError);
}

bool ControlClient::waitForReady(int timeoutMs)
{
    if (m_ready || m_over)
        return m_ready;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(this, &ControlClient::ready, &loop, &QEventLoop::quit);
    connect(this, &ControlClient::failed, &loop, &QEventLoop::quit);
    loop.exec();
    return m_ready;
}

QJsonObject ControlClient::waitForAnswer(int id, int timeoutMs)
{
    QJsonObject result;
    if (m_over)
        return result;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    connect(this, &ControlClient::answered, &loop, [&](int got, const QJsonObject &answer) {
        if (got == id) {
            result = answer;
            loop.quit();
        }
    });
    connect(this, &ControlClient::closed, &loop, &QEventLoop::quit);
    connect(this, &ControlClient::failed, &loop, &QEventLoop::quit);
    loop.exec();
    return result;
}

} // namespace Tarvo
