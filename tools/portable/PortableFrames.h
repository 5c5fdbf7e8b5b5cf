// The link's bytes as the portable sees them.
//
// The host sends STX ESC type body hi lo 0xC1; its checksum covers ESC, type
// and body and folds in the end byte (193) and n = body length + 2. The
// portable answers with STX ESC type data hi lo ETX, whose checksum covers the
// header, type and data as sent plus their count, without the 193 term. Both
// checksum characters are 64 plus a 4-bit half. File data is escaped the same
// way in both directions, so one encoder and one decoder serve both: control
// bytes and 160..255 (but 220) never travel raw, which keeps ETX and 193 out
// of frame data.
//
// This code is the simulator's own on purpose: it shares nothing with the
// host's link, so a mistake made in one place cannot hide itself in both.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Tarvo::Portable {

inline constexpr unsigned char Stx = 2;
inline constexpr unsigned char Etx = 3;
inline constexpr unsigned char Eot = 4;
inline constexpr unsigned char Ack = 6;
inline constexpr unsigned char Nak = 21;
inline constexpr unsigned char Esc = 27;
inline constexpr unsigned char Backslash = 92;
inline constexpr unsigned char HostEnd = 0xC1;

// Source bytes per frame the portable sends: escaped they fill at most 240
// characters, well inside the 256 the host accepts up to the ETX.
inline constexpr std::size_t PortableBlock = 120;

// 64 + high nibble, 64 + low nibble of the low byte of value.
std::string checksumChars(unsigned value);

// Checksum value of a host frame: escTypeBody is bytes 1..n of the frame.
unsigned hostChecksum(std::string_view escTypeBody);
std::string buildHostFrame(char type, std::string_view body);

struct Frame
{
    char type = 0;
    std::string body; // host frame: the body as sent; portable frame: the decoded data
};

// A complete host frame, STX through the end byte; nothing when it is too
// short, does not start with STX ESC, lacks the end byte or fails its checksum.
std::optional<Frame> parseHostFrame(std::string_view frame);

// Checksum value of a portable frame: headerTypeData is positions 2..p-3.
unsigned portableChecksum(std::string_view headerTypeData);
std::string buildPortableFrame(char type, std::string_view escapedData);
// Checks a portable frame the way its receiver does (first ETX, 6 <= p <= 256).
std::optional<Frame> parsePortableFrame(std::string_view text);

std::string escapeData(std::string_view raw);
// A backslash left pending at the end is dropped.
std::string unescapeData(std::string_view escaped);

// Cuts host frames out of the byte stream of a call. Bytes outside a frame
// (single ACK and NAK answers, noise) are handed back to the caller. A new
// STX inside a frame means the host gave up on a truncated one and resent it,
// so the partial frame is dropped; so is a frame that outgrows any the host
// can send.
class HostFrameAssembler
{
public:
    enum class Result { Outside, Collecting, Complete };

    Result feed(unsigned char byte);
    bool collecting() const { return m_collecting; }
    // The frame just completed, STX through the end byte.
    const std::string &frame() const { return m_frame; }
    void reset();

    // The portable's frame buffer: a longer frame is dropped unanswered.
    static constexpr std::size_t MaxFrame = 256;

private:
    std::string m_frame;
    bool m_collecting = false;
};

} // namespace Tarvo::Portable
