// The reading of stored settings under arbitrary text.
//
// The input is read as a stored number (Latin-1 and UTF-16 text) and
// checked against a reference parse written here: optional blanks around an
// optional sign and decimal digits, kept when it fits 16 bits, nothing else
// (an embedded NUL included). When it holds a "=", it is also the INI file
// of a store: loading must take both numbers through that same parse and the
// entry texts from their keys and leave the counts alone; the model saved to
// a new file and over its own must load back unchanged, keeping every key.
#include "Configuration.h"
#include "FuzzRequire.h"
#include "SettingsStore.h"

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

using namespace Tarvo;

namespace {

std::int16_t referenceNumber(const QString &text, std::int16_t fallback)
{
    const QString t = text.trimmed();
    const QStringView digits = QStringView(t).mid(t.startsWith(u'+') || t.startsWith(u'-'));
    if (digits.isEmpty())
        return fallback;
    long value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return fallback;
        value = std::min(value * 10 + (c.unicode() - u'0'), 1000000L);
    }
    value = t.startsWith(u'-') ? -value : value;
    return value < -32768 || value > 32767 ? fallback : std::int16_t(value);
}

void checkNumber(const QString &text)
{
    require(SettingsStore::parseStoredNumber(text, -12345) == referenceNumber(text, -12345),
            "parseStoredNumber differs from the reference parse");
}

// The counts are not stored; the rest is overwritten by the load.
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

void checkStore(const QByteArray &ini)
{
    // QSettings keeps parsed files by name, so every run has a file of its
    // own. The folder lives under TMPDIR, which the fuzz run keeps in memory.
    static QTemporaryDir dir;
    static int serial = 0;
    const QString path = dir.filePath(QString::number(++serial) + QStringLiteral(".ini"));
    QFile file(path);
    require(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size(),
            "cannot write the scratch file");
    file.close();
    const Configuration first = loaded(path);
    QStringList keysBefore;
    {
        const QSettings raw(path, QSettings::IniFormat);
        keysBefore = raw.allKeys();
        // A missing key reads as "", which falls back like any non-number.
        const auto number = [&raw](const char *key) { return raw.value(key).toString(); };
        require(first.ModemPort == referenceNumber(number("Settings/Modem Port"), 1) &&
                    first.JobType == referenceNumber(number("Settings/Job"), 2),
                "a number not read as a stored number");
        for (int i = 0; i < MaxEntries; ++i)
            require(first.DownloadList[i].Name ==
                            raw.value(QStringLiteral("Dnld%1/Name").arg(i + 1)).toString() &&
                        first.UploadList[i].SaveAs ==
                            raw.value(QStringLiteral("File%1/Save As").arg(i + 1)).toString(),
                    "an entry text was not read from its key");
    }
    const QString copy = path + QStringLiteral(".copy");
    SettingsStore(copy).SaveSettings(first);
    require(loaded(copy) == first, "a saved model did not load back unchanged");
    SettingsStore(path).SaveSettings(first);
    require(loaded(path) == first, "a model saved over its own file did not load back");
    const QStringList keysAfter = QSettings(path, QSettings::IniFormat).allKeys();
    require(std::all_of(keysBefore.begin(), keysBefore.end(),
                        [&](const QString &key) { return keysAfter.contains(key); }),
            "saving removed a key");
    QFile::remove(path);
    QFile::remove(copy);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    checkNumber(QString::fromLatin1(bytes, qsizetype(size)));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkNumber(QString::fromStdU16String(units));
    // Without a "=" there is no value to read, and writing files is slow.
    if (std::memchr(data, '=', size))
        checkStore(QByteArray(bytes, qsizetype(size)));
    return 0;
}
