// The portable's side of a call, driven with host frames built by hand and
// checked by what it answers and what ends up in its folders.
#include "PortableSession.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo::Portable;

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

QByteArray pattern(int size)
{
    QByteArray data;
    for (int i = 0; i < size; ++i)
        data += char((i * 37 + i / 7) & 0xFF);
    return data;
}

// A session with its own folders, fed whole frames.
struct Rig
{
    QTemporaryDir dir;
    PortableSession session;

    explicit Rig(Faults faults = {})
        : session(SessionSettings{dirPath("received"), dirPath("files"), faults})
    {
        session.beginCall();
    }

    std::filesystem::path dirPath(const char *sub)
    {
        QDir(dir.path()).mkpath(sub);
        return std::filesystem::path(dir.filePath(sub).toStdString());
    }

    QByteArray send(const std::string &raw)
    {
        for (const char c : raw)
            session.receive(static_cast<unsigned char>(c));
        return bytes(session.takeOutput());
    }
    QByteArray frame(char type, const QByteArray &body = {})
    {
        return send(buildHostFrame(type, body.toStdString()));
    }
    QByteArray data(const QByteArray &raw)
    {
        return frame('Y', bytes(escapeData(raw.toStdString())));
    }
    void serve(const QString &name, const QByteArray &content)
    {
        QFile f(dir.filePath("files/" + name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray received(const QString &name)
    {
        QFile f(dir.filePath("received/" + name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // Asks for frames until the last one, acknowledging each; the data of
    // every accepted frame, in order.
    QByteArray fetchAll(int maxFrames = 1000)
    {
        QByteArray content;
        for (int i = 0; i < maxFrames; ++i) {
            const auto parsed = parsePortableFrame(frame('Y').toStdString());
            if (!parsed)
                return "<bad frame>";
            send("\x06");
            if (parsed->type == 'Z')
                return content;
            content += bytes(parsed->body);
        }
        return "<no end>";
    }
};

const QByteArray ack("\x06");
const QByteArray nak("\x15");
const QByteArray eot("\x04");

} // namespace

class PortableSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void downloadStoresTheFile_data();
    void downloadStoresTheFile();
    void downloadRestartResumesAtTheOffset();
    void badFramesChangeNothing();
    void uploadServesTheFile_data();
    void uploadServesTheFile();
    void uploadRepeatsAFrameUntilAcknowledged();
    void uploadRestartsAtTheRequestedOffset();
    void uploadRefusals_data();
    void uploadRefusals();
    void messagesThatEndTheCall_data();
    void messagesThatEndTheCall();
    void faultNaksAreNotApplied();
    void faultCorruptsEveryKthFrameSent();
    void faultFallsSilent();
    void faultHangsUpInTheMiddleOfAFile();
    void names_data();
    void names();
};

void PortableSessionTest::downloadStoresTheFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one block of everything") << pattern(120);
    QTest::newRow("three blocks and a bit") << pattern(361);
}

void PortableSessionTest::downloadStoresTheFile()
{
    QFETCH(QByteArray, content);
    Rig rig;
    QCOMPARE(rig.frame('0', "RECEIVING OUT.BIN\r\n"), ack);
    QCOMPARE(rig.frame('L', "Out.bin"), ack);
    for (qsizetype at = 0; at < content.size(); at += 120)
        QCOMPARE(rig.data(content.mid(at, 120)), ack);
    QCOMPARE(rig.frame('Z'), ack);
    QCOMPARE(rig.received("Out.bin"), content);
    QCOMPARE(rig.session.stats().files, 1);
    QCOMPARE(rig.session.stats().payload, content.size());
}

void PortableSessionTest::downloadRestartResumesAtTheOffset()
{
    Rig rig;
    const QByteArray content = pattern(300);
    QCOMPARE(rig.frame('L', "A.TXT"), ack);
    QCOMPARE(rig.data(content.left(120)), ack);
    QCOMPARE(rig.data("garbage the host will resend"), ack);
    // The host's restart: end packet, announce at the block, the block again.
    QCOMPARE(rig.frame('Z'), ack);
    QCOMPARE(rig.frame('L', "A.TXT[120]"), ack);
    QCOMPARE(rig.data(content.mid(120, 120)), ack);
    QCOMPARE(rig.data(content.mid(240)), ack);
    QCOMPARE(rig.frame('Z'), ack);
    QCOMPARE(rig.received("A.TXT"), content);
}

void PortableSessionTest::badFramesChangeNothing()
{
    Rig rig;
    std::string announce = buildHostFrame('L', "A.TXT");
    announce[announce.size() - 2] ^= 1;
    QCOMPARE(rig.send(announce), nak);
    QCOMPARE(rig.received("A.TXT"), QByteArray("<missing>"));
    QCOMPARE(rig.data("no file announced"), nak);
    QCOMPARE(rig.frame('Q'), nak);
    QCOMPARE(rig.frame('Y'), nak); // next-packet request without a request
    QCOMPARE(rig.session.stats().badFrames, 1);
    QCOMPARE(rig.frame('L', "A.TXT"), ack);
    std::string block = buildHostFrame('Y', escapeData("lost"));
    block[4] ^= 1;
    QCOMPARE(rig.send(block), nak);
    QCOMPARE(rig.frame('Z'), ack);
    QCOMPARE(rig.received("A.TXT"), QByteArray());
}

void PortableSessionTest::uploadServesTheFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("119") << pattern(119);
    QTest::newRow("120") << pattern(120);
    QTest::newRow("every byte value, 1000") << pattern(1000);
}

void PortableSessionTest::uploadServesTheFile()
{
    QFETCH(QByteArray, content);
    Rig rig;
    rig.serve("IN.TXT", content);
    QCOMPARE(rig.frame('U', "IN.TXT[0]"), ack);
    QCOMPARE(rig.fetchAll(), content);
    QCOMPARE(rig.session.stats().files, 1);
    QCOMPARE(rig.session.stats().payload, content.size());
    QCOMPARE(rig.frame('Y'), nak); // the file is finished
}

void PortableSessionTest::uploadRepeatsAFrameUntilAcknowledged()
{
    Rig rig;
    rig.serve("IN.TXT", pattern(200));
    QCOMPARE(rig.frame('U', "IN.TXT[0]"), ack);
    const QByteArray first = rig.frame('Y');
    QVERIFY(parsePortableFrame(first.toStdString()));
    QCOMPARE(rig.frame('Y'), first); // unanswered: the host may have missed it
    rig.send("\x15");
    QCOMPARE(rig.frame('Y'), first); // refused
    rig.send("\x06");
    const auto second = parsePortableFrame(rig.frame('Y').toStdString());
    QVERIFY(second);
    QCOMPARE(bytes(second->body), pattern(200).mid(120));
    rig.send("\x06\x06"); // a stray second ACK must not skip anything
    QCOMPARE(parsePortableFrame(rig.frame('Y').toStdString())->type, 'Z');
}

void PortableSessionTest::uploadRestartsAtTheRequestedOffset()
{
    Rig rig;
    const QByteArray content = pattern(500);
    rig.serve("IN.TXT", content);
    QCOMPARE(rig.frame('U', "IN.TXT[0]"), ack);
    rig.frame('Y');
    rig.send("\x06");
    rig.frame('Y'); // in flight when the host gives up and asks again
    QCOMPARE(rig.frame('U', "IN.TXT[120]"), ack);
    QCOMPARE(rig.fetchAll(), content.mid(120));
}

void PortableSessionTest::uploadRefusals_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("eotFault");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("missing file") << QByteArray("NONE.TXT[0]") << false << eot;
    QTest::newRow("a folder is no file") << QByteArray("..[0]") << false << eot;
    QTest::newRow("bad offset") << QByteArray("IN.TXT[x]") << false << eot;
    QTest::newRow("EOT fault") << QByteArray("IN.TXT[0]") << true << eot;
    QTest::newRow("other case is found") << QByteArray("in.txt[0]") << false << ack;
}

void PortableSessionTest::uploadRefusals()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, eotFault);
    QFETCH(QByteArray, answer);

    Faults faults;
    faults.eot = eotFault;
    Rig rig(faults);
    rig.serve("IN.TXT", "content");
    QCOMPARE(rig.frame('U', request), answer);
    if (answer == eot)
        QCOMPARE(rig.frame('Y'), nak);
}

