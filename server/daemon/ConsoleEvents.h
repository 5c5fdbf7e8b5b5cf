// The console's events for tarvod on Windows: the end of a user's log-on
// session is ignored (a service's process receives it for every user who
// logs off, and the server is nobody's); Ctrl+C and Ctrl+Break in a console
// where tarvod runs in the foreground end it in order, as a termination
// signal does elsewhere. The system calls the handler on a thread of its
// own: the end is posted to the receiver's thread. One object at a time.
#pragma once

#include <QObject>

namespace Tarvo {

class ConsoleEvents final : public QObject
{
    Q_OBJECT

public:
    // interrupts: whether Ctrl+C and Ctrl+Break are taken (not as a service).
    explicit ConsoleEvents(bool interrupts, QObject *parent = nullptr);
    ~ConsoleEvents() override;

signals:
    void interrupted();
};

} // namespace Tarvo
