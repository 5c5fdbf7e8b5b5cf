// Where progress goes: the status pane (with the log behind it), the log
// alone, and the tray tip. The server window implements it; headless hosts
// and tests provide their own.
#pragma once

#include <QString>
#include <cstdint>

namespace Tarvo {

// Pane colours as 0x00BBGGRR values.
inline constexpr std::uint32_t ColourBlue = 0xFF0000; // progress, the default
inline constexpr std::uint32_t ColourRed = 0x0000FF;  // failures

inline constexpr char CrLf[] = "\r\n";

class Reporter
{
public:
    virtual ~Reporter() = default;
    // Appends text in colour to the pane, repaints, and logs the text.
    virtual void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) = 0;
    // Empties the pane (the log keeps everything).
    virtual void clearStatus() = 0;
    // Log only.
    virtual void WriteLog(const QString &text) = 0;
    // Makes state the tray state; the tip becomes "Tarvo - " + state.
    virtual void SetTrayTip(const QString &state) = 0;
};

} // namespace Tarvo
