// Everything the server reports, numbered, for the clients of the control
// channel: pane texts with their colour, log-only texts, the pane's clears
// and the tray state, in the order they came.
//
// LogFeed is the server's Reporter, or sits in front of it: each call is
// passed on to the inner reporter (the log file, the window) unchanged, and
// recorded as an entry with the next sequence number (the first is 1). The
// newest entries stay in a backlog bounded by count and by bytes, so a watch
// that starts late sees the recent past; a watcher that lost its connection
// asks for what came after the last number it saw and gets exactly that, or
// is told that part of it has left the backlog. Everything runs in the one
// thread of the server: an entry is in the backlog before added() is
// emitted, so a snapshot followed by a subscription misses nothing.
#pragma once

#include "FeedEntry.h"
#include "Reporter.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>
#include <vector>

namespace Tarvo {

class LogFeed : public QObject, public Reporter
{
    Q_OBJECT
public:
    static constexpr int DefaultMaxEntries = 4000;
    static constexpr qsizetype DefaultMaxBytes = 1024 * 1024;
    // Longer texts are cut in the feed (the inner reporter gets them whole).
    static constexpr qsizetype MaxTextChars = 64 * 1024;

    explicit LogFeed(Reporter *inner = nullptr, QObject *parent = nullptr);
    void setLimits(int maxEntries, qsizetype maxBytes);

    void AppendStatus(const QString &text, std::uint32_t colour = ColourBlue) override;
    void clearStatus() override;
    void WriteLog(const QString &text) override;
    void SetTrayTip(const QString &state) override;

    // The number of the newest entry; 0 before the first.
    std::uint64_t lastSeq() const { return m_next - 1; }
    // The oldest number still kept; lastSeq() + 1 when the backlog is empty.
    std::uint64_t firstSeq() const;
    // The tray state as last set ("" before the first).
    QString state() const { return m_state; }

    // The entry numbered seq while it is in the backlog, else null.
    const FeedEntry *entry(std::uint64_t seq) const;

    struct Since
    {
        std::vector<FeedEntry> entries;
        bool gap = false; // some of what came after the asked number is gone
    };
    // What came after seq. A number beyond lastSeq() belongs to an earlier
    // run of the server: the whole backlog, with a gap.
    Since since(std::uint64_t seq) const;

signals:
    void added(const Tarvo::FeedEntry &entry);

private:
    void record(FeedEntry::Kind kind, const QString &text, std::uint32_t colour);
    static qsizetype cost(const FeedEntry &entry);

    Reporter *m_inner;
    std::deque<FeedEntry> m_backlog;
    std::uint64_t m_next = 1;
    qsizetype m_bytes = 0;
    int m_maxEntries = DefaultMaxEntries;
    qsizetype m_maxBytes = DefaultMaxBytes;
    QString m_state;
};

} // namespace Tarvo
