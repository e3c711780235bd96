#include "distribution/PollCountdown.h"

#include <gtest/gtest.h>

using kavelo::distribution::PollCountdown;

namespace {

TEST(PollCountdown, ThirtiethTickAfterStartUpPollsThenEvery3600th)
{
    PollCountdown countdown;
    for (int expected = 29; expected >= 1; --expected) {
        PollCountdown::Tick tick = countdown.tick(false);
        ASSERT_EQ(tick.caption, expected);
        ASSERT_FALSE(tick.runPoll);
    }
    PollCountdown::Tick thirtieth = countdown.tick(false);
    EXPECT_EQ(thirtieth.caption, 3600);
    EXPECT_TRUE(thirtieth.runPoll);

    int polls = 0;
    int ticks = 0;
    while (polls == 0) {
        PollCountdown::Tick tick = countdown.tick(false);
        ++ticks;
        if (tick.runPoll) {
            ++polls;
            EXPECT_EQ(tick.caption, 3600);
        }
    }
    EXPECT_EQ(ticks, 3600);
}

TEST(PollCountdown, TickDuringRunningPollOnlyCountsDown)
{
    PollCountdown countdown;
    for (int i = 0; i < 30; ++i) {
        (void)countdown.tick(false);
    }
    // The poll started by the 30th tick is still running.
    PollCountdown::Tick during = countdown.tick(true);
    EXPECT_EQ(during.caption, 3599);
    EXPECT_FALSE(during.runPoll);

    // A poll that outlasts the whole interval: the countdown waits at 1 and never starts a second poll.
    for (int i = 0; i < 4000; ++i) {
        ASSERT_FALSE(countdown.tick(true).runPoll);
    }
    EXPECT_EQ(countdown.value(), 1);
    PollCountdown::Tick after = countdown.tick(false);
    EXPECT_TRUE(after.runPoll);
    EXPECT_EQ(after.caption, 3600);
}

} // namespace
