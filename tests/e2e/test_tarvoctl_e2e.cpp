// tarvoctl driving a real tarvod (started as the service manager starts it) on the simulated
// modem: what each command does to the modem and says, the end once idle, the feed against the
// log file with a resumption across a reconnect, and the access rule met with real credentials (as
// root: another user, and a member of the group "tarvo").
#include "Portable.h"
#include "PortableRig.h"
#include "TarvodProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Tarvo;
using namespace Tarvo::Bench;
using Tarvo::Testing::pattern;

namespace {

struct Ctl
{
    int status = -1;
    QString out, err;
};

// tarvoctl --control PATH arguments..., run through prefix (e.g. setpriv ...) when given.
Ctl tarvoctl(const QString &control, const QStringList &arguments, const QStringList &prefix = {})
{
    QProcess process;
    const QStringList command =
        prefix + QStringList{TARVOCTL_PATH, "--control", control} + arguments;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(60000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// The log file's lines without their timestamps (tarvod runs in the C locale).
QStringList logLines(const QString &log)
{
    static const QRegularExpression stamp(R"(^\d{1,2} \w{3} \d{4} \d{2}:\d{2}:\d{2} )");
    QStringList lines = log.split("\r\n");
    lines.removeLast(); // after the last line end
    for (QString &line : lines)
        line.remove(stamp);
    return lines;
}

// What watch --json printed: the entries in order, and the texts folded into lines as the log
// file folds them (a line ends with a text that ends with CR LF; CR LF pairs become blanks).
struct Watched
{
    QList<qint64> seqs;
    QMap<qint64, QString> texts;
    QStringList lines;
};

Watched watched(const QByteArray &output, Watched so = {})
{
    QString line;
    for (const QByteArray &json : output.split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(json).object();
        if (entry.isEmpty())
            continue;
        const qint64 seq = entry["seq"].toInteger();
        so.seqs += seq;
        const QString kind = entry["kind"].toString(), text = entry["text"].toString();
        so.texts[seq] = kind + ' ' + text;
        if (kind != "pane" && kind != "log")
            continue;
        line += text;
        if (text.endsWith("\r\n")) {
            so.lines += line.replace("\r\n", " ");
            line.clear();
        }
    }
    return so;
}

void configure(TarvodProcess &daemon, const Configuration &config, const QString &device)
{
    QString error;
    QVERIFY2(daemon.writeSettings(config, device, error), qPrintable(error));
}

} // namespace

class TarvoctlEndToEndTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void drivesTheModem()
    {
        // No call rings: each command's effect on the modem is seen alone.
        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600, .calls = 1, .keepEvents = true}));
        TarvodProcess daemon(m_dir.filePath("driven"));
        configure(daemon, {}, rig.ptyPath());
        QVERIFY(daemon.start());
        QTRY_VERIFY2_WITH_TIMEOUT(daemon.log().contains("Waiting call ..."),
                                  qPrintable(daemon.log()), 5000);

        struct Step
        {
            QStringList arguments;
            QString says;     // in its standard output
            QString modemGot; // one more of these reaches the modem, or none at all
        };
        const Step steps[] = {
            {{"status"}, "armed: yes\nconnected: no\n", {}},
            {{"status", "--json"}, "\"armed\":true", {}},
            {{"stop"}, {}, "command ATS0=0: OK"},
            {{"status"}, "armed: no\n", {}},
            {{"stop"}, {}, {}}, // stopped already: nothing more reaches the modem
            {{"start"}, {}, "command ATS0=1: OK"},
            {{"status", "--json"}, "\"armed\":true", {}},
            {{"recheck"}, {}, "command ATS0=1: OK"},
            {{"status"}, "armed: yes\n", {}},
            {{"version"}, "server: tarvod 2.", {}},
        };
        for (const Step &step : steps) {
            const QString events = rig.events;
            const Ctl ran = tarvoctl(daemon.controlPath(), step.arguments);
            const QByteArray what = step.arguments.join(' ').toUtf8() + ": " + ran.err.toUtf8();
            QVERIFY2(ran.status == 0, what);
            QVERIFY2(ran.out.contains(step.says), qPrintable(ran.out));
            if (!step.modemGot.isEmpty())
                QTRY_VERIFY2_WITH_TIMEOUT(rig.events.count(step.modemGot) ==
                                              events.count(step.modemGot) + 1,
                                          what + rig.events.toUtf8(), 5000);
            else
                QVERIFY2(!rig.events.mid(events.size()).contains("command "),
                         what + rig.events.mid(events.size()).toUtf8());
        }
        // A start that cannot open the port is no success, whatever was armed before.
        QCOMPARE(tarvoctl(daemon.controlPath(), {"stop"}).status, 0);
        rig.killPortable(); // the device goes away
        const Ctl start = tarvoctl(daemon.controlPath(), {"start"});
        QVERIFY2(start.status == 1 && start.err.startsWith("tarvoctl: ") &&
                     start.err.count('\n') == 1,
                 qPrintable(start.err));
        QVERIFY2(tarvoctl(daemon.controlPath(), {"status"}).out.contains("armed: no\n"),
                 qPrintable(daemon.log()));
        QCOMPARE(daemon.process().state(), QProcess::Running);
        // Idle: the server ends at once (waiting for a call first is the headless test's).
        QCOMPARE(tarvoctl(daemon.controlPath(), {"close-when-idle", "--wait", "10"}).status, 0);
        QVERIFY(daemon.process().waitForFinished(5000));
        QCOMPARE(daemon.process().exitCode(), 0);
    }

    void watchEqualsLogAndResumes()
    {
        // One watch for the whole run, and one that is cut during the call and resumes
        // with --since: both give the log file's texts, in order, once each.
        PortableRig rig;
        QVERIFY(rig.startPortable({.bitsPerSecond = 38400}));
        PortableRig::writeFile(rig.hostPath("out.bin"), pattern(12000));
        Configuration config; // a download, the call up for a while at 38400 bit/s
        config.JobType = DownloadOnly;
        config.DownloadList[0] = {"OUT.BIN", rig.hostPath("out.bin")};
        TarvodProcess daemon(m_dir.filePath("watched"));
        configure(daemon, config, rig.ptyPath());
        QVERIFY(daemon.start());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(daemon.controlPath()), 5000);

        QProcess whole, cut;
        whole.start(TARVOCTL_PATH, {"--control", daemon.controlPath(), "watch", "--json"});
        cut.start(TARVOCTL_PATH, {"--control", daemon.controlPath(), "watch", "--json"});
        QTRY_VERIFY2_WITH_TIMEOUT(daemon.log().contains("Portable ready"), qPrintable(daemon.log()),
                                  10000);
        cut.kill(); // the reconnect comes during the call
        QVERIFY(cut.waitForFinished());
        QByteArray first = cut.readAllStandardOutput();
        first.truncate(first.lastIndexOf('\n') + 1); // a line cut short does not count
        const Watched before = watched(first);
        QVERIFY(!before.seqs.isEmpty());
        QProcess resumed;
        resumed.start(TARVOCTL_PATH, {"--control", daemon.controlPath(), "watch", "--json",
                                      "--since", QString::number(before.seqs.last())});

        QTRY_VERIFY2_WITH_TIMEOUT(rig.summaries.size() == 1, qPrintable(daemon.log()), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(daemon.log().count("Waiting call ..."), 2, 10000);
        const QStringList lines = logLines(daemon.log());
        QVERIFY(daemon.terminate() >= 0);
        for (QProcess *watch : {&whole, &resumed}) { // the server's end ends them
            QVERIFY(watch->waitForFinished(5000));
            QCOMPARE(watch->exitCode(), 1);
        }

        const Watched all = watched(whole.readAllStandardOutput());
        QVERIFY(all.lines.size() > lines.size());
        QCOMPARE(all.lines.mid(0, lines.size()), lines); // the end's lines came after
        const Watched joined = watched(resumed.readAllStandardOutput(), before);
        for (const Watched *watch : {&all, &joined}) {
            for (qsizetype i = 0; i < watch->seqs.size(); ++i)
                QCOMPARE(watch->seqs[i], i + 1);
        }
        QCOMPARE(joined.texts, all.texts);
        QVERIFY(joined.seqs.size() > before.seqs.size() + 5);
    }

    void accessByCredentials_data()
    {
        QTest::addColumn<bool>("member");
        QTest::addColumn<QString>("says");
        QTest::newRow("another user, socket opened up") << false << "not in the group \"tarvo\"";
        QTest::newRow("a member of the group tarvo") << true << "";
    }

    void accessByCredentials()
    {
        QFETCH(bool, member);
        QFETCH(QString, says);
        if (::geteuid() != 0)
            QSKIP("needs root, to run tarvoctl as another user");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("needs setpriv (util-linux)");
        // The group "tarvo" is made for the test when the system has none, and removed again.
        const bool made = !::getgrnam("tarvo");
        if (made && QProcess::execute("groupadd", {"--system", "tarvo"}) != 0)
            QSKIP("cannot create the group tarvo");
        const auto removeGroup = qScopeGuard([made] {
            if (made)
                QProcess::execute("groupdel", {"tarvo"});
        });
        const unsigned group = unsigned(::getgrnam("tarvo")->gr_gid);

        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600}));
        QTemporaryDir open("/tmp/tarvo-access-XXXXXX"); // reachable by the other user
        QVERIFY(QFile::setPermissions(open.path(), QFile::Permissions(0x7755)));
        TarvodProcess daemon(open.filePath("server"));
        QVERIFY(QFile::setPermissions(open.filePath("server"), QFile::Permissions(0x7755)));
        configure(daemon, {}, rig.ptyPath());
        QVERIFY(daemon.start());
        QTRY_VERIFY2_WITH_TIMEOUT(daemon.log().contains("Waiting call ..."),
                                  qPrintable(daemon.log()), 5000);
        QCOMPARE(QFileInfo(daemon.controlPath()).groupId(), group);
        QCOMPARE(int(QFileInfo(daemon.controlPath()).permissions() & 0x0007), 0); // no others
        ::chmod(QFile::encodeName(daemon.controlPath()).constData(), 0666);       // by mistake

        const QStringList nobody{"setpriv", "--reuid=65534", "--regid=65534",
                                 member ? "--groups=" + QString::number(group) : "--clear-groups"};
        const Ctl ran = tarvoctl(daemon.controlPath(), {"status"}, nobody);
        if (member) {
            QVERIFY2(ran.status == 0, qPrintable(ran.err));
            QVERIFY2(ran.out.contains("armed: yes"), qPrintable(ran.out));
        } else {
            QCOMPARE(ran.status, 1);
            QVERIFY2(ran.err.startsWith("tarvoctl: ") && ran.err.contains(says) &&
                         ran.err.count('\n') == 1,
                     qPrintable(ran.err));
            QVERIFY(ran.out.isEmpty());
        }
        QVERIFY(daemon.terminate() >= 0);
    }
};

QTEST_GUILESS_MAIN(TarvoctlEndToEndTest)
#include "test_tarvoctl_e2e.moc"
