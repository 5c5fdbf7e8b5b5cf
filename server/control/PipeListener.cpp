#include "PipeListener.h"

#include <QLocalSocket>
#include <QWinEventNotifier>

#include <qt_windows.h>
#include <sddl.h>

#include <algorithm>
#include <utility>

namespace Tarvo {

// Deny first: a network logon is refused even as an administrator.
// SY LocalSystem, BA Administrators: all; IU interactive users: read and
// write (FR, FW); NU network logons: nothing.
const wchar_t *const PipeListener::PipeSecurity = L"D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)"
                                                  L"(A;;FRFW;;;IU)";

// The instance that waits for a client, with its pending ConnectNamedPipe.
struct PipeListener::Waiting
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    bool connected = false; // before the wait began
    std::unique_ptr<QWinEventNotifier> notifier;

    ~Waiting()
    {
        // It may be the sender of the signal being handled: it goes later,
        // and says nothing more meanwhile.
        if (notifier) {
            notifier->setEnabled(false);
            QObject::disconnect(notifier.get(), nullptr, nullptr, nullptr);
            notifier.release()->deleteLater();
        }
        if (pipe != INVALID_HANDLE_VALUE) {
            CancelIoEx(pipe, &overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
            CloseHandle(pipe);
        }
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
    }
};

namespace {
constexpr DWORD BufferSize = 64 * 1024;
} // namespace

PipeListener::PipeListener(QObject *parent) : QObject(parent) {}

PipeListener::~PipeListener()
{
    close();
}

QString PipeListener::fullPipeName(const QString &name)
{
    static const QString prefix = QStringLiteral("\\\\.\\pipe\\");
    return name.startsWith(prefix, Qt::CaseInsensitive) ? name : prefix + name;
}

QString PipeListener::systemMessage(unsigned long code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message =
        text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}

QString PipeListener::systemError(const QString &what, unsigned long code) const
{
    return QStringLiteral("%1 %2: %3").arg(what, m_fullName, systemMessage(code));
}

bool PipeListener::listen(const QString &name)
{
    close();
    m_error.clear();
    m_fullName = fullPipeName(name);
    for (int i = 0; i < WaitingInstances; ++i) {
        if (!addInstance(i == 0)) {
            const QString error = m_error;
            close();
            m_error = error;
            return false;
        }
    }
    return true;
}

// A new instance that waits for a client.
bool PipeListener::addInstance(bool first)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(PipeSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        m_error = systemError(QStringLiteral("Cannot describe the security of"), GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    auto waiting = std::make_unique<Waiting>();
    waiting->pipe = CreateNamedPipeW(
        reinterpret_cast<LPCWSTR>(m_fullName.utf16()), openMode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, BufferSize, BufferSize, 3000, &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    DWORD instances = 0;
    if (first && waiting->pipe != INVALID_HANDLE_VALUE &&
        GetNamedPipeHandleStateW(waiting->pipe, nullptr, &instances, nullptr, nullptr, nullptr,
                                 0) &&
        instances > 1) {
        m_error = QStringLiteral("The pipe %1 exists already: another process made it first, "
                                 "and it is not ours to serve (%2 instances).")
                      .arg(m_fullName)
                      .arg(instances - 1);
        return false;
    }
    if (waiting->pipe == INVALID_HANDLE_VALUE) {
        // The first instance fails so exactly when the name is taken.
        m_error = first && (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)
                      ? QStringLiteral("The pipe %1 exists already: another process made it "
                                       "first, and it is not ours to serve (%2).")
                            .arg(m_fullName, systemMessage(error))
                      : systemError(QStringLiteral("Cannot make the pipe"), error);
        return false;
    }
    waiting->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    waiting->notifier = std::make_unique<QWinEventNotifier>(waiting->overlapped.hEvent);
    Waiting *raw = waiting.get();
    connect(waiting->notifier.get(), &QWinEventNotifier::activated, this,
            [this, raw] { onConnected(raw); });
    if (!waitForClient(*waiting))
        return false;
    m_waiting.push_back(std::move(waiting));
    return true;
}

// Starts the instance's wait. A client that came between the instance's
// making and this call is noted and taken at once.
bool PipeListener::waitForClient(Waiting &waiting)
{
    waiting.connected = false;
    if (ConnectNamedPipe(waiting.pipe, &waiting.overlapped))
        return true; // done already: the event is set
    switch (const DWORD error = GetLastError()) {
    case ERROR_IO_PENDING:
        return true;
    case ERROR_PIPE_CONNECTED:
        waiting.connected = true;
        SetEvent(waiting.overlapped.hEvent);
        return true;
    default:
        m_error = systemError(QStringLiteral("Cannot wait for clients at"), error);
        return false;
    }
}

void PipeListener::onConnected(Waiting *waiting)
{
    // As QLocalServer does: reset before looking, so that a client that
    // connects meanwhile sets the event again.
    waiting->notifier->setEnabled(false);
    ResetEvent(waiting->overlapped.hEvent);
    DWORD ignored = 0;
    if (!waiting->connected &&
        !GetOverlappedResult(waiting->pipe, &waiting->overlapped, &ignored, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE)
            return waiting->notifier->setEnabled(true); // not yet: a stale wake-up
        // The client left before it was taken: the instance waits again.
        DisconnectNamedPipe(waiting->pipe);
        if (waitForClient(*waiting))
            return waiting->notifier->setEnabled(true);
        return stopWaiting();
    }
    // The connected instance leaves the pool for a socket; a new one
    // takes its place.
    const HANDLE client = std::exchange(waiting->pipe, INVALID_HANDLE_VALUE);
    const auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                                 [waiting](const auto &w) { return w.get() == waiting; });
    if (it != m_waiting.end())
        m_waiting.erase(it);
    if (!addInstance(false))
        stopWaiting(); // errorString() says why
    auto *socket = new QLocalSocket;
    socket->setSocketDescriptor(qintptr(client), QLocalSocket::ConnectedState,
                                QIODevice::ReadWrite);
    m_pending << socket;
    emit newConnection();
}

QLocalSocket *PipeListener::nextPendingConnection()
{
    return m_pending.isEmpty() ? nullptr : m_pending.takeFirst();
}

void PipeListener::close()
{
    stopWaiting();
    qDeleteAll(m_pending);
    m_pending.clear();
}

void PipeListener::stopWaiting()
{
    m_waiting.clear();
}

} // namespace Tarvo
