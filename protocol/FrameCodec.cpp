#include "FrameCodec.h"

namespace Tarvo {

namespace {

constexpr int low4(unsigned value)
{
    return static_cast<int>(value & 0x0F);
}

// One step of the receive decoder; -1 while an escape waits for its partner.
int decodeStep(std::uint8_t c, bool &escaped)
{
    if (!escaped) {
        if (c == std::uint8_t(Byte::Escape)) {
            escaped = true;
            return -1;
        }
        return c;
    }
    escaped = false;
    if (c == std::uint8_t(Byte::Escape))
        return c;
    if (c >= 32 && c <= 127)
        return c + 128;
    if (c >= 128 && c <= 159)
        return c - 128;
    return c;
}

} // namespace

void ComputeChecksum(const QByteArray &frame, int n, char &high, char &low)
{
    unsigned sum = 0;
    for (int i = 1; i <= n; ++i)
        sum = (sum + std::uint8_t(frame.at(i))) & 0xFF;
    sum = (sum + Byte::End) & 0xFF;
    const unsigned check = (sum + unsigned(n)) & 0xFF;
    high = char(64 + low4(check >> 4));
    low = char(64 + low4(check));
}

QByteArray buildFrame(char type, const QByteArray &body)
{
    const int n = int(body.size()) + 2;
    QByteArray frame(n + 4, '\0');
    frame[0] = Byte::STX;
    frame[1] = Byte::ESC;
    frame[2] = type;
    std::copy(body.begin(), body.end(), frame.begin() + 3);
    char high = 0;
    char low = 0;
    ComputeChecksum(frame, n, high, low);
    frame[n + 1] = high;
    frame[n + 2] = low;
    frame[n + 3] = char(Byte::End);
    return frame;
}

bool ParsePacket(const QByteArray &text, DataBuffer &buffer, int &count, bool &last)
{
    // Positions below count from 1, as the portable's frame layout does.
    const qsizetype p = text.indexOf(Byte::ETX) + 1;
    if (p < 6 || p > 256)
        return false;
    const auto at = [&text](qsizetype position) { return std::uint8_t(text.at(position - 1)); };

    unsigned sum = 0;
    bool escaped = false;
    int stored = 0;
    // Header and type are summed and run through the decoder too, so an
    // escape there swallows the first data character, as on the portable.
    for (qsizetype i = 2; i <= p - 3; ++i) {
        const std::uint8_t c = at(i);
        sum = (sum + c) & 0xFF;
        const int decoded = decodeStep(c, escaped);
        if (decoded >= 0 && i >= 4)
            buffer[std::size_t(stored++)] = std::uint8_t(decoded);
    }
    const unsigned check = (sum + unsigned(p - 4)) & 0xFF;
    if (at(p - 2) != 64 + low4(check >> 4) || at(p - 1) != 64 + low4(check))
        return false;
    count = stored;
    last = at(3) == 'Z';
    return true;
}

int EscapeBlock(const std::uint8_t *source, std::uint8_t *target, int count)
{
    int length = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = source[i];
        if (b == std::uint8_t(Byte::Escape)) {
            target[length++] = b;
            target[length++] = b;
        } else if (b < 32) {
            target[length++] = std::uint8_t(Byte::Escape);
            target[length++] = std::uint8_t(b + 128);
        } else if (b < 160 || b == 220) {
            // 220 - 128 would read back as an escape character.
            target[length++] = b;
        } else {
            target[length++] = std::uint8_t(Byte::Escape);
            target[length++] = std::uint8_t(b - 128);
        }
    }
    return length;
}

} // namespace Tarvo
