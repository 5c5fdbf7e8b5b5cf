// One client of the control channel, from its hello to its end.
//
// Reads the client's lines under the protocol's limits (a line that breaks
// them, or anything before a hello of the same major version, gets one
// error line and ends the connection), turns each request into a call of
// the ControlTarget and writes the answer with the request's id.
//
// A request that drives the modem waits inside the target, which pumps
// events: the other connections are served meanwhile, and this one's later
// requests wait in its buffer until the answer is written (readyRead is not
// emitted again while its handler runs, so the buffer is looked at again
// afterwards). The connection never goes away under a running request: an
// end that comes meanwhile is carried out when the request returns.
//
// Output is bounded. A watch is a cursor into the LogFeed: entries are
// written while less than maxPending bytes wait in the socket, and the rest
// follow as the client reads. A client whose next entry has left the
// backlog (it stopped reading, or reads too slowly) is dropped, and so is
// one that lets answers pile up past four times the bound; either may
// reconnect and resume with the last number it saw.
//
// Each request is checked against the peer's role first (requestRight()):
// one it may not make gets its refusal as the answer, and the connection
// goes on.
#pragma once

#include "ControlTarget.h"
#include "PeerAccess.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <cstdint>

class QLocalSocket;

namespace Tarvo {

class LogFeed;
struct FeedEntry;

class ControlConnection : public QObject
{
    Q_OBJECT
public:
    ControlConnection(QLocalSocket *socket, ControlTarget &target, LogFeed &feed,
                      const QString &serverName, qsizetype maxPending, QObject *parent);

    // Writes one error line and ends the connection (the refusal of a
    // peer the access rule keeps out).
    void refuse(const QString &reason);
    void setRole(PeerRole role) { m_role = role; }

    qsizetype pendingBytes() const;

signals:
    // The connection is over and the object about to go.
    void finished(const QString &why);

private:
    void readLines();
    void handle(const QJsonObject &request);
    void answer(const QJsonObject &request, const ControlResult &result,
                QJsonObject fields = QJsonObject());
    void hello(const QJsonObject &request);
    void watch(const QJsonObject &request);
    void saveSettings(const QJsonObject &request);
    template <typename Call> void drive(const QJsonObject &request, Call call);

    void pumpFeed();
    void send(const QByteArray &line);
    void endWith(const QString &error);
    void drop(const QString &why);
    void onDisconnected();
    void finishIfDone();

    static constexpr int FlushMs = 3000;

    QLocalSocket *m_socket;
    ControlTarget &m_target;
    LogFeed &m_feed;
    QString m_serverName;
    qsizetype m_maxPending;
    PeerRole m_role = PeerRole::Operator;
    QByteArray m_buffer;
    bool m_greeted = false;
    bool m_watching = false;
    std::uint64_t m_cursor = 0; // the last entry written to a watcher
    int m_busy = 0;             // requests running inside the target
    bool m_ending = false;
    bool m_finished = false;
    QString m_endReason;
};

} // namespace Tarvo
