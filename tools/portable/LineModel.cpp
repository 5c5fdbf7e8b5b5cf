#include "LineModel.h"

#include <algorithm>

namespace Tarvo::Portable {

LineModel::LineModel(int bitsPerSecond)
{
    if (bitsPerSecond > 0)
        m_byteTime = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(10.0 / bitsPerSecond));
}

void LineModel::arrive(std::string_view bytes, Clock::time_point at)
{
    Clock::time_point t = std::max(m_inFreeAt, at);
    for (const char c : bytes) {
        t += m_byteTime;
        m_in.emplace_back(static_cast<unsigned char>(c), t);
    }
    m_inFreeAt = t;
}

std::optional<std::pair<unsigned char, LineModel::Clock::time_point>>
LineModel::takeArrived(Clock::time_point now)
{
    if (m_in.empty() || m_in.front().second > now)
        return std::nullopt;
    const auto front = m_in.front();
    m_in.pop_front();
    return front;
}

void LineModel::queue(std::string_view bytes, Clock::time_point notBefore, Clock::time_point now)
{
    Clock::time_point t = std::max({m_outFreeAt, notBefore, now});
    for (const char c : bytes) {
        t += m_byteTime;
        m_out.emplace_back(static_cast<unsigned char>(c), t);
    }
    m_outFreeAt = t;
}

std::string LineModel::takeDue(Clock::time_point now)
{
    std::string due;
    while (!m_out.empty() && m_out.front().second <= now) {
        due += char(m_out.front().first);
        m_out.pop_front();
    }
    return due;
}

void LineModel::putBack(std::string_view bytes, Clock::time_point now)
{
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it)
        m_out.emplace_front(static_cast<unsigned char>(*it), now);
}

void LineModel::dropOutput()
{
    m_out.clear();
}

std::optional<LineModel::Clock::time_point> LineModel::nextInput() const
{
    if (m_in.empty())
        return std::nullopt;
    return m_in.front().second;
}

std::optional<LineModel::Clock::time_point> LineModel::nextOutput() const
{
    if (m_out.empty())
        return std::nullopt;
    return m_out.front().second;
}

} // namespace Tarvo::Portable
