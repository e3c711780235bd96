#ifndef KAVELO_JOBS_JOBRUNNER_H
#define KAVELO_JOBS_JOBRUNNER_H

#include "batch/Checkpoints.h"
#include "distribution/MasterPoll.h"
#include "distribution/PollCountdown.h"
#include "import/HostImport.h"
#include "jobs/Outcomes.h"
#include "jobs/RunnerState.h"
#include "masters/MasterDefinition.h"

#include <QFuture>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QThread;

namespace kavelo::jobs {

// Runs the long database work of the program (master polls, single updates, host imports) one job at a time on a
// worker thread, each job with its own connection, so that the event loop never waits for it and never runs inside
// it: a terminal, a status request or a click is served at once, and can change nothing the running job reads.
// Each job hands its result back as a value (a QFuture, and the matching signal on this object's thread); progress
// comes as queued signals. A job that throws is reported as a failure, and the next job runs.
//
// The runner also holds the state around the work: the poll countdown, whether the poll runs, and the host import
// that waits for it or runs (an import and a poll never write at the same time: one job at a time, and while an
// import runs the countdown stands still). The checkpoints of committed work run on the runner's checkpoint worker.
//
// Lives on the event loop's thread; every signal comes on that thread. Destroying it stops it.
class JobRunner : public QObject
{
    Q_OBJECT

  public:
    enum class ImportRequest
    {
        Started,
        Queued,  // a job runs: the import starts when it has ended
        Refused, // another import is waiting or running, or the runner has stopped
    };
    struct ImportTicket
    {
        ImportRequest request;
        QFuture<ImportOutcome> outcome; // canceled when refused, or dropped by a stop before it started
    };

    // Where updates and imports read and write; the runner adds its checkpoint worker and its stop to both.
    JobRunner(distribution::UpdateContext updates, import::ImportContext imports, QObject* parent = nullptr);
    ~JobRunner() override;

    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // One tick of the poll timer: counts the countdown down and starts a poll when it says so (the 30th tick, then
    // every 3600th). A tick during a poll only counts down; while a host import runs the countdown stands still.
    void tick();
    // A poll now (`kavelo poll`): one over terminals 1 to 11 and the six masters. A poll already waiting or running
    // is the one returned.
    QFuture<distribution::PollReport> poll();
    // One update, as the poll applies it, without setting its file aside (`kavelo update`).
    QFuture<UpdateOutcome> update(const masters::MasterDefinition& master, qint64 terminalNo);
    // One host import: started at once, queued behind the running job, or refused while another waits or runs.
    ImportTicket import(const masters::MasterDefinition& master);

    // The program is ending: the running job stops before its next line or row (its transaction rolled back, its
    // files left as they were), waiting jobs are dropped, and this returns once the job and the checkpoints handed
    // over so far are done. No job starts afterwards.
    void stop();

    const RunnerState& state() const { return m_state; }
    // A job runs or waits.
    bool busy() const { return m_running.has_value() || !m_waiting.empty(); }
    const import::ImportContext& importContext() const { return m_imports; }
    // Replaces the update applied by polls and update jobs (tests). It runs on the worker thread.
    void setUpdateFunction(distribution::UpdateFunction update) { m_update = std::move(update); }

  Q_SIGNALS:
    void stateChanged();
    // Bytes of the running import's host file done; sent when the whole percent changes.
    void importProgress(const QString& master, qint64 bytesDone, qint64 bytesTotal);
    void pollFinished(const kavelo::distribution::PollReport& report);
    void updateFinished(const kavelo::jobs::UpdateOutcome& outcome);
    void importFinished(const kavelo::jobs::ImportOutcome& outcome);

  private:
    struct Job
    {
        enum class Kind
        {
            Poll,
            Update,
            Import,
        };
        Kind kind;
        QString master;
        std::function<void()> work; // on the worker thread; fulfils the job's promise
        std::function<void()> done; // back on this thread, once the work has returned
    };

    void submit(Job job);
    void startNext();
    void finishRunning();
    void jobStarted(const Job& job);
    void jobEnded(const Job& job);
    // Runs `apply` on this object's thread, later, while the poll runs.
    void post(std::function<void(RunnerState&)> apply);
    import::ProgressHook importProgressHook(const QString& master);

    distribution::UpdateContext m_updates;
    import::ImportContext m_imports;
    distribution::UpdateFunction m_update;
    distribution::PollCountdown m_countdown;
    RunnerState m_state;
    std::deque<Job> m_waiting;
    std::optional<Job> m_running;
    std::unique_ptr<QThread> m_worker;
    quint64 m_jobNumber = 0;
    QFuture<distribution::PollReport> m_poll; // of the poll waiting or running
    std::stop_source m_stop;
    bool m_stopped = false;
    // Last member: destroyed first, it waits for the checkpoints of the connections handed over.
    batch::CheckpointWorker m_checkpoints;
};

} // namespace kavelo::jobs

#endif
