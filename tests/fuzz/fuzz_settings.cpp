// The reading of stored settings under arbitrary text. The input is read as
// a stored number (Latin-1 and UTF-16 text) and, when it holds a "=", loaded
// as the INI file of a store, whose model must save and load back unchanged.
#include "Configuration.h"
#include "FuzzRequire.h"
#include "SettingsStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace Tarvo;

namespace {

// The fallback, or the value the text spells: blanks, a sign, digits.
void checkNumber(const QString &text)
{
    const std::int16_t value = SettingsStore::parseStoredNumber(text, -12345);
    const QString trimmed = text.trimmed();
    static const QRegularExpression signAndZeros(QStringLiteral("^[+-]?0*(?=.)"));
    const QString digits = QString(trimmed).remove(signAndZeros);
    require(value == -12345 || (digits == QString::number(std::abs(int(value))) &&
                                (value < 0) == (value && trimmed.startsWith(u'-'))),
            "a stored number read as another value");
}

void checkStore(const QByteArray &ini)
{
    // A file per input, as QSettings caches by name; the fuzz run keeps TMPDIR in memory.
    static QTemporaryDir dir;
    static int serial = 0;
    const QString path = dir.filePath(QString::number(++serial) + QStringLiteral(".ini"));
    QFile file(path);
    require(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size(),
            "cannot write the scratch file");
    file.close();
    Configuration first, second;
    SettingsStore(path).LoadSettings(first);
    // Saved over the file it came from, so stray keys and odd syntax stay.
    SettingsStore(path).SaveSettings(first);
    SettingsStore(path).LoadSettings(second);
    require(second == first, "a saved model did not load back unchanged");
    QFile::remove(path);
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
