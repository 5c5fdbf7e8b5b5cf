// The end of the log-in session as Windows announces it: WM_ENDSESSION with
// wParam TRUE, sent to every top-level window once the log-off, shutdown or
// restart really happens (after WM_QUERYENDSESSION, which another program
// may still refuse; nothing is done on that one). Windows may end the
// process at any moment after the window procedure has returned from it, so
// what the shutdown must finish is done inside the message, also when it
// arrives nested in the wait of a running job: SessionEndFilter sees the
// message before Qt does, calls its handler once (the first window's
// message) and passes the message on. Elsewhere it never fires.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QString>
#include <functional>

namespace Tarvo {

class SessionEndFilter final : public QObject, public QAbstractNativeEventFilter
{
public:
    // Installs itself on the application until it goes.
    SessionEndFilter(std::function<void(const QString &reason)> ending, QObject *parent = nullptr);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // What the message says is ending, in words for the log; empty for any
    // other message and for a session end that was called off.
    static QString endingReason(const QByteArray &eventType, const void *message);

private:
    std::function<void(const QString &)> m_ending;
    bool m_ended = false;
};

} // namespace Tarvo
