#include "CloseRequests.h"

#include "OperationController.h"
#include "SingleInstance.h"
#include "frmServer.h"

#include <QApplication>
#include <QDialog>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <iterator>
#include <qt_windows.h>
#include <vector>
#endif

namespace Tarvo {

#ifdef Q_OS_WIN

namespace {
constexpr CloseRequests::Kind Kinds[] = {
    CloseRequests::Kind::Close, CloseRequests::Kind::CloseWhenIdle, CloseRequests::Kind::CloseNow};
} // namespace

struct CloseRequests::Events
{
    ~Events()
    {
        for (QWinEventNotifier *notifier : notifiers)
            delete notifier; // before its handle goes
        for (HANDLE handle : handles)
            CloseHandle(handle);
    }

    std::vector<HANDLE> handles;
    std::vector<QWinEventNotifier *> notifiers;
};

CloseRequests::CloseRequests(const QString &name, QObject *parent)
    : QObject(parent), m_events(std::make_unique<Events>())
{
    for (const Kind kind : Kinds) {
        // Auto-reset: each SetEvent by a requester is one request, taken
        // once by the wait behind the notifier.
        const QString eventFullName = eventName(name, kind);
        HANDLE handle =
            CreateEventW(nullptr, FALSE, FALSE, reinterpret_cast<LPCWSTR>(eventFullName.utf16()));
        if (!handle)
            continue;
        m_events->handles.push_back(handle);
        auto *notifier = new QWinEventNotifier(handle);
        connect(notifier, &QWinEventNotifier::activated, this,
                [this, kind] { emit received(kind); });
        m_events->notifiers.push_back(notifier);
    }
}

bool CloseRequests::isListening() const
{
    return m_events->handles.size() == std::size(Kinds);
}

#else

struct CloseRequests::Events
{
};

CloseRequests::CloseRequests(const QString &, QObject *parent) : QObject(parent) {}

bool CloseRequests::isListening() const
{
    return false;
}

#endif

CloseRequests::~CloseRequests() = default;

QString CloseRequests::defaultName()
{
    return SingleInstance::sessionObjectName();
}

QString CloseRequests::eventName(const QString &name, Kind kind)
{
    switch (kind) {
    case Kind::Close:
        return name + QStringLiteral(".Close");
    case Kind::CloseWhenIdle:
        return name + QStringLiteral(".CloseWhenIdle");
    case Kind::CloseNow:
        return name + QStringLiteral(".CloseNow");
    }
    return name;
}

void closeOpenDialogs()
{
    // Rejecting hides the topmost dialog, so the one under it comes next;
    // bounded in case one will not go.
    for (int i = 0; i < 16; ++i) {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->reject();
    }
}

namespace {

void carryOut(frmServer &server, CloseRequests::Kind kind)
{
    OperationController &operations = server.operations();
    switch (kind) {
    case CloseRequests::Kind::Close:
        // An exit on its way needs nothing more, and an open question about
        // the call is the user's to answer: a request sent again must not
        // answer it No.
        if (operations.unloading() || operations.exitPending() || operations.questionOpen())
            return;
        closeOpenDialogs();
        operations.requestExit();
        return;
    case CloseRequests::Kind::CloseWhenIdle:
        closeOpenDialogs();
        operations.closeWhenIdle();
        return;
    case CloseRequests::Kind::CloseNow:
        closeOpenDialogs();
        server.shutdownNow();
        return;
    }
}

} // namespace

void connectCloseRequests(CloseRequests &requests, frmServer &server)
{
    QObject::connect(&requests, &CloseRequests::received, &server,
                     [&server](CloseRequests::Kind kind) { carryOut(server, kind); });
}

void connectCloseRequestsAttached(CloseRequests &requests, frmServer &server)
{
    QObject::connect(&requests, &CloseRequests::received, &server, [&server] {
        closeOpenDialogs();
        server.shutdownNow();
    });
}

} // namespace Tarvo
