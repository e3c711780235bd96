#ifndef KAVELO_BENCH_USAGE_H
#define KAVELO_BENCH_USAGE_H

// A benchmark runs for minutes: asked for help, it says how it is run instead of running.

#include <cstdio>
#include <cstring>

namespace kavelo::bench {

inline bool printedUsage(int argc, char** argv, const char* usage)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
    }
    return false;
}

} // namespace kavelo::bench

#endif
