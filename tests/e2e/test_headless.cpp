// The headless server as a control client drives it (ControlTarget), in this process, on the
// simulator's pseudo-terminal: settings that cannot be served and the ones that can, saved
// settings refused, Stop, Start and Recheck when idle, and the ends asked for in the middle of a
// call. Its reporter hands every text to the log and to added reporters in order.
#include "Columns.h"
#include "HeadlessServer.h"
#include "LogFile.h"
#include "Portable.h"
#include "PortableRig.h"

#include <QtTest>

using namespace Tarvo;
using namespace Tarvo::Bench;
using namespace Tarvo::Testing;

namespace {

// What an added reporter (the control channel's feed, say) gets.
struct Recorder final : Reporter
{
    void AppendStatus(const QString &text, std::uint32_t colour) override
    {
        texts += text;
        if (colour == ColourRed)
            red += text;
    }
    void clearStatus() override {}
    void WriteLog(const QString &text) override { texts += text; }
    void SetTrayTip(const QString &state) override { tip = state; }

    QString texts, red, tip;
};

// A server on the rig's line with its settings, journal and log in the rig's folder.
struct Server
{
    explicit Server(PortableRig &rig, const QByteArray &settings)
        : folder(rig.hostPath("server")), log(folder + "/log", {}, QString()), reporter(log),
          journal(folder + "/state")
    {
        QDir().mkpath(folder);
        if (!settings.isNull())
            PortableRig::writeFile(settingsPath(),
                                   settings + "\n[Ports]\nCOM1=" + rig.ptyPath().toUtf8() + "\n");
        reporter.addReporter(&recorder);
        QString error;
        journal.acquire(error);
        server = std::make_unique<HeadlessServer>(reporter, journal, settingsPath());
    }
    QString settingsPath() const { return folder + "/Tarvo.conf"; }

    QString folder;
    LogFile log;
    HostReporter reporter;
    Recorder recorder;
    UploadJournal journal;
    std::unique_ptr<HeadlessServer> server;
};

QByteArray uploadSettings(const QString &target)
{
    return "[Settings]\nModem%20Port=1\nJob=1\n[File1]\nName=IN.TXT\nSave%20As=" + target.toUtf8() +
           "\n";
}

} // namespace

class HeadlessTest : public QObject
{
    Q_OBJECT

private slots:
    void settingsThatCannotBeServed_data()
    {
        const auto row = columns<QByteArray, QString>("settings", "problem");
        row("no file", QByteArray(), "There is no settings file");
        row("port out of range", "[Settings]\nModem%20Port=9\n",
            "The modem port must be COM1 to COM4.");
        row("job out of range", "[Settings]\nJob=7\n", "The job must be 0 (download)");
    }