void PortableSessionTest::messagesThatEndTheCall_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("end");

    QTest::newRow("all done") << QByteArray("\r\nALL DONE\r\n") << int(EndRequest::AllDone);
    QTest::newRow("error") << QByteArray("\r\nERROR\r\n") << int(EndRequest::Error);
    QTest::newRow("success") << QByteArray("\r\nSUCCESS\r\n") << int(EndRequest::None);
    QTest::newRow("file named ERROR") << QByteArray("RECEIVING ERROR\r\n") << int(EndRequest::None);
    QTest::newRow("dot") << QByteArray(".") << int(EndRequest::None);
}

void PortableSessionTest::messagesThatEndTheCall()
{
    QFETCH(QByteArray, text);
    QFETCH(int, end);
    Rig rig;
    QCOMPARE(rig.frame('0', text), ack);
    QCOMPARE(int(rig.session.endRequest()), end);
}

void PortableSessionTest::faultNaksAreNotApplied()
{
    Faults faults;
    faults.nakEvery = 2;
    Rig rig(faults);
    QCOMPARE(rig.frame('L', "A.TXT"), ack); // good frame 1
    QCOMPARE(rig.data("one"), nak);         // 2: refused, not stored
    QCOMPARE(rig.data("one"), ack);         // 3
    std::string bad = buildHostFrame('Y', "x");
    bad[3] = 'y';
    QCOMPARE(rig.send(bad), nak);   // bad frames do not count
    QCOMPARE(rig.frame('Z'), nak);  // 4: not closed
    QCOMPARE(rig.data("two"), ack); // 5
    QCOMPARE(rig.frame('Z'), nak);  // 6
    QCOMPARE(rig.frame('Z'), ack);  // 7
    QCOMPARE(rig.received("A.TXT"), QByteArray("onetwo"));
    QCOMPARE(rig.session.stats().files, 1);
}

