// The frames on the line, with no line behind them.
//
// Host frames: STX ESC type body high low 0xC1, where the checksum covers
// ESC, type and body (sum mod 256, plus 193, plus n = body length + 2) and is
// sent as two characters 64 + high nibble, 64 + low nibble. Portable frames
// end at their first ETX; their checksum covers header, type and data as
// received, plus the count, with no 193 term. File data is escaped with "\"
// so that control bytes and 160..255 (but 220) never travel raw.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

namespace Tarvo {

namespace Byte {
inline constexpr char STX = 2;
inline constexpr char ETX = 3;
inline constexpr char EOT = 4;
inline constexpr char ACK = 6;
inline constexpr char NAK = 21;
inline constexpr char ESC = 27;
inline constexpr char Escape = '\\';
inline constexpr std::uint8_t End = 193;
} // namespace Byte

using DataBuffer = std::array<std::uint8_t, 257>;

// Checksum characters of a host frame being built (STX at index 0) with n
// bytes from offset 1 on.
void ComputeChecksum(const QByteArray &frame, int n, char &high, char &low);
// A complete host frame of the given type and (already escaped) body.
QByteArray buildFrame(char type, const QByteArray &body);
// Checks and decodes one portable frame; count and last are written only on success.
bool ParsePacket(const QByteArray &text, DataBuffer &buffer, int &count, bool &last);
// Escapes count bytes of source into target; returns the encoded length.
int EscapeBlock(const std::uint8_t *source, std::uint8_t *target, int count);

} // namespace Tarvo
