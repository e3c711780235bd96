#ifndef KAVELO_DISTRIBUTION_POLLCOUNTDOWN_H
#define KAVELO_DISTRIBUTION_POLLCOUNTDOWN_H

namespace kavelo::distribution {

// The countdown of the master poll, free of any timer or widget: the job runner ticks it at each tick of the poll
// timer (every 3000 ms), and the window shows `caption` in LCount. The first poll comes on the 30th tick after
// start-up, then every 3600th tick.
class PollCountdown
{
  public:
    static constexpr int kAtStartUp = 30;
    static constexpr int kBetweenPolls = 3600;

    struct Tick
    {
        int caption = 0;      // the new value, for the caption of LCount
        bool runPoll = false; // run MasterPoll now
    };

    // Above 1 a tick lowers the countdown by one. At 1 it sets 3600 and asks for a poll, unless a poll is still
    // running: a tick during a poll only counts down (it stays at 1 then), so polls never overlap.
    Tick tick(bool pollRunning);

    int value() const { return m_value; }

  private:
    int m_value = kAtStartUp;
};

} // namespace kavelo::distribution

#endif
