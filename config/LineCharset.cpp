#include "LineCharset.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace Tarvo::LineCharset {

namespace {

#ifdef Q_OS_WIN
// The ANSI code page, when it holds one byte per character. UTF-8 and the
// double-byte pages cannot be framed byte for byte.
bool ansiIsSingleByte()
{
    CPINFO info{};
    return GetACP() != CP_UTF8 && GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

QByteArray encodeAnsi(const QString &text, bool *lossless)
{
    const auto *wide = reinterpret_cast<LPCWCH>(text.utf16());
    const int units = int(text.size());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, nullptr, 0,
                                         nullptr, &usedDefault);
    QByteArray out(size, '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, out.data(), size, nullptr,
                        &usedDefault);
    *lossless = !usedDefault && size == units;
    return out;
}
#endif

QByteArray encodeLatin1(const QString &text, bool *lossless)
{
    // toLatin1() gives a '?' for each character beyond U+00FF.
    *lossless = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    return text.toLatin1();
}

QByteArray encodeChecked(const QString &text, bool *lossless)
{
    if (text.isEmpty()) {
        *lossless = true;
        return {};
    }
#ifdef Q_OS_WIN
    if (ansiIsSingleByte())
        return encodeAnsi(text, lossless);
#endif
    return encodeLatin1(text, lossless);
}

// The last byte of every frame the host sends.
constexpr quint8 EndByte = 193;

// Bytes a frame's unescaped text cannot hold: the end byte of a host frame,
// and the control characters among which are the frame's own.
bool framable(const QByteArray &bytes)
{
    return std::none_of(bytes.begin(), bytes.end(),
                        [](char b) { return quint8(b) < 32 || quint8(b) == EndByte; });
}

bool inSet(const QString &text)
{
    bool lossless = false;
    encodeChecked(text, &lossless);
    return lossless;
}

} // namespace

QByteArray encode(const QString &text)
{
    bool lossless = false;
    return encodeChecked(text, &lossless);
}

bool canCarry(const QString &text)
{
    bool lossless = false;
    return framable(encodeChecked(text, &lossless)) && lossless;
}

QString refusal(const QString &text)
{
    QString missing;
    QStringList unframed;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character beyond the first 65536 is two units and is named whole.
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QString c = text.mid(i, pair ? 2 : 1);
        i += pair ? 1 : 0;
        const int byte = quint8(encode(c).front());
        const QString named = byte < 32 ? QStringLiteral("the control character %1").arg(byte)
                                        : QStringLiteral("%1 (byte %2)").arg(c).arg(byte);
        if (!inSet(c) && !missing.contains(c))
            missing += c;
        else if (inSet(c) && !canCarry(c) && !unframed.contains(named))
            unframed += named;
    }
    QStringList reasons;
    if (!missing.isEmpty())
        reasons += QStringLiteral("%1 has no %2").arg(name(), missing);
    if (!unframed.isEmpty())
        reasons += QStringLiteral("the line's frames cannot carry %1")
                       .arg(unframed.join(QStringLiteral(", ")));
    return reasons.join(QStringLiteral(", and "));
}

QString nameRefusal(const QString &name)
{
    QStringList reasons;
    if (const QString characters = refusal(name); !characters.isEmpty())
        reasons += characters;
    if (name.size() > MaxNameLength)
        reasons += QStringLiteral("it is %1 characters long, and the portable's frames hold "
                                  "names of at most %2")
                       .arg(name.size())
                       .arg(MaxNameLength);
    static const QRegularExpression offsetEnd(QStringLiteral("\\[[0-9]+\\]\\z"));
    if (const QRegularExpressionMatch end = offsetEnd.match(name); end.hasMatch())
        reasons += QStringLiteral("its end %1 would be read as an offset to restart at")
                       .arg(end.captured());
    return reasons.join(QStringLiteral(", and "));
}

QString toUpper(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const QString upper = QString(c).toUpper();
        if (upper.size() == 1 && canCarry(upper))
            c = upper[0];
    }
    return out;
}

QString name()
{
#ifdef Q_OS_WIN
    if (ansiIsSingleByte())
        return QStringLiteral("Windows code page %1").arg(GetACP());
#endif
    return QStringLiteral("Latin-1");
}

} // namespace Tarvo::LineCharset
