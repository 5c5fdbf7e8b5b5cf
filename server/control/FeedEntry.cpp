#include "FeedEntry.h"

#include <algorithm>
#include <array>
#include <utility>

namespace Tarvo {

namespace {

constexpr std::array<std::pair<FeedEntry::Kind, const char *>, 4> KindNames{{
    {FeedEntry::Kind::Pane, "pane"},
    {FeedEntry::Kind::Log, "log"},
    {FeedEntry::Kind::Clear, "clear"},
    {FeedEntry::Kind::State, "state"},
}};

// The largest number a JSON double carries exactly.
constexpr double MaxSeq = 9007199254740992.0;

} // namespace

QJsonObject toJson(const FeedEntry &entry)
{
    QJsonObject object{{QStringLiteral("event"), QStringLiteral("entry")},
                       {QStringLiteral("seq"), double(entry.seq)}};
    for (const auto &[kind, name] : KindNames)
        if (kind == entry.kind)
            object.insert(QStringLiteral("kind"), QLatin1String(name));
    if (entry.kind != FeedEntry::Kind::Clear)
        object.insert(QStringLiteral("text"), entry.text);
    if (entry.kind == FeedEntry::Kind::Pane)
        object.insert(QStringLiteral("colour"), double(entry.colour));
    return object;
}

std::uint64_t seqOf(const QJsonValue &value)
{
    const double seq = value.toDouble(0);
    return seq >= 1 ? std::uint64_t(std::min(seq, MaxSeq)) : 0;
}

bool fromJson(const QJsonObject &object, FeedEntry &entry)
{
    const double seq = object.value(QStringLiteral("seq")).toDouble(-1);
    if (object.value(QStringLiteral("event")).toString() != QLatin1String("entry") || seq < 1 ||
        seq > MaxSeq || seq != double(std::uint64_t(seq)))
        return false;
    const QString kind = object.value(QStringLiteral("kind")).toString();
    bool known = false;
    for (const auto &[k, name] : KindNames)
        if (kind == QLatin1String(name)) {
            entry.kind = k;
            known = true;
        }
    const double colour = object.value(QStringLiteral("colour")).toDouble(double(ColourBlue));
    if (!known || colour < 0 || colour > double(0xFFFFFF))
        return false;
    entry.seq = std::uint64_t(seq);
    entry.text = object.value(QStringLiteral("text")).toString();
    entry.colour = std::uint32_t(colour);
    return true;
}

} // namespace Tarvo
