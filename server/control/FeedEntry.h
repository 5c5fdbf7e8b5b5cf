// One numbered entry of the log feed, and its form on the control channel:
// {"event":"entry","seq":N,"kind":"pane"|"log"|"clear"|"state",
//  "text":"...","colour":0x00BBGGRR}, "colour" for pane texts only.
#pragma once

#include "Reporter.h"

#include <QJsonObject>
#include <QString>
#include <cstdint>

namespace Tarvo {

struct FeedEntry
{
    enum class Kind { Pane, Log, Clear, State };
    std::uint64_t seq = 0;
    Kind kind = Kind::Pane;
    QString text;                      // empty for Clear; the state for State
    std::uint32_t colour = ColourBlue; // Pane only
};

QJsonObject toJson(const FeedEntry &entry);
// A sequence number sent as a JSON number: 0 for anything below 1 or not a
// number, and at most 2^53 (what a double carries exactly).
std::uint64_t seqOf(const QJsonValue &value);
// False when the object is no entry this version knows.
bool fromJson(const QJsonObject &object, FeedEntry &entry);

} // namespace Tarvo
