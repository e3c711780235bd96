#ifndef KAVELO_TESTS_SUPPORT_GATE_H
#define KAVELO_TESTS_SUPPORT_GATE_H

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace kavelo::test {

// Holds a fake job on the runner's worker thread until the test opens the gate, or the runner is told to stop (so
// that a failing test never leaves the worker waiting forever). Counts the jobs that came to it.
class Gate
{
  public:
    // On the worker: true when opened, false when stopped.
    bool pass(const std::stop_token& stop)
    {
        ++m_arrived;
        std::unique_lock<std::mutex> lock(m_mutex);
        std::stop_callback wake(stop, [this] {
            std::lock_guard<std::mutex> woken(m_mutex);
            m_changed.notify_all();
        });
        m_changed.wait(lock, [&] { return m_open || stop.stop_requested(); });
        return m_open;
    }

    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

    int arrived() const { return m_arrived; }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    std::atomic<int> m_arrived{0};
};

} // namespace kavelo::test

#endif
