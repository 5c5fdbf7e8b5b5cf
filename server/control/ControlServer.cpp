#include "ControlServer.h"

#include "ControlConnection.h"
#include "LogFeed.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_WIN
#include "PipeListener.h"
#endif

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Tarvo {

ControlServer::ControlServer(ControlTarget &target, LogFeed &feed, const QString &serverName,
                             QObject *parent)
    : QObject(parent), m_target(target), m_feed(feed), m_serverName(serverName),
      m_server(new ControlListener(this))
{
#ifdef Q_OS_WIN
    // The pipe's own security decides who connects.
    m_rule = &decidePipeAccess;
#else
    const AccessPolicy policy = localAccessPolicy();
    m_rule = [policy](const PeerCredentials &peer) { return decideAccess(peer, policy); };
#endif
    connect(m_server, &ControlListener::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer()
{
    close();
}

void ControlServer::setAccessRule(std::function<AccessDecision(const PeerCredentials &)> rule)
{
    m_rule = std::move(rule);
}

bool ControlServer::listen(const QString &path)
{
    m_error.clear();
    m_warning.clear();
#ifdef Q_OS_UNIX
    // A bare name would land in the temporary folder.
    if (QFileInfo(path).isRelative()) {
        m_error = QStringLiteral("The control path %1 is not absolute.").arg(path);
        return false;
    }
#endif
    if (!clearStale(path))
        return false;
#ifndef Q_OS_WIN
    // 0660 on Unix: Qt binds in a private folder, sets the mode, then renames.
    m_server->setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
#endif
    if (!m_server->listen(path)) {
#ifdef Q_OS_WIN
        m_error = m_server->errorString(); // names the pipe
#else
        m_error = QStringLiteral("Cannot listen at %1: %2").arg(path, m_server->errorString());
#endif
        return false;
    }
    m_path = path;
#ifdef Q_OS_UNIX
    // Qt leaves the execute bits on; a socket needs read and write alone.
    if (chmod(QFile::encodeName(path).constData(), 0660) != 0)
        m_warning = QStringLiteral("The control socket %1 keeps its mode: %2.")
                        .arg(path, QString::fromLocal8Bit(strerror(errno)));
    const AccessPolicy policy = localAccessPolicy();
    if (policy.hasGroup &&
        chown(QFile::encodeName(path).constData(), uid_t(-1), gid_t(policy.groupId)) != 0)
        m_warning = QStringLiteral("The control socket %1 keeps its group: %2 (%3).")
                        .arg(path, policy.groupName, QString::fromLocal8Bit(strerror(errno)));
#endif
    return true;
}

// Leaves the path free for a new socket, or says why it cannot be.
bool ControlServer::clearStale(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info
    {
    };
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return true; // nothing there
    if (!S_ISSOCK(info.st_mode)) {
        m_error = QStringLiteral("%1 exists and is not a socket; it is left alone.").arg(path);
        return false;
    }
#endif
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(1000)) {
        probe.abort();
        m_error = QStringLiteral("Another server answers at %1.").arg(path);
        return false;
    }
    // Nobody answers: left by a crash. (On Windows a pipe nobody serves is gone.)
    QLocalServer::removeServer(path);
    return true;
}

void ControlServer::close()
{
    m_server->close();
    m_path.clear();
}

void ControlServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        auto *connection =
            new ControlConnection(socket, m_target, m_feed, m_serverName, m_maxPending, this);
        ++m_connections;
        connect(connection, &ControlConnection::finished, this, [this](const QString &why) {
            --m_connections;
            emit connectionEnded(why);
        });
        const AccessDecision decision = m_rule(peerCredentials(socket->socketDescriptor()));
        connection->setRole(decision.role);
        if (!decision.allowed)
            connection->refuse(decision.reason);
    }
}

qsizetype ControlServer::largestPending() const
{
    qsizetype largest = 0;
    for (const ControlConnection *connection : findChildren<ControlConnection *>())
        largest = std::max(largest, connection->pendingBytes());
    return largest;
}

} // namespace Tarvo
