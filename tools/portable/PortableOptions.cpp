#include "PortableOptions.h"

#include <charconv>
#include <functional>
#include <limits>

namespace Tarvo::Portable {

namespace {

struct OptionEntry
{
    const char *name;
    const char *value; // nullptr for a flag
    const char *help;
    std::function<bool(Options &, const std::string &)> apply;
};

template <typename T> bool number(const std::string &text, T low, T high, T &out)
{
    T value{};
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool seconds(const std::string &text, Seconds &out)
{
    double value = 0;
    if (!number(text, 0.0, 1e6, value))
        return false;
    out = Seconds(value);
    return true;
}

constexpr int Big = std::numeric_limits<int>::max();

const std::vector<OptionEntry> &entries()
{
    static const std::vector<OptionEntry> table = {
        {"device", "PATH", "use this serial device instead of a new pseudo-terminal",
         [](Options &o, const std::string &v) {
             o.device = v;
             return !v.empty();
         }},
        {"link", "PATH", "make a symlink to the pseudo-terminal here (removed on exit)",
         [](Options &o, const std::string &v) {
             o.link = v;
             return !v.empty();
         }},
        {"download-dir", "DIR", "store the files the host sends here (default .)",
         [](Options &o, const std::string &v) {
             o.session.downloadDir = v;
             return !v.empty();
         }},
        {"upload-dir", "DIR", "serve the files the host requests from here (default .)",
         [](Options &o, const std::string &v) {
             o.session.uploadDir = v;
             return !v.empty();
         }},
        {"bps", "N", "line speed in bit/s, 10 bits a byte (default 9600; 0 = unpaced)",
         [](Options &o, const std::string &v) { return number(v, 0, 10000000, o.bitsPerSecond); }},
        {"first-call-delay", "S", "seconds from arming auto-answer to the first ring (default 2)",
         [](Options &o, const std::string &v) { return seconds(v, o.modem.firstCallDelay); }},
        {"interval", "S", "seconds from a call's NO CARRIER to the next ring (default 15)",
         [](Options &o, const std::string &v) { return seconds(v, o.modem.interval); }},
        {"greeting-delay", "S",
         "seconds from CONNECT to the portable's \"Portable ready\" (default 0.2)",
         [](Options &o, const std::string &v) { return seconds(v, o.modem.connectToGreeting); }},
        {"calls", "N", "exit after this many calls (default 0 = never)",
         [](Options &o, const std::string &v) { return number(v, 0, Big, o.calls); }},
        {"linger", "S",
         "after the last call, answer the modem dialogue until the host "
         "has been quiet this long (default 2)",
         [](Options &o, const std::string &v) { return number(v, 0.0, 1e6, o.linger); }},
        {"idle-timeout", "S", "hang up when the host sends nothing for this long (default 60)",
         [](Options &o, const std::string &v) { return seconds(v, o.modem.idleTimeout); }},
        {"no-ok", nullptr, "never answer OK (ERROR is still reported)",
         [](Options &o, const std::string &) {
             o.modem.neverOk = true;
             return true;
         }},
        {"nak-every", "K", "answer NAK to every K-th good host frame",
         [](Options &o, const std::string &v) {
             return number(v, 1, Big, o.session.faults.nakEvery);
         }},
        {"nak-random", "PCT", "answer NAK to good host frames with this chance in percent",
         [](Options &o, const std::string &v) {
             return number(v, 0, 100, o.session.faults.nakPercent);
         }},
        {"seed", "S", "seed for --nak-random (default 1)",
         [](Options &o, const std::string &v) {
             return number(v, 0u, std::numeric_limits<unsigned>::max(), o.session.faults.seed);
         }},
        {"corrupt-every", "K", "send every K-th own frame with a wrong checksum",
         [](Options &o, const std::string &v) {
             return number(v, 1, Big, o.session.faults.corruptEvery);
         }},
        {"silent-after", "K", "stop answering after K host frames of a call",
         [](Options &o, const std::string &v) {
             return number(v, 0, Big, o.session.faults.silentAfter);
         }},
        {"hangup-after-bytes", "B", "hang up (NO CARRIER) once B bytes of a file have moved",
         [](Options &o, const std::string &v) {
             return number(v, std::int64_t(0), std::numeric_limits<std::int64_t>::max(),
                           o.session.faults.hangupAfterBytes);
         }},
        {"eot", nullptr, "answer EOT (no such file) to every upload request",
         [](Options &o, const std::string &) {
             o.session.faults.eot = true;
             return true;
         }},
        {"json", "PATH", "append one JSON object per call to this file",
         [](Options &o, const std::string &v) {
             o.json = v;
             return !v.empty();
         }},
        {"verbose", nullptr, "log modem and protocol events on standard error",
         [](Options &o, const std::string &) {
             o.verbose = true;
             return true;
         }},
        {"help", nullptr, "show this text",
         [](Options &o, const std::string &) {
             o.help = true;
             return true;
         }},
    };
    return table;
}

const OptionEntry *find(const std::string &name)
{
    for (const OptionEntry &entry : entries()) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

} // namespace

bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-h")
            arg = "--help";
        else if (arg == "-v")
            arg = "--verbose";
        if (arg.rfind("--", 0) != 0) {
            error = "unexpected argument: " + arg;
            return false;
        }
        std::string name = arg.substr(2);
        std::string value;
        bool inlineValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            inlineValue = true;
        }
        const OptionEntry *entry = find(name);
        if (!entry) {
            error = "unknown option: --" + name;
            return false;
        }
        if (entry->value && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = "--" + name + " needs a value";
                return false;
            }
            value = args[++i];
        } else if (!entry->value && inlineValue) {
            error = "--" + name + " takes no value";
            return false;
        }
        if (!entry->apply(options, value)) {
            error = "bad value for --" + name + ": " + value;
            return false;
        }
    }
    if (!options.device.empty() && !options.link.empty()) {
        error = "--link makes no sense with --device";
        return false;
    }
    return true;
}

std::string usageText()
{
    std::string text =
        "Usage: tarvo-portable [options]\n"
        "A Hayes modem with a portable data terminal behind it, on a pseudo-terminal\n"
        "(its path is the first line of output: \"PTY /dev/pts/N\") or a serial device.\n"
        "One line per finished call: CALL n files=F payload=B seconds=S rate=R outcome=O\n\n"
        "Options:\n";
    for (const OptionEntry &entry : entries()) {
        std::string left = std::string("  --") + entry.name;
        if (entry.value)
            left += std::string(" ") + entry.value;
        if (left.size() < 26)
            left.resize(26, ' ');
        else
            left += "\n" + std::string(26, ' ');
        text += left + entry.help + "\n";
    }
    return text;
}

} // namespace Tarvo::Portable
