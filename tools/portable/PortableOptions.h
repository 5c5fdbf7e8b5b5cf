// The command line of tarvo-portable: one table of options feeds both the
// parser and the usage text, so they cannot drift apart.
#pragma once

#include "ModemEmulator.h"
#include "PortableSession.h"

#include <string>
#include <vector>

namespace Tarvo::Portable {

struct Options
{
    std::string device; // an existing serial device instead of a pseudo-terminal
    std::string link;   // symlink to the pseudo-terminal, removed on exit
    std::string json;   // one JSON object per call appended here
    int bitsPerSecond = 9600;
    int calls = 0;       // 0: forever
    double linger = 2.0; // quiet seconds after the last call before exiting
    bool verbose = false;
    bool help = false;
    ModemSettings modem;
    SessionSettings session{".", ".", {}};
};

// False with a message in error when an argument is unknown or a value is
// not a number in its range.
bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error);
std::string usageText();

} // namespace Tarvo::Portable
