// Faults on the line must never cost a file. Whatever goes wrong, an upload
// target holds its old content or the complete new one (never a partial
// file, never a stray ".BAK"), a download leaves the host file alone, the log
// says what happened, and the server is ready for the next call (or stopped
// with a red message when the port itself is gone).
//
// Slow faults (a portable that falls silent, a hang-up, a vanished port) run
// on the fake line with a virtual clock; NAKs and corrupted frames run
// against tarvo-portable over a pseudo-terminal.
#include "Configuration.h"
#include "FakeHost.h"
#include "HostSession.h"
#include "Portable.h"
#include "PortableRig.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Tarvo;
using namespace Tarvo::Testing;
using namespace Tarvo::Bench;

namespace {

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result();
}

} // namespace

class FaultTest : public QObject
{
    Q_OBJECT

    struct Rig : FakeHost
    {
        Portable portable{line};

        Rig()
        {
            portable.answerModem = true;
            config.ModemPort = 1;
            session.modem().InitializeModem();
        }
    };

    QTemporaryDir m_dir;

private slots:
    void uploadSurvivesFaults_data();
    void uploadSurvivesFaults();
    void silentPortableLeavesDownloadSourceAlone();
    void nakAndCorruptionOverThePseudoTerminal_data();
    void nakAndCorruptionOverThePseudoTerminal();
};

void FaultTest::uploadSurvivesFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("existing");

    for (const char *fault : {"silent", "hangup", "vanish"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, over an old copy").arg(fault)))
            << QString(fault) << true;
        QTest::newRow(qPrintable(QStringLiteral("%1, new file").arg(fault)))
            << QString(fault) << false;
    }
}

void FaultTest::uploadSurvivesFaults()
{
    QFETCH(QString, fault);
    QFETCH(bool, existing);

    Rig rig;
    QVERIFY(rig.state.PortOpened);
    const QString target = m_dir.filePath(QStringLiteral("%1-%2.txt").arg(fault).arg(existing));
    const QString backup = UploadJob::backupPath(target);
    if (existing) {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old content");
    }
    rig.config.JobType = UploadOnly;
    rig.config.UploadList[0] = {"DATA.TXT", target};
    rig.config.deriveCounts();
    rig.portable.source = pattern(5000);
    const QList<Rule> silence{{'Y', 10, 1 << 30, {}}}; // no answer from the tenth request on
    if (fault == "silent")
        rig.portable.rules = silence;
    rig.portable.onFrame = [&](char type) {
        if (fault == "silent" || type != 'Y' || rig.portable.count("Y") < 10)
            return;
        rig.portable.rules = silence;
        if (fault == "vanish")
            return rig.line.vanish();
        rig.line.carrier = false;
        rig.line.deliver("\r\nNO CARRIER\r\n", 30);
    };

    rig.receive("\r\nCONNECT 9600\r\nPortable ready\r\n");

    if (existing)
        QCOMPARE(PortableRig::readFile(target), QByteArray("old content"));
    else
        QVERIFY(!QFile::exists(target));
    QVERIFY(!QFile::exists(backup));
    QVERIFY(rig.reporter.log.contains("Upload failed"));

    if (fault == "vanish") {
        QVERIFY(!rig.state.PortOpened);
        QCOMPARE(rig.line.closes, 1);
        QVERIFY(rig.reporter.redText().contains("Modem port lost"));
        QCOMPARE(rig.controls.startStop, QString("Start"));
        return;
    }
    if (fault == "silent") {
        QVERIFY(rig.reporter.redText().contains("Time out error (2)"));
        rig.line.carrier = false; // the portable gives up and hangs up
        rig.receive("\r\nNO CARRIER\r\n");
    }
    QVERIFY(!rig.state.Connected);
    QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
    QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
}

void FaultTest::silentPortableLeavesDownloadSourceAlone()
{
    Rig rig;
    const QString source = m_dir.filePath("source.bin");
    {
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(3000));
    }
    const QByteArray before = digest(source);
    const QDateTime modified = QFileInfo(source).lastModified();
    rig.config.JobType = DownloadOnly;
    rig.config.DownloadList[0] = {"SOURCE.BIN", source};
    rig.config.deriveCounts();
    rig.portable.source = pattern(3000);
    rig.portable.rules = {{'Y', 2, 1 << 30, {}}}; // the third block goes unanswered

    rig.receive("\r\nCONNECT 9600\r\nPortable ready\r\n");

    QCOMPARE(digest(source), before);
    QCOMPARE(QFileInfo(source).lastModified(), modified);
    QVERIFY(rig.reporter.redText().contains("Download failed"));
    QCOMPARE(rig.line.mode(), SerialLine::Mode::Idle);
}

void FaultTest::nakAndCorruptionOverThePseudoTerminal_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("mustComplete");

    // With 10 % random NAKs a third NAK in one exchange can legitimately
    // fail a file; the invariants hold either way.
    QTest::newRow("random NAKs") << QStringList{"--nak-random", "10", "--seed", "7"} << false;
    // Corrupted frames are answered by NAK and asked for again: they alone
    // never end an upload.
    QTest::newRow("corrupted frames") << QStringList{"--corrupt-every", "3"} << true;
}

void FaultTest::nakAndCorruptionOverThePseudoTerminal()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, mustComplete);

    PortableRig rig;
    const QByteArray outgoing = pattern(6000);
    const QByteArray incoming = pattern(7000).toBase64().left(7000);
    PortableRig::writeFile(rig.hostPath("out.bin"), outgoing);
    PortableRig::writeFile(rig.portableFile("IN.TXT"), incoming);
    PortableRig::writeFile(rig.hostPath("in.txt"), "old copy");
    rig.config.JobType = DownloadAndUpload;
    rig.config.DownloadList[0] = {"OUT.BIN", rig.hostPath("out.bin")};
    rig.config.UploadList[0] = {"IN.TXT", rig.hostPath("in.txt")};
    rig.config.deriveCounts();

    QVERIFY(rig.startPortable({.extra = faults}));
    QVERIFY(rig.startHost());
    QVERIFY(rig.waitForCalls(1, 120000));

    QCOMPARE(PortableRig::readFile(rig.hostPath("out.bin")), outgoing);
    const QByteArray uploaded = PortableRig::readFile(rig.hostPath("in.txt"));
    QVERIFY(uploaded == incoming || uploaded == "old copy");
    QVERIFY(!QFile::exists(rig.hostPath("in.BAK")));
    if (mustComplete) {
        QCOMPARE(uploaded, incoming);
        QCOMPARE(PortableRig::readFile(rig.receivedFile("OUT.BIN")), outgoing);
    }
    const bool failed = rig.log.contains("failed");
    QVERIFY(failed || rig.log.contains("Done"));
    QCOMPARE(rig.reporter.tip(), QString("Waiting call ..."));
}

QTEST_GUILESS_MAIN(FaultTest)
#include "test_faults.moc"
