// The server's end of the control channel: a local socket at an absolute
// path (on Windows a named pipe of PipeListener's), one ControlConnection
// per client.
//
// listen() first looks at what is at the path. A socket file that answers
// belongs to a server that runs: listen() refuses and leaves it alone. One
// that does not answer was left by a crash and is removed. Anything that is
// no socket is left alone and refused too, so a wrong --control never
// deletes somebody's file. The socket is made 0660 and given the group
// "tarvo" where that group exists; on top of the mode, every connection's
// peer is checked by the access rule (PeerAccess.h) before it may say a
// word. On Windows the pipe's security keeps others out and the rule only
// tells an administrator's connection from anybody else's: the requests
// that only an administrator may make are refused to the others
// (requestRight()).
#pragma once

#include "PeerAccess.h"

#include <QObject>
#include <QString>
#include <functional>

#ifdef Q_OS_WIN
namespace Tarvo {
class PipeListener;
using ControlListener = PipeListener;
} // namespace Tarvo
#else
class QLocalServer;
namespace Tarvo {
using ControlListener = QLocalServer;
} // namespace Tarvo
#endif

namespace Tarvo {

class ControlTarget;
class LogFeed;

class ControlServer : public QObject
{
    Q_OBJECT
public:
    // Output a client may leave unread before its feed pauses.
    static constexpr qsizetype DefaultMaxPending = 64 * 1024;

    // serverName is what version and hello answer, e.g. "tarvod 2.1.0".
    ControlServer(ControlTarget &target, LogFeed &feed, const QString &serverName,
                  QObject *parent = nullptr);
    ~ControlServer() override;

    bool listen(const QString &path);
    void close();
    QString errorString() const { return m_error; }
    // What listen() could not do but served anyway (the group not set).
    QString warning() const { return m_warning; }
    QString path() const { return m_path; }

    void setMaxPending(qsizetype bytes) { m_maxPending = bytes; }
    // The rule each peer meets: the local policy by default (on Windows,
    // everyone the pipe lets in, an administrator or not).
    void setAccessRule(std::function<AccessDecision(const PeerCredentials &)> rule);

    int connectionCount() const { return m_connections; }
    // The largest output waiting for one client, now.
    qsizetype largestPending() const;

signals:
    void connectionEnded(const QString &why);

private:
    void accept();
    bool clearStale(const QString &path);

    ControlTarget &m_target;
    LogFeed &m_feed;
    QString m_serverName;
    ControlListener *m_server;
    QString m_path;
    QString m_error;
    QString m_warning;
    qsizetype m_maxPending = DefaultMaxPending;
    std::function<AccessDecision(const PeerCredentials &)> m_rule;
    int m_connections = 0;
};

} // namespace Tarvo
