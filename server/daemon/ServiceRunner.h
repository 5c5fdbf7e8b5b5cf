// tarvod as the Windows service: the Service Control Manager's side of the
// process. Windows only.
//
// The manager talks to a service through StartServiceCtrlDispatcher, which
// keeps the thread that calls it until the service has stopped. Qt's event
// loop stays on the main thread: the dispatcher gets a thread of its own,
// the service's main function and the control handler run on the manager's
// threads and only report a state or post a request to the main thread
// (stopRequested, closeWhenIdleRequested). States may be reported from any
// thread; a lock keeps them in order.
//
// The life of the service: connect() reports "start pending" (the manager
// gives a service a few seconds, 10 under Wine, to say it runs);
// reportRunning() once the locks are held and the control channel listens,
// before the journal's recovery and the modem's start, which may take long;
// a stop, pre-shutdown or shutdown reports "stop pending" at once, with a
// wait hint and a checkpoint that advances each second until the server
// has ended; reportStopped() last, with the exit status.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QTimer;

namespace Tarvo {

class ServiceRunner final : public QObject
{
    Q_OBJECT

public:
    explicit ServiceRunner(QObject *parent = nullptr);
    ~ServiceRunner() override; // waits for the dispatcher's thread

    // Hands the process to the manager and reports "start pending"; false
    // with the reason when this process was not started by the manager.
    bool connect(QString &error);
    void reportRunning();
    void reportStopped(int exitStatus);

signals:
    // Stop, pre-shutdown or shutdown: the orderly end, now.
    void stopRequested(const QString &reason);
    // The service's own control code: end once no job runs and no call is up.
    void closeWhenIdleRequested();

private:
    struct Manager;
    friend struct Manager;
    void stopping();

    std::unique_ptr<Manager> m_manager;
    QTimer *m_checkpoints = nullptr;
};

} // namespace Tarvo