    void settingsThatCannotBeServed()
    {
        // Said in red, also to the status; the server keeps running without a port, and serves
        // as soon as a client saves settings that can be served.
        auto [settings, problem] = fetch<QByteArray, QString>("settings", "problem");
        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600, .calls = 0}));
        Server s(rig, settings);
        s.server->serve();
        QVERIFY2(s.recorder.red.contains(problem), qPrintable(s.recorder.red));
        QVERIFY(!s.server->status().settingsValid);
        QVERIFY(s.server->status().settingsProblem.contains(problem));
        QVERIFY(!s.server->status().portOpen);
        const ControlResult started = s.server->start();
        QVERIFY(!started.ok);
        QVERIFY2(started.message.contains(problem), qPrintable(started.message));

        const ControlResult saved =
            s.server->saveSettings({{"Settings/Modem Port", "1"}, {"Settings/Job", "0"}});
        QVERIFY2(saved.ok || settings.isNull(), qPrintable(saved.message));
        QVERIFY(s.server->status().settingsValid);
        if (!settings.isNull()) { // the file names the simulator's line
            QVERIFY(s.server->status().armed);
            QCOMPARE(s.server->status().state, QString("Waiting call ..."));
        }
        QCOMPARE(s.server->settings().value("Settings/Job"), QString("0"));
    }

    void namesTheCallWouldRefuse()
    {
        // Said in red as the settings are read; the other entries are served.
        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600, .calls = 0}));
        const QString source = rig.hostPath("prices.txt");
        PortableRig::writeFile(source, "ITEM;PRICE\r\n");
        Server s(rig, "[Settings]\nModem%20Port=1\nJob=0\n[Dnld1]\nName=ORDERS[12]\nOpen%20From=" +
                          source.toUtf8() + "\n");
        s.server->serve();
        QVERIFY2(s.recorder.red.contains("ORDERS[12]"), qPrintable(s.recorder.texts));
        QVERIFY(s.server->status().armed);
    }

    void savedSettingsRefused_data()
    {
        const auto row = columns<QString, QString, QString>("key", "value", "reason");
        row("unknown name", "Settings/Colour", "red", "There is no setting Settings/Colour.");
        row("a device", "Ports/COM1", "/dev/ttyS3", "Ports/COM1 is changed in the settings file");
        row("retry", "Recovery/Retry", "0", "Recovery/Retry is changed in the settings file");
        row("port out of range", "Settings/Modem Port", "5",
            "The modem port must be COM1 to COM4.");
        row("job not a number", "Settings/Job", "both", "The job must be");
    }

    void savedSettingsRefused()
    {
        auto [key, value, reason] = fetch<QString, QString, QString>("key", "value", "reason");
        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600, .calls = 0}));
        Server s(rig, uploadSettings(rig.hostPath("in.txt")));
        const QByteArray before = PortableRig::readFile(s.settingsPath());
        const ControlResult result =
            s.server->saveSettings({{"File1/Name", "OTHER.TXT"}, {key, value}});
        QVERIFY(!result.ok);
        QVERIFY2(result.message.contains(reason), qPrintable(result.message));
        QCOMPARE(PortableRig::readFile(s.settingsPath()), before);
    }

    void stopStartRecheckWhenIdle()
    {
        PortableRig rig;
        QVERIFY(rig.startPortable({.firstCallDelay = 3600, .calls = 0}));
        Server s(rig, uploadSettings(rig.hostPath("in.txt")));
        // What reaches the modem, and the feed against the log, are tarvoctl's end-to-end test's.
        s.server->serve();
        QVERIFY(s.server->status().started);

        QVERIFY(s.server->stop(ControlTarget::CallOnStop::EndCall).ok);
        QVERIFY(!s.server->status().portOpen);
        QVERIFY(!s.server->status().started);
        QVERIFY(s.recorder.texts.endsWith("Stop auto answer ... OK\r\nNot connected\r\n"));
        QCOMPARE(s.server->status().tip, QString("Tarvo - Not connected"));

        QVERIFY(s.server->start().ok);
        QCOMPARE(s.server->status().state, QString("Waiting call ..."));
        QVERIFY(s.server->recheck().ok);
        QVERIFY2(s.recorder.texts.contains("Restarting modem, try 1"),
                 qPrintable(s.recorder.texts));
    }

    void endsDuringCall_data()
    {
        const auto row = columns<QString, bool>("end", "fileWhole");
        row("close when idle: the job reaches ALL DONE first", "closeWhenIdle", true);
        row("stop keeping the call: the job finishes first", "stopKeep", true);
        row("stop ending the call: the old copy back", "stopEnd", false);
    }

    void endsDuringCall()
    {
        auto [end, fileWhole] = fetch<QString, bool>("end", "fileWhole");
        PortableRig rig;
        const QByteArray incoming = pattern(20000);
        PortableRig::writeFile(rig.hostPath("in.txt"), "old copy");
        PortableRig::writeFile(rig.portableFile("IN.TXT"), incoming);
        QVERIFY(rig.startPortable({.bitsPerSecond = 38400, .calls = 1}));
        Server s(rig, uploadSettings(rig.hostPath("in.txt")));
        bool unloaded = false;
        QObject::connect(s.server.get(), &HeadlessServer::unloaded,
                         [&unloaded] { unloaded = true; });
        ControlResult asked{false, "not asked"};
        // Asked from a timer inside the job's waits, as a client's request arrives.
        QTimer client;
        QObject::connect(&client, &QTimer::timeout, [&, &end = end] {
            if (!s.recorder.texts.contains("Upload IN.TXT ...") ||
                QFileInfo(rig.hostPath("in.txt")).size() < 2000)
                return;
            client.stop();
            QVERIFY(s.server->status().operationRunning);
            if (end == "closeWhenIdle")
                asked = s.server->closeWhenIdle();
            else
                asked = s.server->stop(end == "stopKeep" ? ControlTarget::CallOnStop::KeepCall
                                                         : ControlTarget::CallOnStop::EndCall);
        });
        client.start(20);
        s.server->serve();

        QTRY_VERIFY_WITH_TIMEOUT(!s.server->status().portOpen, 30000);
        QVERIFY2(asked.ok, qPrintable(asked.message));
        QCOMPARE(unloaded, end == "closeWhenIdle");
        const QString texts = s.recorder.texts;
        QCOMPARE(PortableRig::readFile(rig.hostPath("in.txt")),
                 fileWhole ? incoming : QByteArray("old copy"));
        QVERIFY(!QFile::exists(rig.hostPath("in.BAK")));
        if (fileWhole) { // the portable heard "ALL DONE" before the modem was hung up
            QTRY_COMPARE_WITH_TIMEOUT(rig.summaries.size(), 1, 5000);
            QVERIFY2(rig.summaries.first().contains("outcome=all-done"),
                     qPrintable(rig.summaries.first()));
            QVERIFY2(texts.indexOf("NO CARRIER") < texts.lastIndexOf("Not connected"),
                     qPrintable(texts));
        } else
            QVERIFY2(texts.contains("Upload failed"), qPrintable(texts));
        QVERIFY(!s.server->status().started || end == "closeWhenIdle");
    }
};

QTEST_GUILESS_MAIN(HeadlessTest)
#include "test_headless.moc"
