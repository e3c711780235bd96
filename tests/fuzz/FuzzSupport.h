#ifndef KAVELO_TESTS_FUZZ_FUZZSUPPORT_H
#define KAVELO_TESTS_FUZZ_FUZZSUPPORT_H

#include <QString>

#include <cstdio>
#include <cstdlib>

// A broken invariant in a fuzz target: print why and abort, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond, why)                                                                                          \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr,                                                                                       \
                         "fuzz invariant broken: %s (%s:%d): %s\n",                                                    \
                         #cond,                                                                                        \
                         __FILE__,                                                                                     \
                         __LINE__,                                                                                     \
                         QString(why).toLocal8Bit().constData());                                                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

#endif
