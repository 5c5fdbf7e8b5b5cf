// The reading of stored settings under arbitrary text. The input is read as a stored number
// (Latin-1 and UTF-16 text), and then checked against plain QSettings as a recipe for values and as
// a settings file (SettingsDiff.h).
#include "FuzzRequire.h"
#include "SettingsDiff.h"
#include "SettingsStore.h"

#include <QDir>
#include <QRegularExpression>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    checkNumber(QString::fromLatin1(bytes, qsizetype(size)));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    checkNumber(QString::fromStdU16String(units));
    // Without a "=" there is no value to read, and writing files is slow.
    if (std::memchr(data, '=', size)) {
        // The fuzz run keeps TMPDIR in memory.
        static Testing::SettingsDiff diff(QDir::tempPath());
        const QString failure = diff.check(QByteArray(bytes, qsizetype(size)));
        require(failure.isEmpty(), qPrintable(failure));
    }
    return 0;
}
