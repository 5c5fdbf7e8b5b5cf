// The real tarvo-portable binary over a real pseudo-terminal, paced: the AT
// dialogue, a call from RING to NO CARRIER with one file, the summary line.
//
// Only lower bounds are timed and every wait has a generous deadline, so a
// loaded machine makes the test slower, never wrong. The simulator runs
// until it is told to stop: exiting on its own after the last call would
// close the pseudo-terminal and discard whatever a slow reader had not yet
// read.
#include "PortableFrames.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace Tarvo::Portable;

namespace {

constexpr int Patience = 30000; // ms

// The host's end of the pseudo-terminal, raw, as a serial port would be.
class HostSide
{
public:
    explicit HostSide(const QByteArray &path)
        : m_fd(::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio{};
        if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~HostSide()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Reads until `expected` has arrived; everything read is kept in `seen`.
    bool waitFor(const QByteArray &expected)
    {
        const QDeadlineTimer deadline(Patience);
        while (!seen.contains(expected) && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            char buffer[512];
            ssize_t n = 0;
            if (::poll(&p, 1, 50) > 0 && (n = ::read(m_fd, buffer, sizeof buffer)) > 0)
                seen.append(buffer, n);
        }
        return seen.contains(expected);
    }

    QByteArray seen;

private:
    int m_fd = -1;
};

QByteArray frame(char type, const QByteArray &body = {})
{
    const std::string f = buildHostFrame(type, body.toStdString());
    return QByteArray(f.data(), qsizetype(f.size()));
}

} // namespace

class PortableSmokeTest : public QObject
{
    Q_OBJECT

private slots:
    void callOverThePseudoTerminal()
    {
        QTemporaryDir dir;
        QProcess portable;
        portable.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        portable.start(QStringLiteral(TARVO_PORTABLE_PATH),
                       {"--first-call-delay", "0", "--bps", "2400", "--download-dir",
                        dir.filePath("received"), "--upload-dir", dir.path()});
        QVERIFY(portable.waitForStarted(Patience));
        const QDeadlineTimer started(Patience);
        while (!portable.canReadLine() && !started.hasExpired())
            portable.waitForReadyRead(100);
        const QByteArray first = portable.readLine().trimmed();
        QVERIFY2(first.startsWith("PTY /dev/"), first.constData());

        HostSide host(first.mid(4));
        QVERIFY(host.isOpen());
        QVERIFY(host.write("ATE0V1Q0S0=0\r"));
        QVERIFY(host.waitFor("\r\nOK\r\n"));
        host.seen.clear();
        QVERIFY(host.write("ATS0=1\r"));
        QVERIFY2(host.waitFor("Portable ready\r\n"), host.seen.toHex().constData());
        QCOMPARE(host.seen, QByteArray("\r\nOK\r\n\r\nRING\r\n\r\nCONNECT 2400\r\n"
                                       "Portable ready\r\n"));

        host.seen.clear();
        QVERIFY(host.write(frame('L', "A.TXT")));
        QVERIFY(host.waitFor("\x06"));
        // 120 escaped 0xFF bytes make a 246-byte frame: 1025 ms at 240 bytes a
        // second, so its ACK cannot come sooner.
        host.seen.clear();
        const QByteArray block = frame('Y', QByteArray(120, '\xff').replace('\xff', "\\\x7f"));
        QCOMPARE(block.size(), 246);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(host.write(block));
        QVERIFY(host.waitFor("\x06"));
        QVERIFY2(clock.elapsed() >= 1025, qPrintable(QString::number(clock.elapsed())));

        QVERIFY(host.write(frame('Z') + frame('0', "\r\nALL DONE\r\n")));
        QVERIFY2(host.waitFor("\r\nNO CARRIER\r\n"), host.seen.toHex().constData());
        QCOMPARE(host.seen, QByteArray("\x06\x06\x06\r\nNO CARRIER\r\n"));
        QFile received(dir.filePath("received/A.TXT"));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), QByteArray(120, '\xff'));

        portable.terminate();
        QVERIFY(portable.waitForFinished(Patience));
        QCOMPARE(portable.exitStatus(), QProcess::NormalExit);
        QCOMPARE(portable.exitCode(), 0);
        const QByteArray summary = portable.readAllStandardOutput();
        QVERIFY2(summary.startsWith("CALL 1 files=1 payload=120 "), summary.constData());
        QVERIFY(summary.contains("outcome=all-done"));
    }
};

QTEST_GUILESS_MAIN(PortableSmokeTest)
#include "test_portable_smoke.moc"
