#include "SessionEnd.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace Tarvo {

SessionEndFilter::SessionEndFilter(std::function<void(const QString &)> ending, QObject *parent)
    : QObject(parent), m_ending(std::move(ending))
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool SessionEndFilter::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_ended)
        return false;
    const QString reason = endingReason(eventType, message);
    if (reason.isEmpty())
        return false;
    m_ended = true;
    if (m_ending)
        m_ending(reason);
    return false; // Qt's own handling follows and finds everything done
}

QString SessionEndFilter::endingReason(const QByteArray &eventType, const void *message)
{
#ifdef Q_OS_WIN
    if (eventType != "windows_generic_MSG" || !message)
        return {};
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message != WM_ENDSESSION || !msg->wParam)
        return {};
    if (msg->lParam & ENDSESSION_LOGOFF)
        return QStringLiteral("Windows is logging the user off.");
    if (msg->lParam & ENDSESSION_CLOSEAPP) // an installer or update needs the program's files
        return QStringLiteral("Windows is closing Tarvo for an update.");
    return QStringLiteral("Windows is shutting down or restarting.");
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    return {};
#endif
}

} // namespace Tarvo
