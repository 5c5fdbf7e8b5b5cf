// Frames and escaping of the packet link under arbitrary bytes.
//
// Every input is used four ways: as a received text for ParsePacket (as it
// came, with its checksum put right, and stretched around the longest
// frame), checked against a small reference decoder written here from the
// frame rules; as file data for EscapeBlock, whose output must stay within
// twice the input, avoid every raw control byte and decode back; framed as a
// portable frame that ParsePacket must accept and return unchanged; and as
// the body of a host frame whose checksum is recomputed here.
#include "PacketLink.h"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace Tarvo;

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_packet: %s\n", what);
        std::abort();
    }
}

struct Decoded
{
    bool ok = false;
    std::vector<std::uint8_t> data;
    bool last = false;
};

// Positions below are 1-based as in the frame layout: p is the first ETX.
Decoded referenceParse(const QByteArray &text)
{
    Decoded out;
    const qsizetype p = text.indexOf(char(3)) + 1;
    if (p < 6 || p > 256)
        return out;
    const auto at = [&text](qsizetype position) {
        return static_cast<std::uint8_t>(text.at(position - 1));
    };
    unsigned sum = 0;
    bool escaped = false;
    for (qsizetype i = 2; i <= p - 3; ++i) {
        const std::uint8_t c = at(i);
        sum = (sum + c) % 256;
        int value = -1;
        if (!escaped && c == '\\') {
            escaped = true;
        } else if (escaped) {
            escaped = false;
            if (c == '\\')
                value = 92;
            else if (c >= 32 && c <= 127)
                value = c + 128;
            else if (c >= 128 && c <= 159)
                value = c - 128;
            else
                value = c;
        } else {
            value = c;
        }
        if (value >= 0 && i >= 4)
            out.data.push_back(static_cast<std::uint8_t>(value));
    }
    const unsigned check = (sum + static_cast<unsigned>(p) - 4) % 256;
    if (at(p - 2) != 64 + check / 16 || at(p - 1) != 64 + check % 16)
        return out;
    out.ok = true;
    out.last = at(3) == 'Z';
    return out;
}

std::vector<std::uint8_t> referenceEscape(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b == 92) {
            out.insert(out.end(), {92, 92});
        } else if (b <= 31) {
            out.insert(out.end(), {92, static_cast<std::uint8_t>(b + 128)});
        } else if (b >= 160 && b != 220) {
            out.insert(out.end(), {92, static_cast<std::uint8_t>(b - 128)});
        } else {
            out.push_back(b);
        }
    }
    return out;
}

// A portable frame as the portable builds it: STX, ESC, type, data, checksum
// without the 193 term, ETX.
QByteArray portableFrame(char type, const std::uint8_t *escaped, int size)
{
    QByteArray frame;
    frame += Byte::STX;
    frame += Byte::ESC;
    frame += type;
    frame.append(reinterpret_cast<const char *>(escaped), size);
    unsigned sum = 0;
    for (qsizetype i = 1; i < frame.size(); ++i)
        sum = (sum + static_cast<std::uint8_t>(frame.at(i))) % 256;
    const unsigned check = (sum + static_cast<unsigned>(frame.size()) - 1) % 256;
    frame += char(64 + check / 16);
    frame += char(64 + check % 16);
    frame += Byte::ETX;
    return frame;
}

// Random bytes rarely carry a right checksum: these put one in, so that the
// decoder and the bounds are reached as often as the rejection.
QByteArray withChecksum(QByteArray text)
{
    const qsizetype p = text.indexOf(char(3)) + 1;
    if (p < 6)
        return text;
    unsigned sum = 0;
    for (qsizetype i = 2; i <= p - 3; ++i)
        sum = (sum + static_cast<std::uint8_t>(text.at(i - 1))) % 256;
    const unsigned check = (sum + static_cast<unsigned>(p) - 4) % 256;
    text[p - 3] = char(64 + check / 16);
    text[p - 2] = char(64 + check % 16);
    return text;
}

// The input without its ETX bytes, repeated to put the first ETX at a
// position the first byte picks around the longest frame (240..263).
QByteArray nearLongest(const QByteArray &input)
{
    if (input.size() < 2)
        return {};
    QByteArray body = input.mid(1);
    body.replace(char(3), "");
    if (body.isEmpty())
        return {};
    const qsizetype p = 240 + static_cast<std::uint8_t>(input.at(0)) % 24;
    QByteArray text;
    while (text.size() < p - 1)
        text += body;
    text.truncate(p - 1);
    text += char(3);
    return withChecksum(text);
}

