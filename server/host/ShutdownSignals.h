// The termination signals (SIGTERM, SIGINT, SIGHUP) turned into an ordinary
// Qt signal, so that a kill by the system, a Ctrl+C or the end of a terminal
// session ends the server in order instead of in the middle of a file.
//
// The handler may do nothing but write(2): it puts the signal's number into
// one end of a socket pair, and a QSocketNotifier on the other end emits
// received() from the event loop, where the shutdown can run. The previous
// handlers are put back when the object goes. One object at a time; on
// Windows it does nothing (the session's end arrives as WM_ENDSESSION,
// SessionEnd.h).
#pragma once

#include <QObject>

class QSocketNotifier;

namespace Tarvo {

class ShutdownSignals final : public QObject
{
    Q_OBJECT

public:
    explicit ShutdownSignals(QObject *parent = nullptr);
    ~ShutdownSignals() override;

    // False when the handlers could not be installed.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Tarvo
