#include "distribution/PollCountdown.h"

namespace kavelo::distribution {

PollCountdown::Tick PollCountdown::tick(bool pollRunning)
{
    if (m_value > 1) {
        --m_value;
        return Tick{m_value, false};
    }
    if (pollRunning) {
        // Stays at 1: the first tick after the running poll ends starts the next one.
        return Tick{m_value, false};
    }
    m_value = kBetweenPolls;
    return Tick{m_value, true};
}

} // namespace kavelo::distribution
