// The reading of stored settings under arbitrary text.
//
// The input is read three ways as a stored number (Latin-1, UTF-8 and
// UTF-16 text) and checked against a reference parse written here: optional
// blanks around an optional sign and decimal digits, kept when it fits 16
// bits. Its first bytes also give a number that is written out and must read
// back. It is also written as the INI file of a store: loading it must not
// crash, must take both numbers through that same parse and leave the
// counts alone; saving and reloading the model must give it back unchanged,
// and saving must keep every key the file already had.
#include "Configuration.h"
#include "SettingsStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Tarvo;

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_settings: %s\n", what);
        std::abort();
    }
}

std::int16_t referenceNumber(const QString &text, std::int16_t fallback)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).isSpace())
        ++begin;
    while (end > begin && text.at(end - 1).isSpace())
        --end;
    bool negative = false;
    if (begin < end && (text.at(begin) == u'+' || text.at(begin) == u'-'))
        negative = text.at(begin++) == u'-';
    if (begin == end)
        return fallback;
    long value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return fallback;
        value = std::min(value * 10 + (c - u'0'), 1000000L);
    }
    if (negative)
        value = -value;
    if (value < -32768 || value > 32767)
        return fallback;
    return static_cast<std::int16_t>(value);
}

void checkNumber(const QString &text)
{
    constexpr std::int16_t Fallback = -12345;
    require(SettingsStore::parseStoredNumber(text, Fallback) == referenceNumber(text, Fallback),
            "parseStoredNumber differs from the reference parse");
}

// A number written out the way a person or another program might store it:
// leading zeros, a plus sign, blanks around. Only 16-bit values come back.
void checkWrittenNumber(const std::uint8_t *data, std::size_t size)
{
    if (size < 9)
        return;
    qint64 value = 0;
    std::memcpy(&value, data, sizeof value);
    const std::uint8_t style = data[8];
    const quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    QString text = QString(style & 7, u'0') + QString::number(magnitude);
    if (value < 0)
        text.prepend(u'-');
    else if (style & 8)
        text.prepend(u'+');
    if (style & 16)
        text.prepend(QStringLiteral(" \t"));
    if (style & 32)
        text.append(QStringLiteral(" \r\n"));
    constexpr std::int16_t Fallback = 4321;
    const bool fits = value >= -32768 && value <= 32767;
    require(SettingsStore::parseStoredNumber(text, Fallback) == (fits ? value : Fallback),
            "a written number did not read back");
}

// Under TMPDIR: saving syncs to disk, so a folder in memory runs faster.
QString scratchDir()
{
    return QDir::tempPath() + QStringLiteral("/tarvo-fuzz-settings-") +
           QString::number(QCoreApplication::applicationPid());
}

QString scratchFile(const char *name)
{
    static const bool made = [] {
        std::atexit([] { QDir(scratchDir()).removeRecursively(); });
        return QDir().mkpath(scratchDir());
    }();
    require(made, "cannot make the scratch folder");
    return scratchDir() + QLatin1Char('/') + QLatin1String(name);
}

// QSettings keeps parsed files by name and reads one again only when its
// size or time stamp changed. Every file written here gets a time stamp of
// its own, so a rewrite of the same size is never missed and the same two
// names serve every run.
void stampFresh(const QString &path)
{
    static qint64 serial = 1000000000;
    QFile file(path);
    require(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(QDateTime::fromSecsSinceEpoch(++serial),
                                 QFileDevice::FileModificationTime),
            "cannot stamp the scratch file");
}

Configuration loaded(const QString &path)
{
    Configuration model;
    model.DownloadCount = 77;
    model.UploadCount = 66;
    model.ModemPort = 555;
    model.JobType = 444;
    model.DownloadList[3].Name = QStringLiteral("stale");
    model.UploadList[7].SaveAs = QStringLiteral("stale");
    SettingsStore(path).LoadSettings(model);
    require(model.DownloadCount == 77 && model.UploadCount == 66, "loading touched the counts");
    return model;
}

std::int16_t expectedNumber(QSettings &raw, const char *key, std::int16_t fallback)
{
    const QVariant stored = raw.value(QLatin1String(key));
    return stored.isValid() ? referenceNumber(stored.toString(), fallback) : fallback;
}

void checkStore(const QByteArray &ini)
{
    const QString path = scratchFile("store.ini");
    {
        QFile file(path);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    file.write(ini) == ini.size(),
                "cannot write the scratch file");
    }
    stampFresh(path);

    const Configuration first = loaded(path);
    QStringList keysBefore;
    {
        QSettings raw(path, QSettings::IniFormat);
        keysBefore = raw.allKeys();
        require(first.ModemPort == expectedNumber(raw, "Settings/Modem Port", 1),
                "Modem Port not read as a stored number");
        require(first.JobType == expectedNumber(raw, "Settings/Job", 2),
                "Job not read as a stored number");
        for (int i = 0; i < MaxEntries; ++i)
            require(first.DownloadList[i].Name ==
                            raw.value(QStringLiteral("Dnld%1/Name").arg(i + 1)).toString() &&
                        first.UploadList[i].SaveAs ==
                            raw.value(QStringLiteral("File%1/Save As").arg(i + 1)).toString(),
                    "an entry text was not read from its key");
    }

    const QString copy = scratchFile("copy.ini");
    QFile::remove(copy);
    SettingsStore(copy).SaveSettings(first);
    require(loaded(copy) == first, "a saved model did not load back unchanged");

    SettingsStore(path).SaveSettings(first);
    require(loaded(path) == first, "a model saved over its own file did not load back");
    {
        QSettings raw(path, QSettings::IniFormat);
        const QStringList keysAfter = raw.allKeys();
        for (const QString &key : keysBefore)
            require(keysAfter.contains(key), "saving removed a key");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const auto length = static_cast<qsizetype>(size);
    checkNumber(QString::fromLatin1(bytes, length));
    checkNumber(QString::fromUtf8(bytes, length));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkNumber(QString::fromStdU16String(units));
    checkWrittenNumber(data, size);
    // Without a "=" there is no value to read, and writing files is slow.
    if (std::memchr(data, '=', size))
        checkStore(QByteArray(bytes, length));
    return 0;
}
