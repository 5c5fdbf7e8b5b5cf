// Test clients of the control channel that speak the wire format by hand.
#pragma once

#include "ControlProtocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Tarvo::Testing {

// A client that speaks the wire format by hand.
struct RawClient
{
    QLocalSocket socket;
    QByteArray buffer;
    QList<QJsonObject> lines;

    bool open(const QString &path, const QByteArray &hello = R"({"op":"hello","version":"1.0"})")
    {
        socket.connectToServer(path);
        if (!socket.waitForConnected(2000))
            return false;
        if (!hello.isEmpty())
            send(hello);
        return true;
    }
    void send(const QByteArray &line) { socket.write(line + '\n'); }
    // Waits until count lines came (or the socket closed); returns them all.
    bool waitLines(int count, int ms = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        while (lines.size() < count && clock.elapsed() < ms) {
            QTest::qWait(5);
            buffer += socket.readAll();
            QByteArray line;
            while (Control::takeLine(buffer, line, 1 << 24) == Control::Take::Line)
                lines << Control::parseLine(line, Control::ReplyLimits).object;
        }
        return lines.size() >= count;
    }
    bool waitClosed(int ms = 5000)
    {
        return QTest::qWaitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; },
                               ms);
    }
};

#ifdef Q_OS_UNIX
// A client socket that Qt knows nothing of: it reads only when told to.
inline int rawConnect(const QString &path, const QByteArray &requests)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::write(fd, requests.constData(), size_t(requests.size())) != requests.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}
#endif

} // namespace Tarvo::Testing
