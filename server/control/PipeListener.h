// The control channel's listener on Windows: a named pipe of our own with
// an explicit security descriptor, each connected instance handed to a
// QLocalSocket.
//
// QLocalServer cannot set the pipe's security, refuse remote clients or
// claim the name, so this does it with the pipe API itself:
// - the descriptor (PipeSecurity) gives LocalSystem and Administrators full
//   access, interactive users read and write, and denies network logons;
// - PIPE_REJECT_REMOTE_CLIENTS keeps clients of other machines out;
// - the first instance is made with FILE_FLAG_FIRST_PIPE_INSTANCE, so a pipe
//   of that name made before by anybody else (a squatter who would read
//   what clients send) makes listen() fail with the reason instead.
//
// Wine does not honour that flag; a first instance that finds other
// instances of its name beside it gives the name up all the same.
//
// WaitingInstances instances wait at a time, as QLocalServer's do, so that
// clients that come together find one free: each has an overlapped
// ConnectNamedPipe whose event a QWinEventNotifier watches. When a client
// connects, a new instance takes its place (one that cannot be made now is
// tried again at the next client), the connected one goes to a
// QLocalSocket through setSocketDescriptor(), and newConnection() is
// emitted. Windows only.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class QLocalSocket;
class QWinEventNotifier;

namespace Tarvo {

class PipeListener : public QObject
{
    Q_OBJECT
public:
    // The descriptor in the system's string form.
    static const wchar_t *const PipeSecurity;
    static constexpr int WaitingInstances = 8;

    explicit PipeListener(QObject *parent = nullptr);
    ~PipeListener() override;

    // name: a bare pipe name, or the full \\.\pipe\ form.
    bool listen(const QString &name);
    void close();
    bool isListening() const { return !m_waiting.empty(); }
    QString errorString() const { return m_error; }
    QString fullName() const { return m_fullName; }

    // A connected socket, its ownership the caller's; nullptr when none waits.
    QLocalSocket *nextPendingConnection();

    static QString fullPipeName(const QString &name);

signals:
    void newConnection();

private:
    struct Waiting;
    bool addInstance(bool first);
    bool waitForClient(Waiting &waiting);
    void onConnected(Waiting *waiting);
    void remove(Waiting *waiting);
    void refill();
    void stopWaiting();
    QString systemError(const QString &what, unsigned long code) const;
    static QString systemMessage(unsigned long code);

    std::vector<std::unique_ptr<Waiting>> m_waiting;
    QString m_fullName;
    QString m_error;
    QList<QLocalSocket *> m_pending;
};

} // namespace Tarvo
