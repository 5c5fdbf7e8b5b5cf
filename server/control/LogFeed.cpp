#include "LogFeed.h"

namespace Tarvo {

LogFeed::LogFeed(Reporter *inner, QObject *parent) : QObject(parent), m_inner(inner) {}

void LogFeed::setLimits(int maxEntries, qsizetype maxBytes)
{
    m_maxEntries = std::max(1, maxEntries);
    m_maxBytes = std::max<qsizetype>(1, maxBytes);
}

void LogFeed::AppendStatus(const QString &text, std::uint32_t colour)
{
    if (m_inner)
        m_inner->AppendStatus(text, colour);
    record(FeedEntry::Kind::Pane, text, colour);
}

void LogFeed::clearStatus()
{
    if (m_inner)
        m_inner->clearStatus();
    record(FeedEntry::Kind::Clear, QString(), ColourBlue);
}

void LogFeed::WriteLog(const QString &text)
{
    if (m_inner)
        m_inner->WriteLog(text);
    record(FeedEntry::Kind::Log, text, ColourBlue);
}

void LogFeed::SetTrayTip(const QString &state)
{
    if (m_inner)
        m_inner->SetTrayTip(state);
    m_state = state;
    record(FeedEntry::Kind::State, state, ColourBlue);
}

std::uint64_t LogFeed::firstSeq() const
{
    return m_backlog.empty() ? m_next : m_backlog.front().seq;
}

const FeedEntry *LogFeed::entry(std::uint64_t seq) const
{
    if (seq < firstSeq() || seq > lastSeq())
        return nullptr;
    // Numbers are consecutive, so an entry's place follows from its number.
    return &m_backlog[std::size_t(seq - firstSeq())];
}

LogFeed::Since LogFeed::since(std::uint64_t seq) const
{
    Since result;
    if (seq > lastSeq()) {
        result.gap = true;
        seq = 0;
    } else if (seq + 1 < firstSeq()) {
        result.gap = true;
    }
    for (std::uint64_t n = std::max(seq + 1, firstSeq()); n <= lastSeq(); ++n)
        result.entries.push_back(*entry(n));
    return result;
}

void LogFeed::record(FeedEntry::Kind kind, const QString &text, std::uint32_t colour)
{
    FeedEntry entry{m_next++, kind, text.left(MaxTextChars), colour};
    m_bytes += cost(entry);
    m_backlog.push_back(entry);
    while (m_backlog.size() > 1 &&
           (m_backlog.size() > std::size_t(m_maxEntries) || m_bytes > m_maxBytes)) {
        m_bytes -= cost(m_backlog.front());
        m_backlog.pop_front();
    }
    emit added(entry);
}

qsizetype LogFeed::cost(const FeedEntry &entry)
{
    // The text and what a deque node of the entry holds besides.
    return entry.text.size() * qsizetype(sizeof(QChar)) + qsizetype(sizeof(FeedEntry));
}

} // namespace Tarvo
