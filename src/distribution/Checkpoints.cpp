#include "distribution/Checkpoints.h"

#include "platform/Log.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kavelo::distribution {

namespace {

class CheckpointWorker
{
public:
    ~CheckpointWorker()
    {
        // At the end of the process: what is still queued is checkpointed (quietly: logging may be gone by now).
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_wake.notify_all();
        lock.unlock();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    void add(std::unique_ptr<platform::Database> connection)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(connection));
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { work(); });
        }
        m_wake.notify_all();
    }

    void waitForAll()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    }

private:
    void work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty()) {
                return; // stopping, nothing left
            }
            std::unique_ptr<platform::Database> connection = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
            const bool quiet = m_stopping;
            lock.unlock();
            // PASSIVE: never waits for readers or writers; what it cannot copy now a later checkpoint copies.
            platform::Status done = connection->exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
            if (!done.isOk() && !quiet) {
                qCWarning(lcDistribution).noquote() << QStringLiteral("checkpoint: %1").arg(done.message());
            }
            connection.reset(); // closing the last connection also removes the log
            lock.lock();
            m_busy = false;
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::unique_ptr<platform::Database>> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};

CheckpointWorker& worker()
{
    static CheckpointWorker instance;
    return instance;
}

} // namespace

void checkpointInBackground(std::unique_ptr<platform::Database> connection)
{
    if (connection) {
        worker().add(std::move(connection));
    }
}

void waitForCheckpoints()
{
    worker().waitForAll();
}

} // namespace kavelo::distribution