void PortableSessionTest::faultCorruptsEveryKthFrameSent()
{
    Faults faults;
    faults.corruptEvery = 2;
    Rig rig(faults);
    rig.serve("IN.TXT", pattern(300));
    QCOMPARE(rig.frame('U', "IN.TXT[0]"), ack);
    QVERIFY(parsePortableFrame(rig.frame('Y').toStdString())); // frame 1
    rig.send("\x06");
    QVERIFY(!parsePortableFrame(rig.frame('Y').toStdString())); // frame 2, corrupted
    rig.send("\x15");
    const auto resent = parsePortableFrame(rig.frame('Y').toStdString()); // 3
    QVERIFY(resent);
    QCOMPARE(bytes(resent->body), pattern(300).mid(120, 120));
}

void PortableSessionTest::faultFallsSilent()
{
    Faults faults;
    faults.silentAfter = 2;
    Rig rig(faults);
    rig.serve("IN.TXT", pattern(300));
    QCOMPARE(rig.frame('U', "IN.TXT[0]"), ack);
    QVERIFY(!rig.frame('Y').isEmpty());
    QCOMPARE(rig.frame('Y'), QByteArray());
    QCOMPARE(rig.frame('0', "\r\nALL DONE\r\n"), QByteArray());
    QCOMPARE(int(rig.session.endRequest()), int(EndRequest::None));
    rig.session.beginCall(); // the next call is answered again
    QCOMPARE(rig.frame('0', "."), ack);
}

void PortableSessionTest::faultHangsUpInTheMiddleOfAFile()
{
    Faults faults;
    faults.hangupAfterBytes = 200;
    Rig rig(faults);
    QCOMPARE(rig.frame('L', "A.TXT"), ack);
    QCOMPARE(rig.data(pattern(120)), ack);
    QCOMPARE(int(rig.session.endRequest()), int(EndRequest::None));
    QCOMPARE(rig.data(pattern(120)), ack);
    QCOMPARE(int(rig.session.endRequest()), int(EndRequest::FaultHangup));

    Rig upload(faults);
    upload.serve("IN.TXT", pattern(1000));
    QCOMPARE(upload.frame('U', "IN.TXT[0]"), ack);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(int(upload.session.endRequest()), int(EndRequest::None));
        upload.frame('Y');
        upload.send("\x06");
    }
    QCOMPARE(int(upload.session.endRequest()), int(EndRequest::FaultHangup));
}

void PortableSessionTest::names_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<qint64>("offset");

    QTest::newRow("plain") << QByteArray("A.TXT") << true << QByteArray("A.TXT") << qint64(0);
    QTest::newRow("offset") << QByteArray("A.TXT[360]") << true << QByteArray("A.TXT")
                            << qint64(360);
    QTest::newRow("zero") << QByteArray("A.TXT[0]") << true << QByteArray("A.TXT") << qint64(0);
    QTest::newRow("path") << QByteArray("C:\\IN\\../A[5]") << true << QByteArray("C:_IN_.._A")
                          << qint64(5);
    QTest::newRow("empty offset") << QByteArray("A[]") << false << QByteArray() << qint64(0);
    QTest::newRow("sign") << QByteArray("A[-1]") << false << QByteArray() << qint64(0);
    QTest::newRow("dot dot") << QByteArray("..") << true << QByteArray() << qint64(0);
}

void PortableSessionTest::names()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QByteArray, name);
    QFETCH(qint64, offset);

    std::string split;
    std::int64_t at = -1;
    QCOMPARE(PortableSession::splitNameOffset(body.toStdString(), split, at), ok);
    if (ok) {
        QCOMPARE(bytes(PortableSession::safeName(split)), name);
        QCOMPARE(qint64(at), offset);
    }
}

QTEST_APPLESS_MAIN(PortableSessionTest)
#include "test_portable_session.moc"
