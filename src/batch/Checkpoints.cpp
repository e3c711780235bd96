#include "batch/Checkpoints.h"

#include "platform/Log.h"

namespace kavelo::batch {

void checkpointAndClose(std::unique_ptr<platform::Database> connection)
{
    platform::Status done = connection->exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    if (!done.isOk()) {
        qCWarning(lcBatch).noquote() << QStringLiteral("checkpoint: %1").arg(done.message());
    }
    connection.reset(); // closing the last connection also removes the log
}

CheckpointWorker::~CheckpointWorker()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
    lock.unlock();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CheckpointWorker::add(std::unique_ptr<platform::Database> connection)
{
    if (!connection) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(std::move(connection));
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { work(); });
    }
    m_wake.notify_all();
}

void CheckpointWorker::waitForAll()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void CheckpointWorker::work()
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
        lock.unlock();
        checkpointAndClose(std::move(connection));
        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}

} // namespace kavelo::batch
