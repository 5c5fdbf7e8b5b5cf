// A broken invariant aborts with its reason, so libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
        std::abort();
    }
}