void checkParse(const QByteArray &text)
{
    DataBuffer buffer{};
    int count = -7;
    bool last = true;
    const bool ok = ParsePacket(text, buffer, count, last);
    const Decoded expected = referenceParse(text);
    require(ok == expected.ok, "ParsePacket accepts differently from the reference");
    if (!ok) {
        require(count == -7 && last, "a rejected frame wrote count or last");
        return;
    }
    require(count >= 0 && count <= 250, "count out of range");
    require(count == static_cast<int>(expected.data.size()), "count differs from the reference");
    require(std::equal(expected.data.begin(), expected.data.end(), buffer.begin()),
            "decoded data differs from the reference");
    require(last == expected.last, "last differs from the reference");

    // Data the portable sent can be sent back the same way when its escaped
    // form still fits one frame. A "\" type would escape the first data byte.
    const char type = text.at(2) == Byte::Escape ? 'Y' : text.at(2);
    std::array<std::uint8_t, 2 * 250> escaped{};
    const int size = EscapeBlock(buffer.data(), escaped.data(), count);
    if (size > 250)
        return;
    DataBuffer again{};
    int againCount = -1;
    bool againLast = false;
    require(ParsePacket(portableFrame(type, escaped.data(), size), again, againCount, againLast),
            "re-framed data was rejected");
    require(againCount == count &&
                std::equal(buffer.begin(), buffer.begin() + count, again.begin()),
            "re-framed data decoded differently");
    require(againLast == (type == 'Z'), "re-framed type lost");
}

void checkEscape(const std::uint8_t *data, std::size_t size)
{
    const int count = static_cast<int>(size);
    // Exactly twice the input, on the heap, so a write past it is caught.
    std::vector<std::uint8_t> target(2 * size + (size == 0 ? 1 : 0));
    const int encoded = EscapeBlock(data, target.data(), count);
    require(encoded >= count && encoded <= 2 * count, "escaped length out of range");
    const std::vector<std::uint8_t> expected = referenceEscape(data, size);
    require(encoded == static_cast<int>(expected.size()) &&
                std::equal(expected.begin(), expected.end(), target.begin()),
            "escaped bytes differ from the reference");
    for (int i = 0; i < encoded; ++i) {
        const std::uint8_t b = target[i];
        require(b >= 32 && (b <= 159 || b == 220), "a control or high byte travels raw");
    }

    // One download block, framed by the portable's rule, must come back.
    if (size > 120)
        return;
    DataBuffer buffer{};
    int decoded = -1;
    bool last = true;
    require(ParsePacket(portableFrame('Y', target.data(), encoded), buffer, decoded, last),
            "a frame of escaped data was rejected");
    require(decoded == count && std::equal(data, data + size, buffer.begin()),
            "escaped data did not decode back");
    require(!last, "a Y frame counted as the last");
}

void checkHostFrame(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return;
    const char type = static_cast<char>(data[0]);
    const QByteArray body(reinterpret_cast<const char *>(data + 1),
                          static_cast<qsizetype>(std::min<std::size_t>(size - 1, 240)));
    const QByteArray frame = BuildFrame(type, body);
    const qsizetype n = body.size() + 2;
    require(frame.size() == n + 4, "host frame length");
    require(frame.at(0) == Byte::STX && frame.at(1) == Byte::ESC && frame.at(2) == type,
            "host frame header");
    require(frame.mid(3, body.size()) == body, "host frame body");
    unsigned sum = 0;
    for (qsizetype i = 1; i <= n; ++i)
        sum = (sum + static_cast<std::uint8_t>(frame.at(i))) % 256;
    const unsigned check = (sum + 193 + static_cast<unsigned>(n)) % 256;
    require(static_cast<std::uint8_t>(frame.at(n + 1)) == 64 + check / 16 &&
                static_cast<std::uint8_t>(frame.at(n + 2)) == 64 + check % 16,
            "host frame checksum");
    require(static_cast<std::uint8_t>(frame.at(n + 3)) == Byte::End, "host frame end byte");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkParse(text);
    checkParse(withChecksum(text));
    checkParse(nearLongest(text));
    checkEscape(data, size);
    checkHostFrame(data, size);
    return 0;
}
