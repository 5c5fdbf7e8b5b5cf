// The client's end of the control channel, for tarvoctl and the tray.
//
// Asynchronous, so that a window can use it from its event loop: open()
// connects and says hello; ready() or failed() tells how that went (cannot
// connect, refused by the server's access rule, another major version).
// Each request returns an id that its answered() signal carries back. A
// watch delivers the backlog and then live entries through entry(), in
// order, with backlogDone() once the entries known at the request have
// come; lastSeq() is what a new watch after a lost connection resumes
// from. closed() tells that a ready connection ended, with the server's
// last word when it gave one (dropped for not reading, the server ending).
//
// waitForReady() and waitForAnswer() run a local event loop for programs
// that have nothing else to do meanwhile (tarvoctl); a window uses them only
// where it waits anyway: the tray's modal configuration window, whose OK
// must know whether the server took the settings.
//
// On Windows the client checks whom it talks to before it says a word: on
// the system's pipe the process that serves it must be the service's
// (GetNamedPipeServerProcessId against queryService()), or open() fails
// with the reason and nothing is sent. Anybody who may connect may also
// make an instance of the pipe, so a program that did so while the
// service ran could otherwise read what the tray sends. Other pipes
// (tests, a server run by hand) are not checked unless
// expectServerProcess() asks for it.
#pragma once

#include "ControlTarget.h"
#include "FeedEntry.h"
#include "ServiceQuery.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

class QLocalSocket;

namespace Tarvo {

class ControlClient : public QObject
{
    Q_OBJECT
public:
    // The system's path of the control socket.
    static QString systemPath();
    // option when given, else $TARVO_CONTROL when set, else systemPath().
    static QString resolvePath(const QString &option);

    explicit ControlClient(const QString &clientName, QObject *parent = nullptr);
    ~ControlClient() override;

    void open(const QString &path);
    // Every later open() checks the pipe's server against this process.
    void expectServerProcess(unsigned long processId) { m_expectedServer = processId; }
    // Why a pipe served by process server is not the service's; empty when
    // it is. server 0: the system would not say.
    static QString serverCheckFailure(const QString &pipe, unsigned long server,
                                      const ServiceInfo &service);
    void close();
    bool isReady() const { return m_ready; }
    QString serverName() const { return m_serverName; }

    int request(const QString &op, QJsonObject fields = QJsonObject());
    int status() { return request(QStringLiteral("status")); }
    int version() { return request(QStringLiteral("version")); }
    int start() { return request(QStringLiteral("start")); }
    int stop(ControlTarget::CallOnStop call);
    int recheck() { return request(QStringLiteral("recheck")); }
    int closeWhenIdle() { return request(QStringLiteral("close-when-idle")); }
    int settings() { return request(QStringLiteral("settings")); }
    int saveSettings(const QMap<QString, QString> &values);
    // The whole backlog, or only what came after since.
    int watch(std::optional<std::uint64_t> since = std::nullopt);
    std::uint64_t lastSeq() const { return m_lastSeq; }

    // Readers of answers.
    static ControlStatus statusOf(const QJsonObject &answer, std::uint64_t *lastSeq = nullptr);
    static QMap<QString, QString> settingsOf(const QJsonObject &answer);
    static ControlResult resultOf(const QJsonObject &answer);

    bool waitForReady(int timeoutMs);
    // The answer, or {} when the connection ended or the time ran out first.
    QJsonObject waitForAnswer(int id, int timeoutMs);

signals:
    void ready();
    void failed(const QString &reason);
    void answered(int id, const QJsonObject &answer);
    void entry(const Tarvo::FeedEntry &entry);
    void backlogDone();
    // A watch resumed after entries it asked for had left the backlog.
    void gap();
    void closed(const QString &reason);

private:
    void readLines();
    void handle(const QJsonObject &object);
    void fail(const QString &reason);
    QString connectError(int error) const;
    void onDisconnected();
    void onConnected();
    QString checkServer() const;

    QString m_clientName;
    std::optional<unsigned long> m_expectedServer;
    QLocalSocket *m_socket;
    QByteArray m_buffer;
    bool m_ready = false;
    bool m_over = false;
    int m_nextId = 1;
    QString m_serverName;
    QString m_lastError;
    std::uint64_t m_lastSeq = 0;
    std::uint64_t m_backlogEnd = 0;
    bool m_inBacklog = false;
    int m_watchId = 0;
};

} // namespace Tarvo
