// The real tarvo-portable binary over a real pseudo-terminal: its first line,
// the AT dialogue, a call from RING to NO CARRIER, the summary, the symlink
// and the line speed.
#include "PortableFrames.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace Tarvo::Portable;

namespace {

// The host's end of the pseudo-terminal, raw, as a serial port would be.
class HostSide
{
public:
    explicit HostSide(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio{};
            tcgetattr(m_fd, &tio);
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

    void write(const QByteArray &bytes)
    {
        QCOMPARE(::write(m_fd, bytes.data(), bytes.size()), bytes.size());
    }

    // Reads until `expected` has arrived; everything read is kept in `seen`.
    bool waitFor(const QByteArray &expected, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!seen.contains(expected)) {
            if (deadline.hasExpired())
                return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                char buffer[512];
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0)
                    seen.append(buffer, n);
            }
        }
        return true;
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

    QTemporaryDir m_dir;
    QProcess m_portable;

    QString startPortable(const QStringList &extra)
    {
        m_portable.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_portable.start(QStringLiteral(TARVO_PORTABLE_PATH),
                         QStringList{"--download-dir", m_dir.filePath("received"), "--upload-dir",
                                     m_dir.path()} +
                             extra);
        if (!m_portable.waitForStarted(5000))
            return {};
        const QDeadlineTimer deadline(5000);
        while (!m_portable.canReadLine() && !deadline.hasExpired())
            m_portable.waitForReadyRead(100);
        const QByteArray line = m_portable.readLine().trimmed();
        return line.startsWith("PTY ") ? QString::fromLocal8Bit(line.mid(4)) : QString();
    }

private slots:
    void cleanup()
    {
        if (m_portable.state() != QProcess::NotRunning) {
            m_portable.kill();
            m_portable.waitForFinished(3000);
        }
    }

    void callOverThePseudoTerminal()
    {
        const QString link = m_dir.filePath("modem");
        const QString json = m_dir.filePath("calls.json");
        const QString pty =
            startPortable({"--first-call-delay", "0", "--bps", "0", "--calls", "1", "--linger",
                           "0.3", "--link", link, "--json", json, "-v"});
        QVERIFY(pty.startsWith("/dev/"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), pty);

        HostSide host(link);
        QVERIFY(host.isOpen());
        host.write("ATE0V1Q0S0=0\r");
        QVERIFY(host.waitFor("\r\nOK\r\n"));
        host.seen.clear();
        host.write("ATS0=1\r");
        QVERIFY(host.waitFor("Portable ready\r\n"));
        QVERIFY(host.seen.contains("\r\nOK\r\n\r\nRING\r\n\r\nCONNECT 9600\r\n"));

        host.seen.clear();
        host.write(frame('L', "A.TXT"));
        QVERIFY(host.waitFor("\x06"));
        host.write(frame('Y', "hello"));
        host.write(frame('Z'));
        host.write(frame('0', "\r\nALL DONE\r\n"));
        QVERIFY2(host.waitFor("\r\nNO CARRIER\r\n"), host.seen.toHex().constData());
        QCOMPARE(host.seen, QByteArray("\x06\x06\x06\x06\r\nNO CARRIER\r\n"));
        host.write("ATS0=1\r"); // the host re-arms; the simulator still answers
        QVERIFY(host.waitFor("\r\nNO CARRIER\r\n\r\nOK\r\n"));

        QVERIFY(m_portable.waitForFinished(10000));
        QCOMPARE(m_portable.exitCode(), 0);
        const QByteArray out = m_portable.readAllStandardOutput();
        QVERIFY2(out.startsWith("CALL 1 files=1 payload=5 "), out.constData());
        QVERIFY(out.contains("outcome=all-done"));
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());

        QFile received(m_dir.filePath("received/A.TXT"));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), QByteArray("hello"));
        QFile record(json);
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QByteArray line = record.readAll();
        QVERIFY2(line.startsWith("{\"call\":1,\"files\":1,\"payload_bytes\":5,"), line.constData());
        QVERIFY(line.contains("\"outcome\":\"all-done\"}\n"));
    }

    void hostBytesArriveAtTheLineSpeed()
    {
        const QString pty = startPortable({"--first-call-delay", "0", "--bps", "2400"});
        QVERIFY(!pty.isEmpty());
        HostSide host(pty);
        host.write("ATS0=1\r");
        QVERIFY(host.waitFor("Portable ready\r\n"));
        host.write(frame('L', "B.BIN"));
        QVERIFY(host.waitFor("\x06"));
        host.seen.clear();

        // 246 bytes take 1.025 s at 240 bytes a second; the ACK cannot come sooner.
        const QByteArray block = frame('Y', QByteArray(120, '\xff').replace('\xff', "\\\x7f"));
        QCOMPARE(block.size(), 246);
        QElapsedTimer clock;
        clock.start();
        host.write(block);
        QVERIFY(host.waitFor("\x06", 5000));
        const qint64 ms = clock.elapsed();
        QVERIFY2(ms >= 1025 && ms < 2500, qPrintable(QString::number(ms)));
    }

    void hostClosingAndReopeningIsSurvived()
    {
        const QString pty = startPortable({"--first-call-delay", "0", "--bps", "0"});
        QVERIFY(!pty.isEmpty());
        {
            HostSide host(pty);
            host.write("ATS0=1\r");
            QVERIFY(host.waitFor("Portable ready\r\n"));
        } // closed in the middle of the call
        QTest::qWait(300);
        QCOMPARE(m_portable.state(), QProcess::Running);
        HostSide again(pty);
        again.write("ATE0V1Q0S0=0\r");
        QVERIFY(again.waitFor("\r\nOK\r\n"));
        m_portable.terminate();
        QVERIFY(m_portable.waitForFinished(5000));
        QCOMPARE(m_portable.exitStatus(), QProcess::NormalExit);
        QVERIFY(m_portable.readAllStandardOutput().contains("outcome=host-gone"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("stdoutStart");

        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Usage: tarvo-portable");
        QTest::newRow("unknown option") << QStringList{"--speed", "1"} << 2 << QByteArray();
        QTest::newRow("missing device")
            << QStringList{"--device", m_dir.filePath("none")} << 1 << QByteArray();
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, stdoutStart);
        QProcess process;
        process.start(QStringLiteral(TARVO_PORTABLE_PATH), args);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), exitCode);
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY(out.startsWith(stdoutStart));
        if (exitCode != 0)
            QVERIFY(!process.readAllStandardError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(PortableSmokeTest)
#include "test_portable_smoke.moc"
