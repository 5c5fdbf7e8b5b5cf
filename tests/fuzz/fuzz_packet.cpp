// Frames and escaping of the packet link under arbitrary bytes: the input is parsed as it came and,
// without its ETX bytes, framed with a right checksum; escaped as file data, it must travel safely
// and decode back.
#include "FrameCodec.h"
#include "FuzzRequire.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

using namespace Tarvo;

namespace {

// A portable frame: its checksum is the byte sum of header, type and data plus their count.
QByteArray portableFrame(const QByteArray &content)
{
    unsigned check = unsigned(content.size());
    for (const char c : content)
        check += std::uint8_t(c);
    return Byte::STX + content + char(64 + (check >> 4 & 15)) + char(64 + (check & 15)) + Byte::ETX;
}

// Rejects without writing count or last, or yields at most the 250 data bytes of a frame.
std::optional<QByteArray> parse(const QByteArray &text)
{
    DataBuffer buffer{};
    int count = -7;
    bool last = true;
    if (!ParsePacket(text, buffer, count, last)) {
        require(count == -7 && last, "a rejected frame wrote count or last");
        return std::nullopt;
    }
    require(count >= 0 && count <= 250, "a frame yielded more than it can carry");
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    parse(input);
    const QByteArray content = QByteArray(input).replace(Byte::ETX, "");
    require(parse(portableFrame(content)) || content.size() < 2 || content.size() > 252,
            "a well-formed frame was rejected");

    // Exactly twice the input, on the heap, so a write past it is caught.
    std::vector<std::uint8_t> escaped(std::max(2 * size, std::size_t(1)));
    const int n = EscapeBlock(data, escaped.data(), int(size));
    require(n >= int(size) && n <= 2 * int(size), "escaped length out of range");
    for (int i = 0; i < n; ++i)
        require(escaped[i] >= 32 && (escaped[i] <= 159 || escaped[i] == 220),
                "a control or high byte travels raw");
    const QByteArray body(reinterpret_cast<const char *>(escaped.data()), n);
    require(n > 250 || parse(portableFrame(Byte::ESC + ("Y" + body))) == input,
            "escaped data did not decode back");
    return 0;
}
