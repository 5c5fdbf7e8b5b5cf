// tarvo-slowbench: how long the portable hears nothing after the last block
// when the host's folder reads slowly, as a network share may (4 KB/s by
// default), for a download from it and an upload to it.
//
// The host is the real one (PortableRig: the line on a pseudo-terminal,
// modem control, call handling, the transfers) against tarvo-portable. Every
// read of a host file in the rig's folder is slowed to the given rate through
// the host-file code's pace hook; the portable's own files are not. Each
// write of the host to the line is stamped, and the row gives the silence
// before the file's last word: the end packet of a download, the "SUCCESS"
// message of an upload, measured from the host's write just before it. The
// longest silence of the whole job is given beside it.
#include "PortableRig.h"

#include "FileAccess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QList>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace Tarvo;
using namespace Tarvo::Bench;

namespace {

struct Stamp
{
    qint64 ns;
    QByteArray bytes;
};

struct Row
{
    bool ok = false;
    QString why;
    double lastSilenceMs = 0;
    double longestSilenceMs = 0;
    double wallSeconds = 0;
    int calls = 0;
};

QByteArray payload(qint64 size)
{
    QByteArray data;
    for (qint64 i = 0; data.size() < size; ++i)
        data += QByteArray::number(i * 7919 % 100000).rightJustified(8, '0') + "\r\n";
    data.truncate(size);
    return data;
}

Row run(bool download, qint64 size, int bps, int bytesPerSecond)
{
    // Before the rig, which still writes to the line as it goes.
    QElapsedTimer clock;
    QList<Stamp> stamps;
    PortableRig rig;
    const QString name = QStringLiteral("SLOW.DAT");
    const QString hostFile = rig.hostPath(QStringLiteral("slow.dat"));
    const QByteArray content = payload(size);
    if (download) {
        PortableRig::writeFile(hostFile, content);
        rig.config.JobType = DownloadOnly;
        rig.config.DownloadList[0] = {name, hostFile};
    } else {
        PortableRig::writeFile(rig.portableFile(name), content);
        rig.config.JobType = UploadOnly;
        rig.config.UploadList[0] = {name, hostFile};
    }
    rig.config.deriveCounts();

    const QString slowFolder = QDir::cleanPath(rig.hostPath({}));
    setPaceHook([slowFolder, bytesPerSecond](const QString &path, qint64 bytes) {
        if (QDir::cleanPath(path).startsWith(slowFolder))
            std::this_thread::sleep_for(
                std::chrono::microseconds(bytes * 1000000 / bytesPerSecond));
    });

    Row row;
    if (!rig.startPortable({.bitsPerSecond = bps, .firstCallDelay = 0.3, .interval = 1})) {
        row.why = QStringLiteral("simulator did not start");
        return row;
    }
    if (!rig.startHost()) {
        row.why = QStringLiteral("modem did not start: ") + rig.reporter.failures();
        return row;
    }
    clock.start();
    rig.line().onWrite = [&](const QByteArray &bytes) {
        stamps.append({clock.nsecsElapsed(), bytes});
    };
    const int timeoutMs = int(size * 3 * 10 * 1000 / qMax(bps, 2400)) + 120000;
    if (!rig.waitForCalls(1, timeoutMs)) {
        row.why = QStringLiteral("call did not finish");
        return row;
    }
    setPaceHook({});

    const QByteArray endFrame =
        download ? QByteArray("\x02\x1B\x5A\x43\x48\xC1", 6) : QByteArray("SUCCESS");
    // The job runs from the file's first message to its last word.
    bool inJob = false;
    for (qsizetype i = 1; i < stamps.size() && row.lastSilenceMs == 0; ++i) {
        inJob = inJob || stamps[i - 1].bytes.contains(download ? "RECEIVING" : "SENDING");
        if (!inJob)
            continue;
        const double gap = double(stamps[i].ns - stamps[i - 1].ns) / 1e6;
        row.longestSilenceMs = qMax(row.longestSilenceMs, gap);
        if (stamps[i].bytes.contains(endFrame))
            row.lastSilenceMs = gap;
    }
    const QByteArray arrived = PortableRig::readFile(download ? rig.receivedFile(name) : hostFile);
    row.wallSeconds = double(rig.lastJob().wallMs) / 1000.0;
    row.calls = int(rig.summaries.size());
    row.ok = arrived == content && rig.log.contains(QStringLiteral("Done"));
    if (!row.ok)
        row.why = QStringLiteral("no success: ") + rig.reporter.failures();
    if (row.lastSilenceMs == 0)
        row.why += QStringLiteral(" (the last word was never sent)");
    return row;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures the silence after the last block when the host's folder reads slowly.");
    parser.addHelpOption();
    parser.addOption({"size", "File size in bytes.", "bytes", QString::number(48 * 1024)});
    parser.addOption({"bps", "Line speed (0 = unpaced).", "bps", "9600"});
    parser.addOption(
        {"rate", "How fast the host's folder reads, bytes per second.", "bytes", "4096"});
    parser.addOption({"only", "Run only download or upload.", "direction"});
    parser.process(app);

    const qint64 size = parser.value("size").toLongLong();
    const int bps = parser.value("bps").toInt();
    const int rate = qMax(1, parser.value("rate").toInt());
    std::printf("%-9s %8s %6s %7s %9s %12s %14s %s\n", "case", "bytes", "bps", "read/s", "wall s",
                "last gap ms", "longest gap ms", "result");
    bool allOk = true;
    for (const bool download : {true, false}) {
        const QString which = download ? QStringLiteral("download") : QStringLiteral("upload");
        if (parser.isSet("only") && parser.value("only") != which)
            continue;
        const Row row = run(download, size, bps, rate);
        allOk = allOk && row.ok;
        std::printf("%-9s %8lld %6d %7d %9.2f %12.0f %14.0f %s\n", qPrintable(which), size, bps,
                    rate, row.wallSeconds, row.lastSilenceMs, row.longestSilenceMs,
                    row.ok ? "SUCCESS" : qPrintable(QStringLiteral("FAILED ") + row.why));
        std::fflush(stdout);
    }
    return allOk ? 0 : 1;
}
