// Frames and escaping of the packet link under arbitrary bytes.
//
// Every input is parsed three ways (as it came, with its checksum put right
// so that accepted frames are reached as often as rejected ones, and
// stretched so its ETX lands around the longest frame) and ParsePacket must
// agree with a small reference decoder written here from the frame rules.
// The input is also escaped as file data: the output must fit twice the
// input, carry no raw control or high byte, and decode back both by the
// reference and, framed as the portable frames it, by ParsePacket.
#include "FuzzRequire.h"
#include "PacketLink.h"

#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <vector>

using namespace Tarvo;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Positions count from 1 as in the frame layout. Decodes positions 2..last
// (an escape in the header or type swallows the next byte) and keeps the
// data from position 4 on; sum is the plain byte sum of the range.
Bytes referenceDecode(const QByteArray &text, qsizetype last, unsigned &sum)
{
    Bytes data;
    bool escaped = false;
    for (qsizetype i = 2; i <= last; ++i) {
        const std::uint8_t c = std::uint8_t(text.at(i - 1));
        sum = (sum + c) % 256;
        int value = c;
        if (!escaped && c == '\\')
            value = -1;
        else if (escaped && c >= 32 && c <= 127 && c != '\\')
            value = c + 128;
        else if (escaped && c >= 128 && c <= 159)
            value = c - 128;
        escaped = value < 0;
        if (value >= 0 && i >= 4)
            data.push_back(std::uint8_t(value));
    }
    return data;
}

// The checksum characters a frame needs (none when its first ETX comes too
// early) and the data it carries; a frame past 256 bytes is never accepted.
QByteArray referenceParse(const QByteArray &text, Bytes &data)
{
    const qsizetype p = text.indexOf(Byte::ETX) + 1;
    if (p < 6)
        return {};
    unsigned sum = 0;
    data = referenceDecode(text, p - 3, sum);
    const unsigned check = (sum + unsigned(p) - 4) % 256;
    return QByteArray(1, char(64 + check / 16)) + char(64 + check % 16);
}

QByteArray withChecksum(QByteArray text)
{
    Bytes data;
    const QByteArray check = referenceParse(text, data);
    return check.isEmpty() ? text : text.replace(text.indexOf(Byte::ETX) - 2, 2, check);
}

// The input without ETX bytes, repeated so that the first ETX falls at a
// position the first byte picks around the longest frame (240..263).
QByteArray nearLongest(const QByteArray &input)
{
    QByteArray body = input.mid(1);
    body.replace(Byte::ETX, "");
    if (body.isEmpty())
        return {};
    const qsizetype p = 240 + std::uint8_t(input.at(0)) % 24;
    const QByteArray text = body.repeated(int(p / body.size()) + 1).left(p - 1) + Byte::ETX;
    return withChecksum(text);
}

void checkParse(const QByteArray &text)
{
    DataBuffer buffer{};
    int count = -7;
    bool last = true;
    const bool ok = ParsePacket(text, buffer, count, last);
    Bytes data;
    const QByteArray check = referenceParse(text, data);
    const qsizetype etx = text.indexOf(Byte::ETX);
    const bool expected = !check.isEmpty() && etx < 256 && text.mid(etx - 2, 2) == check;
    require(ok == expected, "ParsePacket accepts differently from the reference");
    if (!ok) {
        require(count == -7 && last, "a rejected frame wrote count or last");
        return;
    }
    require(count == int(data.size()) && std::equal(data.begin(), data.end(), buffer.begin()),
            "decoded data differs from the reference");
    require(last == (text.at(2) == 'Z'), "last differs from the reference");
}

void checkEscape(const Bytes &data)
{
    const int count = int(data.size());
    // Exactly twice the input, on the heap, so a write past it is caught.
    Bytes target(std::max(2 * data.size(), std::size_t(1)));
    const int encoded = EscapeBlock(data.data(), target.data(), count);
    require(encoded >= count && encoded <= 2 * count, "escaped length out of range");
    require(std::all_of(target.begin(), target.begin() + encoded,
                        [](std::uint8_t b) { return b >= 32 && (b <= 159 || b == 220); }),
            "a control or high byte travels raw");

    QByteArray frame = QByteArray(1, Byte::STX) + Byte::ESC + 'Y';
    frame.append(reinterpret_cast<const char *>(target.data()), encoded);
    unsigned sum = 0;
    require(referenceDecode(frame, frame.size(), sum) == data, "escaped data did not decode back");
    // One frame's worth must also pass the real parser, framed as the portable frames it.
    if (encoded <= 250)
        checkParse(withChecksum(frame + "@@" + Byte::ETX));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    checkParse(text);
    checkParse(withChecksum(text));
    checkParse(nearLongest(text));
    checkEscape(Bytes(data, data + size));
    return 0;
}
