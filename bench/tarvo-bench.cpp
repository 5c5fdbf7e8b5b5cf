// tarvo-bench: how close a transfer comes to the line's limit, what an idle
// server costs, and whether memory follows the file size.
//
// Without arguments it runs every case, each in a fresh child process (so
// peak RSS belongs to that case alone), prints one row per case and writes
// the rows as JSON. With --case it runs one case and prints its row as one
// JSON object; that is what the parent calls.
//
// The host side is the real thing: QSerialPort on a pseudo-terminal, the real
// clock, modem control, call handling and the transfers. The other side is
// tarvo-portable, pacing its bytes and the host's to the line speed.
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

#include <cstdio>
#include <sys/resource.h>

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
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QJsonObject failure(const QString &why)
{
    return QJsonObject{{"error", why}};
}

QJsonObject runTransfer(const QString &direction, qint64 size, int bps)
{
    PortableRig rig;
    const QByteArray content = payload(size);
    const QString name = QStringLiteral("BENCH.DAT");
    if (direction == QLatin1String("download")) {
        PortableRig::writeFile(rig.hostPath("bench.dat"), content);
        rig.config.JobType = DownloadOnly;
        rig.config.DownloadList[0] = {name, rig.hostPath("bench.dat")};
    } else {
        PortableRig::writeFile(rig.portableFile(name), content);
        rig.config.JobType = UploadOnly;
        rig.config.UploadList[0] = {name, rig.hostPath("bench.dat")};
    }
    rig.config.deriveCounts();

    if (!rig.startPortable({.bitsPerSecond = bps, .firstCallDelay = 0.3, .interval = 1}))
        return failure("simulator did not start");
    if (!rig.startHost())
        return failure("modem did not start: " + rig.reporter.failures());
    const int timeoutMs = bps > 0 ? int(size * 3 * 10 * 1000 / bps) + 60000 : 120000;
    if (!rig.waitForCalls(1, timeoutMs))
        return failure("call did not finish");

    const QByteArray arrived = direction == QLatin1String("download")
                                   ? PortableRig::readFile(rig.receivedFile(name))
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
    parser.addOption({"case", "Run one case: download, upload or idle.", "case"});
    parser.addOption({"size", "File size in bytes for one case.", "bytes", "1024"});
    parser.addOption({"bps", "Line speed for one case (0 = unpaced).", "bps", "9600"});
    parser.addOption({"idle-seconds", "Length of the idle case.", "seconds", "60"});
    parser.addOption({"json", "Where to write all rows as JSON.", "file", "tarvo-bench.json"});
    parser.addOption({"quick", "Only the 1 KiB and 64 KiB cases, no idle case."});
    parser.process(app);

    if (parser.isSet("case")) {
        const QString which = parser.value("case");
        const QJsonObject row = which == QLatin1String("idle")
                                    ? runIdle(parser.value("idle-seconds").toInt())
                                    : runTransfer(which, parser.value("size").toLongLong(),
                                                  parser.value("bps").toInt());
        QJsonObject out = row;
        out["case"] = row.value("case").toString(which);
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
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
        const QJsonObject row =
            runChild(self, {"--case", "idle", "--idle-seconds", parser.value("idle-seconds")});
        printRow(row);
        rows.append(row);
    }
    QFile json(parser.value("json"));
    if (json.open(QIODevice::WriteOnly))
        json.write(QJsonDocument(rows).toJson());
    std::printf("rows written to %s\n", qPrintable(json.fileName()));
    return 0;
}
