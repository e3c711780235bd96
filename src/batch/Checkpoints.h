#ifndef KAVELO_BATCH_CHECKPOINTS_H
#define KAVELO_BATCH_CHECKPOINTS_H

#include "platform/Database.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace kavelo::batch {

// A master file's rows are committed to the database's write-ahead log; copying them into the database file (the
// checkpoint) is left to this worker thread, one connection after the other, so that an update or an import returns
// as soon as its rows are committed. Until then readers find the rows in the log; a process that ends first leaves
// the log, which the next connection takes up, so nothing is lost either way.
//
// Owned by whoever runs the work (the job runner) and handed to the flow through FlowContext. Destroying it waits
// for the connections handed over so far.
class CheckpointWorker
{
  public:
    CheckpointWorker() = default;
    ~CheckpointWorker();

    CheckpointWorker(const CheckpointWorker&) = delete;
    CheckpointWorker& operator=(const CheckpointWorker&) = delete;

    // Takes the connection of a finished update: the worker checkpoints and then closes it.
    void add(std::unique_ptr<platform::Database> connection);

    // Returns when every connection handed over so far has been checkpointed and closed.
    void waitForAll();

  private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::unique_ptr<platform::Database>> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;
};

// Checkpoints a connection whose transaction has ended, then closes it: what the worker does with each, and what a
// flow without a worker does itself. PASSIVE: never waits for readers or writers; what it cannot copy now a later
// checkpoint copies. A failure is logged; the committed rows stay in the log for that later checkpoint.
void checkpointAndClose(std::unique_ptr<platform::Database> connection);

} // namespace kavelo::batch

#endif
