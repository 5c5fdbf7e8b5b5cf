#include "PipeListener.h"

#include <QLocalSocket>
#include <QWinEventNotifier>

#include <qt_windows.h>
#include <sddl.h>

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

bool PipeListener::isListening() const
{
    return m_waiting != nullptr;
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
    m_waiting = new Waiting;
    m_waiting->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_notifier = new QWinEventNotifier(m_waiting->overlapped.hEvent, this);
    connect(m_notifier, &QWinEventNotifier::activated, this, &PipeListener::onConnected);
    if (!makeInstance(true) || !waitForClient()) {
        const QString error = m_error;
        close();
        m_error = error;
        return false;
    }
    return true;
}

bool PipeListener::makeInstance(bool first)
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
    m_waiting->pipe = CreateNamedPipeW(
        reinterpret_cast<LPCWSTR>(m_fullName.utf16()), openMode,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, BufferSize, BufferSize, 3000, &attributes);
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (m_waiting->pipe != INVALID_HANDLE_VALUE)
        return true;
    // The first instance fails so exactly when the name is taken.
    m_error = first && (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY)
                  ? QStringLiteral("The pipe %1 exists already: another process made it first, "
                                   "and it is not ours to serve (%2).")
                        .arg(m_fullName, systemMessage(error))
                  : systemError(QStringLiteral("Cannot make the pipe"), error);
    return false;
}

// Starts waiting for the next client. A client that came between the
// instance's making and this call is noted and taken at once.
bool PipeListener::waitForClient()
{
    m_waiting->connected = false;
    m_waiting->overlapped.Internal = m_waiting->overlapped.InternalHigh = 0;
    if (ConnectNamedPipe(m_waiting->pipe, &m_waiting->overlapped))
        return true; // done already: the event is set
    switch (const DWORD error = GetLastError()) {
    case ERROR_IO_PENDING:
        return true;
    case ERROR_PIPE_CONNECTED:
        m_waiting->connected = true;
        SetEvent(m_waiting->overlapped.hEvent);
        return true;
    default:
        m_error = systemError(QStringLiteral("Cannot wait for clients at"), error);
        return false;
    }
}

void PipeListener::onConnected()
{
    // As QLocalServer does: reset before looking, so that a client that
    // connects meanwhile sets the event again.
    m_notifier->setEnabled(false);
    ResetEvent(m_waiting->overlapped.hEvent);
    DWORD ignored = 0;
    if (!m_waiting->connected &&
        !GetOverlappedResult(m_waiting->pipe, &m_waiting->overlapped, &ignored, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE)
            return m_notifier->setEnabled(true); // not yet: a stale wake-up
        // The client left before it was taken: the instance waits again.
        DisconnectNamedPipe(m_waiting->pipe);
        if (!waitForClient())
            return stopWaiting();
        return m_notifier->setEnabled(true);
    }
    // The next instance waits before this one is handed on, so that a
    // client never finds the name without a server.
    const HANDLE client = m_waiting->pipe;
    m_waiting->pipe = INVALID_HANDLE_VALUE;
    const bool next = makeInstance(false) && waitForClient();
    auto *socket = new QLocalSocket;
    socket->setSocketDescriptor(qintptr(client), QLocalSocket::ConnectedState,
                                QIODevice::ReadWrite);
    m_pending << socket;
    if (next)
        m_notifier->setEnabled(true);
    else
        stopWaiting(); // errorString() says why
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
    delete m_notifier;
    m_notifier = nullptr;
    if (m_waiting) {
        if (m_waiting->pipe != INVALID_HANDLE_VALUE) {
            CancelIoEx(m_waiting->pipe, &m_waiting->overlapped);
            DWORD ignored = 0;
            GetOverlappedResult(m_waiting->pipe, &m_waiting->overlapped, &ignored, TRUE);
            CloseHandle(m_waiting->pipe);
        }
        CloseHandle(m_waiting->overlapped.hEvent);
        delete m_waiting;
        m_waiting = nullptr;
    }
}

} // namespace Tarvo
