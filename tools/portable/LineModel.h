// The telephone line's speed, modelled on a pseudo-terminal that has none.
//
// Each byte takes ten bit times (start, eight data bits, stop). Bytes the
// host writes are held back until they would have arrived over the line;
// bytes for the host are released only once they would have been sent. Both
// directions are queues of (byte, moment); a speed of 0 lets everything
// through at once.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace Tarvo::Portable {

class LineModel
{
public:
    using Clock = std::chrono::steady_clock;

    explicit LineModel(int bitsPerSecond);

    // Bytes read from the host at `at`.
    void arrive(std::string_view bytes, Clock::time_point at);
    // Takes the next byte that has fully arrived by `now`, with its moment.
    std::optional<std::pair<unsigned char, Clock::time_point>> takeArrived(Clock::time_point now);

    // Bytes for the host that may not start before notBefore.
    void queue(std::string_view bytes, Clock::time_point notBefore, Clock::time_point now);
    // Bytes whose sending has finished by `now`, in order.
    std::string takeDue(Clock::time_point now);
    // Bytes the port did not take: they go out first, as soon as it can.
    void putBack(std::string_view bytes, Clock::time_point now);
    void dropOutput();

    bool outputPending() const { return !m_out.empty(); }
    bool inputPending() const { return !m_in.empty(); }
    std::optional<Clock::time_point> nextInput() const;
    std::optional<Clock::time_point> nextOutput() const;

private:
    using Queue = std::deque<std::pair<unsigned char, Clock::time_point>>;

    Clock::duration m_byteTime{0};
    Queue m_in;
    Queue m_out;
    Clock::time_point m_inFreeAt{};
    Clock::time_point m_outFreeAt{};
};

} // namespace Tarvo::Portable
