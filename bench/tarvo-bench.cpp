// tarvo-bench: how close a transfer comes to the line's limit, what an idle
// server costs, whether memory follows the file size, and whether a night of
// calls leaves memory or descriptors behind.
//
// Without arguments it runs every case, each in a fresh child process (so
// peak RSS belongs to that case alone), prints one row per case and writes
// the rows as JSON. With --case it runs one case and prints its row as one
// JSON object; that is what the parent calls.
//
// The host side is the real thing: QSerialPort on a pseudo-terminal, the real
// clock, modem control, call handling and the transfers. The other side is
// tarvo-portable, pacing its bytes and the host's to the line speed.
//
// With --device a transfer case faces a tarvo-portable started elsewhere
// (its download and upload folder given by --portable-dir), which is how the
// Windows build is measured under Wine: bench/compare-windows.sh runs it
// and the Linux build in turn against the same simulator. Each transfer row
// also says where the time per block went.
#include "PortableRig.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <QDir>

#include <cstdio>

#ifdef Q_OS_WIN
#include <qt_windows.h>
// after windows.h, which it needs
#include <psapi.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace Tarvo;
using namespace Tarvo::Bench;

namespace {

// Typical portable data: text lines ending in CR LF (a CR LF travels escaped).
QByteArray payload(qint64 size)
{
    QByteArray data;
    data.reserve(size);
    quint32 seed = 12345;
    while (data.size() < size) {
        seed = seed * 1103515245u + 12345u;
        const int length = 20 + int((seed >> 16) % 40);
        for (int i = 0; i < length && data.size() < size; ++i) {
            seed = seed * 1103515245u + 12345u;
            data += char('0' + (seed >> 16) % 43);
        }
        data += "\r\n";
    }
    data.truncate(size);
    return data;
}

long peakRssKiB()
{
#ifdef Q_OS_WIN
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return long(counters.PeakWorkingSetSize / 1024);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

QJsonObject failure(const QString &why)
{
    return QJsonObject{{"error", why}};
}

// Where a block's time went: polls, their sleeps and event passes, the
// line's reads and writes, and the rest (the protocol's work, host files).
void addBreakdown(QJsonObject &row, const PortableRig::JobFigures &job, qint64 size)
{
    const double blocks = double((size + 119) / 120), polls = double(qMax<qint64>(job.sleeps, 1));
    const double other = double(job.wallMs) - job.sleepMs - job.eventsMs - job.readMs - job.writeMs;
    row["blocks"] = blocks;
    row["ms_per_block"] = double(job.wallMs) / blocks;
    row["polls_per_block"] = double(job.sleeps) / blocks;
    row["sleep_ms_per_poll"] = job.sleepMs / polls;
    row["events_ms_per_poll"] = job.eventsMs / polls;
    row["read_ms_per_poll"] = job.readMs / polls;
    row["write_ms_per_block"] = job.writeMs / blocks;
    row["other_ms_per_block"] = other / blocks;
}

// device and portableDir: a portable started elsewhere, serving and storing
// its files in portableDir.
QJsonObject runTransfer(const QString &direction, qint64 size, int bps, const QString &device,
                        const QString &portableDir)
{
    PortableRig rig;
    const QByteArray content = payload(size);
    const QString name = QStringLiteral("BENCH.DAT");
    const QString portableFile =
        device.isEmpty() ? rig.portableFile(name) : QDir(portableDir).filePath(name);
    const QString receivedFile =
        device.isEmpty() ? rig.receivedFile(name) : QDir(portableDir).filePath(name);
    if (direction == QLatin1String("download")) {
        PortableRig::writeFile(rig.hostPath("bench.dat"), content);
        QFile::remove(receivedFile);
        rig.config.JobType = DownloadOnly;
        rig.config.DownloadList[0] = {name, rig.hostPath("bench.dat")};
    } else {
        PortableRig::writeFile(portableFile, content);
        rig.config.JobType = UploadOnly;
        rig.config.UploadList[0] = {name, rig.hostPath("bench.dat")};
    }
    rig.config.deriveCounts();

    if (device.isEmpty() &&
        !rig.startPortable({.bitsPerSecond = bps, .firstCallDelay = 0.3, .interval = 1}))
        return failure("simulator did not start");
    if (!rig.startHost(device))
        return failure("modem did not start: " + rig.reporter.failures());
    const int timeoutMs = bps > 0 ? int(size * 3 * 10 * 1000 / bps) + 60000 : 120000;
    if (!(device.isEmpty() ? rig.waitForCalls(1, timeoutMs) : rig.waitForHostCall(timeoutMs)))
        return failure("call did not finish");

    const QByteArray arrived = direction == QLatin1String("download")
                                   ? PortableRig::readFile(receivedFile)
                                   : PortableRig::readFile(rig.hostPath("bench.dat"));
    if (arrived != content)
        return failure("file arrived damaged: " + rig.reporter.failures());

    const auto job = rig.lastJob();
    const double wall = double(job.wallMs) / 1000.0;
    QJsonObject row{{"case", direction},
                    {"bytes", size},
                    {"bps", bps},
                    {"wall_seconds", wall},
                    {"payload_bytes_per_second", wall > 0 ? double(size) / wall : 0.0},
                    {"wire_bytes", job.wireBytes},
                    {"cpu_seconds", job.cpuSeconds},
                    {"peak_rss_kib", double(peakRssKiB())}};
    if (bps > 0) {
        const double ideal = double(job.wireBytes) / (bps / 10.0);
        row["ideal_seconds"] = ideal;
        row["efficiency"] = ideal / wall;
    }
    addBreakdown(row, job, size);
    return row;
}

QJsonObject runIdle(int seconds)
{
    PortableRig rig;
    rig.config.JobType = DownloadOnly;
    if (!rig.startPortable({.bitsPerSecond = 9600, .firstCallDelay = 1e6}))
        return failure("simulator did not start");
    if (!rig.startHost())
        return failure("modem did not start");
    const double cpuBefore = processCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = processCpuSeconds() - cpuBefore;
    return QJsonObject{{"case", "idle"},
                       {"wall_seconds", seconds},
                       {"cpu_seconds", cpu},
                       {"cpu_percent", 100.0 * cpu / seconds},
                       {"peak_rss_kib", double(peakRssKiB())}};
}

#ifdef Q_OS_UNIX
long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm")); // sizes in pages: total, resident, ...
    statm.open(QIODevice::ReadOnly);
    return statm.readAll().split(' ').value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2; // . and ..
}

// Unpaced calls, each a 900-byte download and a 700-byte upload: what is held
// after call 20 (everything warmed up) and after the last.
QJsonObject runCalls(int calls)
{
    PortableRig rig;
    PortableRig::writeFile(rig.hostPath("d.txt"), QByteArray(900, 'd'));
    PortableRig::writeFile(rig.portableFile("U.TXT"), QByteArray(700, 'u'));
    rig.config.JobType = DownloadAndUpload;
    rig.config.DownloadList[0] = {QStringLiteral("D.TXT"), rig.hostPath("d.txt")};
    rig.config.UploadList[0] = {QStringLiteral("U.TXT"), rig.hostPath("u.txt")};
    rig.config.deriveCounts();
    if (!rig.startPortable({.interval = 0.05, .calls = calls}) || !rig.startHost())
        return failure("simulator or modem did not start");
    const int warm = qMin(20, calls);
    if (!rig.waitForCalls(warm, 120000))
        return failure("call " + QString::number(warm) + " did not finish");
    const long rssWarm = residentKiB();
    const int fdsWarm = openDescriptors();
    const double cpuWarm = processCpuSeconds();
    if (!rig.waitForCalls(calls, calls * 5000))
        return failure("call " + QString::number(calls) + " did not finish");
    if (rig.log.count(QStringLiteral("Waiting call ...")) != calls + 1 ||
        !rig.reporter.failures().isEmpty())
        return failure("a call failed or was not re-armed: " + rig.reporter.failures().left(300));
    return QJsonObject{{"case", "calls"},
                       {"calls", calls},
                       {"cpu_seconds_per_call", (processCpuSeconds() - cpuWarm) / (calls - warm)},
                       {"rss_kib_after_warm_up", double(rssWarm)},
                       {"rss_kib_after_last", double(residentKiB())},
                       {"descriptors_after_warm_up", fdsWarm},
                       {"descriptors_after_last", openDescriptors()}};
}
#else
QJsonObject runCalls(int)
{
    return failure("the calls case needs the simulator, which this build lacks");
}
#endif

QJsonObject runChild(const QString &self, const QStringList &args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, args);
    child.waitForFinished(-1);
    const QJsonDocument doc = QJsonDocument::fromJson(child.readAllStandardOutput().trimmed());
    return doc.isObject() ? doc.object() : failure("no result from " + args.join(' '));
}

