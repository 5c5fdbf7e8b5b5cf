// The control channel's reading of a peer's bytes, under arbitrary input cut
// into lines: no line longer than the limit is ever taken, and whatever the
// parser accepts is an object within every limit (checked here by a walk of
// its own); the readers of entries and answers take any accepted object.
#include "ControlClient.h"
#include "ControlProtocol.h"
#include "FuzzRequire.h"

#include <QJsonArray>

using namespace Tarvo;
using namespace Tarvo::Control;

namespace {

struct Count
{
    int deepest = 0;
    int fields = 0;
    qsizetype longest = 0;

    void value(const QJsonValue &v, int depth)
    {
        if (v.isString())
            longest = std::max(longest, v.toString().size());
        if (v.isObject())
            object(v.toObject(), depth + 1);
        if (v.isArray()) {
            deepest = std::max(deepest, depth + 1);
            fields += int(v.toArray().size());
            for (const QJsonValue &item : v.toArray())
                value(item, depth + 1);
        }
    }
    void object(const QJsonObject &o, int depth)
    {
        deepest = std::max(deepest, depth);
        fields += int(o.size());
        for (auto it = o.begin(); it != o.end(); ++it) {
            longest = std::max(longest, it.key().size());
            value(it.value(), depth);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the limits: the real ones, or small ones that
    // the fuzzer reaches easily.
    const Limits limits = (data[0] & 1) ? RequestLimits : Limits{200, 2 + (data[0] >> 6), 12, 24};
    QByteArray buffer(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QByteArray line;
    Take take;
    while ((take = takeLine(buffer, line, limits.maxLine)) == Take::Line) {
        require(line.size() <= limits.maxLine + 1, "a line over the limit was taken");
        const Parsed parsed = parseLine(line, limits);
        require(parsed.ok == parsed.error.isEmpty(),
                "an error without a reason, or a reason on success");
        if (!parsed.ok)
            continue;
        Count count;
        count.object(parsed.object, 1);
        require(count.deepest <= limits.maxDepth, "accepted too deep");
        require(count.fields <= limits.maxFields, "accepted too many fields");
        require(count.longest <= limits.maxField, "accepted a field too long");
        FeedEntry entry;
        if (fromJson(parsed.object, entry))
            require(entry.seq >= 1 && entry.colour <= 0xFFFFFF, "an entry out of range");
        std::uint64_t lastSeq = 0;
        ControlClient::statusOf(parsed.object, &lastSeq);
        ControlClient::settingsOf(parsed.object);
        ControlClient::resultOf(parsed.object);
    }
    require(take == Take::Overlong || buffer.size() <= limits.maxLine + 1,
            "more than a line held without a line end");
    return 0;
}
