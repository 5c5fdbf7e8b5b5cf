#include "ConsoleEvents.h"

#include <QMetaObject>
#include <qt_windows.h>

namespace Tarvo {

namespace {

ConsoleEvents *s_events = nullptr;
bool s_interrupts = false;

BOOL WINAPI handler(DWORD event)
{
    switch (event) {
    case CTRL_LOGOFF_EVENT:
        return TRUE; // somebody's session ended: not the server's business
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (!s_interrupts || !s_events)
            return FALSE;
        QMetaObject::invokeMethod(
            s_events, [] { emit s_events->interrupted(); }, Qt::QueuedConnection);
        return TRUE;
    default:
        return FALSE; // the system's own handling
    }
}

} // namespace

ConsoleEvents::ConsoleEvents(bool interrupts, QObject *parent) : QObject(parent)
{
    s_events = this;
    s_interrupts = interrupts;
    SetConsoleCtrlHandler(&handler, TRUE);
}

ConsoleEvents::~ConsoleEvents()
{
    SetConsoleCtrlHandler(&handler, FALSE);
    s_events = nullptr;
}

} // namespace Tarvo