void printRow(const QJsonObject &row)
{
    if (row.contains("error")) {
        std::printf("%-9s %8s  ERROR: %s\n", qPrintable(row["case"].toString("?")), "",
                    qPrintable(row["error"].toString()));
    } else if (row["case"].toString() == QLatin1String("calls")) {
        std::printf("calls     %d calls, %.3f cpu s each; after call 20 and after the last: "
                    "RSS %.0f and %.0f KiB, %d and %d descriptors\n",
                    row["calls"].toInt(), row["cpu_seconds_per_call"].toDouble(),
                    row["rss_kib_after_warm_up"].toDouble(), row["rss_kib_after_last"].toDouble(),
                    row["descriptors_after_warm_up"].toInt(),
                    row["descriptors_after_last"].toInt());
    } else if (row["case"].toString() == QLatin1String("idle")) {
        std::printf("%-9s %8s %6s %8.1f %9s %9s %8s %6s %8.3f %8.0f   (%.3f %% of a core)\n",
                    "idle", "-", "-", row["wall_seconds"].toDouble(), "-", "-", "-", "-",
                    row["cpu_seconds"].toDouble(), row["peak_rss_kib"].toDouble(),
                    row["cpu_percent"].toDouble());
    } else {
        const bool paced = row.contains("efficiency");
        std::printf(
            "%-9s %8lld %6d %8.2f %9.1f %9lld %8s %6s %8.3f %8.0f\n",
            qPrintable(row["case"].toString()), qint64(row["bytes"].toDouble()), row["bps"].toInt(),
            row["wall_seconds"].toDouble(), row["payload_bytes_per_second"].toDouble(),
            qint64(row["wire_bytes"].toDouble()),
            paced ? qPrintable(QString::number(row["ideal_seconds"].toDouble(), 'f', 2)) : "-",
            paced ? qPrintable(QString::number(row["efficiency"].toDouble(), 'f', 3)) : "-",
            row["cpu_seconds"].toDouble(), row["peak_rss_kib"].toDouble());
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Measures Tarvo's transfers against tarvo-portable over a pseudo-terminal.");
    parser.addHelpOption();
    parser.addOption({"case", "Run one case: download, upload, idle or calls.", "case"});
    parser.addOption({"size", "File size in bytes for one case.", "bytes", "1024"});
    parser.addOption({"bps", "Line speed for one case (0 = unpaced).", "bps", "9600"});
    parser.addOption({"idle-seconds", "Length of the idle case.", "seconds", "60"});
    parser.addOption({"calls", "How many calls the calls case makes.", "calls", "200"});
    parser.addOption({"json", "Where to write all rows as JSON.", "file", "tarvo-bench.json"});
    parser.addOption({"quick", "Only the 1 KiB and 64 KiB cases, no idle or calls case."});
    parser.addOption({"device",
                      "For one transfer case: the modem is on this device (COM1 on Windows), "
                      "with a tarvo-portable already running behind it.",
                      "device"});
    parser.addOption({"portable-dir",
                      "With --device: the folder that portable serves and stores its files in.",
                      "folder"});
    parser.process(app);

    if (parser.isSet("case")) {
        const QString which = parser.value("case");
        const QJsonObject row =
            which == QLatin1String("idle") ? runIdle(parser.value("idle-seconds").toInt())
            : which == QLatin1String("calls")
                ? runCalls(parser.value("calls").toInt())
                : runTransfer(which, parser.value("size").toLongLong(), parser.value("bps").toInt(),
                              parser.value("device"), parser.value("portable-dir"));
        QJsonObject out = row;
        out["case"] = row.value("case").toString(which);
        const QByteArray text = QJsonDocument(out).toJson(QJsonDocument::Compact);
        std::printf("%s\n", text.constData());
        QFile json(parser.value("json"));
        if (parser.isSet("json") && json.open(QIODevice::WriteOnly))
            json.write(text + '\n');
        return row.contains("error") ? 1 : 0;
    }

    QList<qint64> sizes{1024, 64 * 1024, 256 * 1024};
    if (parser.isSet("quick"))
        sizes.removeLast();
    std::printf("%-9s %8s %6s %8s %9s %9s %8s %6s %8s %8s\n", "case", "bytes", "bps", "wall s",
                "payload/s", "wire B", "ideal s", "eff.", "cpu s", "RSS KiB");
    QJsonArray rows;
    const QString self = QCoreApplication::applicationFilePath();
    for (const int bps : {9600, 0})
        for (const char *direction : {"download", "upload"})
            for (const qint64 size : sizes) {
                const QJsonObject row =
                    runChild(self, {"--case", direction, "--size", QString::number(size), "--bps",
                                    QString::number(bps)});
                printRow(row);
                rows.append(row);
            }
    if (!parser.isSet("quick")) {
        for (const QStringList &args :
             {QStringList{"--case", "idle", "--idle-seconds", parser.value("idle-seconds")},
              QStringList{"--case", "calls", "--calls", parser.value("calls")}}) {
            const QJsonObject row = runChild(self, args);
            printRow(row);
            rows.append(row);
        }
    }
    QFile json(parser.value("json"));
    if (json.open(QIODevice::WriteOnly))
        json.write(QJsonDocument(rows).toJson());
    std::printf("rows written to %s\n", qPrintable(json.fileName()));
    return 0;
}
