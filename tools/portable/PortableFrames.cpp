#include "PortableFrames.h"

namespace Tarvo::Portable {

namespace {

unsigned byteSum(std::string_view bytes)
{
    unsigned sum = 0;
    for (const char c : bytes)
        sum = (sum + static_cast<unsigned char>(c)) & 0xFF;
    return sum;
}

bool matches(std::string_view chars, unsigned value)
{
    return chars == checksumChars(value);
}

} // namespace

std::string checksumChars(unsigned value)
{
    value &= 0xFF;
    return {char(64 + value / 16), char(64 + value % 16)};
}

unsigned hostChecksum(std::string_view escTypeBody)
{
    const unsigned n = unsigned(escTypeBody.size());
    return (byteSum(escTypeBody) + HostEnd + n) & 0xFF;
}

std::string buildHostFrame(char type, std::string_view body)
{
    std::string frame{char(Stx), char(Esc), type};
    frame += body;
    frame += checksumChars(hostChecksum(std::string_view(frame).substr(1)));
    frame += char(HostEnd);
    return frame;
}

std::optional<Frame> parseHostFrame(std::string_view frame)
{
    // STX ESC type hi lo end: six bytes at least.
    if (frame.size() < 6 || static_cast<unsigned char>(frame[0]) != Stx ||
        static_cast<unsigned char>(frame[1]) != Esc ||
        static_cast<unsigned char>(frame.back()) != HostEnd)
        return std::nullopt;
    const std::size_t n = frame.size() - 4;
    if (!matches(frame.substr(n + 1, 2), hostChecksum(frame.substr(1, n))))
        return std::nullopt;
    return Frame{frame[2], std::string(frame.substr(3, n - 2))};
}

unsigned portableChecksum(std::string_view headerTypeData)
{
    return (byteSum(headerTypeData) + unsigned(headerTypeData.size())) & 0xFF;
}

std::string buildPortableFrame(char type, std::string_view escapedData)
{
    std::string frame{char(Stx), char(Esc), type};
    frame += escapedData;
    frame += checksumChars(portableChecksum(std::string_view(frame).substr(1)));
    frame += char(Etx);
    return frame;
}

std::optional<Frame> parsePortableFrame(std::string_view text)
{
    const std::size_t etx = text.find(char(Etx));
    if (etx == std::string_view::npos)
        return std::nullopt;
    const std::size_t p = etx + 1; // 1-based position of the ETX
    if (p < 6 || p > 256)
        return std::nullopt;
    const std::string_view summed = text.substr(1, p - 4);
    if (!matches(text.substr(p - 3, 2), portableChecksum(summed)))
        return std::nullopt;
    return Frame{text[2], unescapeData(summed.substr(2))};
}

std::string escapeData(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size() * 2);
    for (const char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        if (b == Backslash) {
            out += "\\\\";
        } else if (b < 32) {
            out += char(Backslash);
            out += char(b + 128);
        } else if (b >= 160 && b != 220) {
            out += char(Backslash);
            out += char(b - 128);
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescapeData(std::string_view escaped)
{
    std::string out;
    out.reserve(escaped.size());
    bool pending = false;
    for (const char c : escaped) {
        const auto b = static_cast<unsigned char>(c);
        if (!pending) {
            if (b == Backslash)
                pending = true;
            else
                out += c;
            continue;
        }
        pending = false;
        // "\\" is tested first: 92 lies in 32..127 but means itself here.
        if (b == Backslash)
            out += char(Backslash);
        else if (b >= 32 && b <= 127)
            out += char(b + 128);
        else if (b >= 128 && b <= 159)
            out += char(b - 128);
        else
            out += c;
    }
    return out;
}

HostFrameAssembler::Result HostFrameAssembler::feed(unsigned char byte)
{
    if (byte == Stx) {
        m_frame.assign(1, char(Stx));
        m_collecting = true;
        return Result::Collecting;
    }
    if (!m_collecting)
        return Result::Outside;
    m_frame += char(byte);
    if (byte == HostEnd) {
        m_collecting = false;
        return Result::Complete;
    }
    if (m_frame.size() > MaxFrame)
        reset();
    return Result::Collecting;
}

void HostFrameAssembler::reset()
{
    m_frame.clear();
    m_collecting = false;
}

} // namespace Tarvo::Portable
