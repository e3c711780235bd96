// The load scenario, bounded: 11 terminals at once, a few rounds each, polls applying product updates meanwhile.
// The full run (200 rounds) is bench/bench_load.
#include "LoadScenario.h"

#include <gtest/gtest.h>

TEST(Load, ElevenTerminalsAtOnceWhilePollsRun)
{
    kavelo::reliability::load::Options options;
    options.rounds = 3;
    const kavelo::reliability::load::Report report = kavelo::reliability::load::run(options);
    for (const QString& problem : report.problems) {
        ADD_FAILURE() << problem.toStdString();
    }
    EXPECT_EQ(report.sessions, 11 * 3);
    EXPECT_EQ(report.uploads, 11 * 3 * 3);
    EXPECT_EQ(report.gets, 11 * 3);
    EXPECT_GT(report.polls, 0);
    EXPECT_GT(report.pollUpdates, 0);
    EXPECT_EQ(report.pollFailures, 0);
    std::printf("load: %d sessions in %lld ms, %d polls (%d updates, %d failed), peak RSS %lld KiB\n",
                report.sessions,
                static_cast<long long>(report.elapsedMs),
                report.polls,
                report.pollUpdates,
                report.pollFailures,
                static_cast<long long>(report.peakRssKb));
}
