#include "jobs/JobRunner.h"

#include "exchange/FolderTree.h"
#include "platform/Log.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QPromise>
#include <QThread>

#include <exception>

namespace kavelo::jobs {

using distribution::PollReport;
using distribution::UpdateSummary;
using platform::Result;
using platform::Status;

namespace {

QString exceptionReason(std::exception_ptr thrown)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

Status unforeseen(std::exception_ptr thrown)
{
    return Status::error(QStringLiteral("failed unexpectedly: %1").arg(exceptionReason(std::move(thrown))));
}

// The work of a job: `body` gives the result, or a failure made from what it threw; either way the promise gets
// one result, so that the job's future and signal always tell how it ended.
template <typename T, typename Body, typename Failed>
std::function<void()> fulfilling(std::shared_ptr<QPromise<T>> promise, Body body, Failed failed)
{
    return [promise, body, failed]() mutable {
        promise->start();
        T result;
        try {
            result = body();
        } catch (...) {
            result = failed(unforeseen(std::current_exception()));
        }
        promise->addResult(std::move(result));
        promise->finish();
    };
}

} // namespace

JobRunner::JobRunner(distribution::UpdateContext updates, import::ImportContext imports, QObject* parent)
    : QObject(parent)
    , m_updates(std::move(updates))
    , m_imports(std::move(imports))
    , m_update(distribution::updateMaster)
{
    m_updates.checkpoints = &m_checkpoints;
    m_updates.stop = m_stop.get_token();
    m_imports.checkpoints = &m_checkpoints;
    m_imports.stop = m_stop.get_token();
}

JobRunner::~JobRunner()
{
    stop();
}

void JobRunner::tick()
{
    if (m_stopped || m_state.importRunning()) {
        return; // the countdown stands still while an import runs
    }
    const distribution::PollCountdown::Tick tick = m_countdown.tick(m_state.pollRunning);
    m_state.countdown = tick.caption;
    if (tick.runPoll) {
        poll();
    }
    Q_EMIT stateChanged();
}

QFuture<PollReport> JobRunner::poll()
{
    if (m_poll.isValid() && !m_poll.isFinished()) {
        return m_poll;
    }
    auto promise = std::make_shared<QPromise<PollReport>>();
    m_poll = promise->future();
    // A throwing update is one failed file; the poll goes on with the next.
    distribution::UpdateFunction update = [apply = m_update](const masters::MasterDefinition& master,
                                                             const distribution::UpdateContext& context,
                                                             qint64 terminalNo) -> Result<UpdateSummary> {
        try {
            return apply(master, context, terminalNo);
        } catch (...) {
            return unforeseen(std::current_exception());
        }
    };
    const distribution::PollStep step = [this](qint64 terminalNo, const QString& master) {
        post([terminalNo, master](RunnerState& state) {
            state.pollTerminal = terminalNo;
            state.pollMaster = master;
        });
    };
    const distribution::UpdateContext context = m_updates;
    Job job{Job::Kind::Poll,
            QString(),
            fulfilling(
                promise,
                [context, update, step] {
                    return distribution::MasterPoll(context, update, platform::FileOps::real(), step);
                },
                [](const Status& failure) {
                    qCCritical(lcJobs).noquote() << QStringLiteral("master poll: %1").arg(failure.message());
                    PollReport report;
                    report.failure = failure;
                    return report;
                }),
            {}};
    const QFuture<PollReport> future = m_poll;
    job.done = [this, future] { Q_EMIT pollFinished(future.result()); };
    submit(std::move(job));
    return future;
}

QFuture<UpdateOutcome> JobRunner::update(const masters::MasterDefinition& master, qint64 terminalNo)
{
    auto promise = std::make_shared<QPromise<UpdateOutcome>>();
    const QFuture<UpdateOutcome> future = promise->future();
    const distribution::UpdateContext context = m_updates;
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    auto outcome = [&master, terminalNo, terminalId](Result<UpdateSummary> result) {
        UpdateOutcome o{master.name, terminalNo, Status::ok(), {}};
        if (result.isOk()) {
            o.summary = *result;
        } else {
            o.status = result.status().about(master.name, terminalId);
        }
        return o;
    };
    const distribution::UpdateFunction update = m_update;
    Job job{Job::Kind::Update,
            master.name,
            fulfilling(
                promise,
                [&master, context, terminalNo, update, outcome] {
                    QElapsedTimer timer;
                    timer.start();
                    UpdateOutcome o = outcome(update(master, context, terminalNo));
                    if (o.ok()) {
                        qCInfo(lcDistribution).noquote() << QStringLiteral("%1, terminal %2: %3 in %4 ms")
                                                                .arg(master.name,
                                                                     exchange::FolderTree::terminalId(terminalNo),
                                                                     distribution::summaryText(o.summary))
                                                                .arg(timer.elapsed());
                    } else {
                        qCWarning(lcDistribution).noquote() << o.status.message();
                    }
                    return o;
                },
                [outcome](const Status& failure) {
                    qCCritical(lcJobs).noquote() << failure.message();
                    return outcome(failure);
                }),
            {}};
    job.done = [this, future] { Q_EMIT updateFinished(future.result()); };
    submit(std::move(job));
    return future;
}

JobRunner::ImportTicket JobRunner::import(const masters::MasterDefinition& master)
{
    auto promise = std::make_shared<QPromise<ImportOutcome>>();
    const QFuture<ImportOutcome> future = promise->future();
    if (m_stopped || !m_state.importMaster.isEmpty()) {
        qCInfo(lcImport).noquote() << master.name << "import refused:"
                                   << (m_stopped ? "the program is ending" : "another import is under way");
        return {ImportRequest::Refused, future}; // the promise goes unfulfilled: the future is canceled
    }
    const QString hostFile = import::hostFilePath(master, m_imports);
    auto outcome = [&master, hostFile](Result<import::ImportSummary> result) {
        ImportOutcome o{master.name, hostFile, Status::ok(), {}};
        if (result.isOk()) {
            o.summary = *result;
        } else {
            o.status = result.status().about(master.name, QString());
        }
        return o;
    };
    const import::ImportContext context = m_imports;
    const import::ProgressHook progress = importProgressHook(master.name);
    Job job{Job::Kind::Import,
            master.name,
            fulfilling(
                promise,
                [&master, context, progress, outcome] {
                    qCInfo(lcImport).noquote() << master.name << "import:" << import::hostFilePath(master, context)
                                               << "into" << context.database.describe();
                    ImportOutcome o = outcome(import::importMaster(master, context, progress));
                    if (o.ok()) {
                        qCInfo(lcImport).noquote() << master.name << "imported:" << import::summaryText(o.summary);
                    } else {
                        qCWarning(lcImport).noquote() << "import failed:" << o.status.message();
                    }
                    return o;
                },
                [outcome](const Status& failure) {
                    qCCritical(lcJobs).noquote() << QStringLiteral("import: %1").arg(failure.message());
                    return outcome(failure);
                }),
            {}};
    job.done = [this, future] { Q_EMIT importFinished(future.result()); };
    const bool waits = busy();
    if (waits) {
        qCInfo(lcImport).noquote() << master.name << "import waits for the master poll to end";
    }
    m_state.importMaster = master.name;
    m_state.importWaiting = waits;
    m_state.importPercent = -1;
    submit(std::move(job));
    Q_EMIT stateChanged();
    return {waits ? ImportRequest::Queued : ImportRequest::Started, future};
}

import::ProgressHook JobRunner::importProgressHook(const QString& master){
    // On the worker: a queued report each time the whole percent changes.
    return [ this, master, lastPercent = -1 ](qint64 done, qint64 total) mutable {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
if (percent == lastPercent) {
    return;
}
lastPercent = percent;
QMetaObject::invokeMethod(
    this,
    [this, master, percent, done, total] {
        if (m_state.importMaster == master) {
            m_state.importPercent = percent;
        }
        Q_EMIT importProgress(master, done, total);
        Q_EMIT stateChanged();
    },
    Qt::QueuedConnection);
}; // namespace kavelo::jobs
}

void JobRunner::stop()
{
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_stop.request_stop();
    for (const Job& job : m_waiting) {
        qCInfo(lcJobs).noquote() << (job.kind == Job::Kind::Import ? job.master + QStringLiteral(" import")
                                                                   : QStringLiteral("a waiting job"))
                                 << "not started: the program is ending";
    }
    m_waiting.clear(); // their promises go unfulfilled: the futures are canceled
    if (m_state.importWaiting) {
        m_state.importMaster.clear();
        m_state.importWaiting = false;
    }
    if (m_worker) {
        qCInfo(lcJobs) << "the program is ending: waiting for the running job to stop";
        finishRunning();
    }
    m_checkpoints.waitForAll();
    Q_EMIT stateChanged();
}

void JobRunner::submit(Job job)
{
    if (m_stopped) {
        return; // the job's promise goes unfulfilled: its future is canceled
    }
    m_waiting.push_back(std::move(job));
    startNext();
}

void JobRunner::startNext()
{
    if (m_running || m_waiting.empty() || m_stopped) {
        return;
    }
    m_running = std::move(m_waiting.front());
    m_waiting.pop_front();
    jobStarted(*m_running);
    const quint64 number = ++m_jobNumber;
    m_worker.reset(QThread::create(m_running->work));
    connect(m_worker.get(), &QThread::finished, this, [this, number] {
        if (number == m_jobNumber && m_worker) {
            finishRunning();
        }
    });
    m_worker->start();
    Q_EMIT stateChanged();
}

void JobRunner::finishRunning()
{
    m_worker->wait();
    m_worker.reset();
    const Job job = std::move(*m_running);
    m_running.reset();
    jobEnded(job);
    job.done();
    Q_EMIT stateChanged();
    startNext();
}

void JobRunner::jobStarted(const Job& job)
{
    switch (job.kind) {
    case Job::Kind::Poll:
        m_state.pollRunning = true;
        break;
    case Job::Kind::Update:
        m_state.updateRunning = true;
        break;
    case Job::Kind::Import:
        m_state.importMaster = job.master;
        m_state.importWaiting = false;
        m_state.importPercent = -1;
        qCInfo(lcJobs).noquote() << "the poll countdown stands still while the host import runs";
        break;
    }
}

void JobRunner::jobEnded(const Job& job)
{
    switch (job.kind) {
    case Job::Kind::Poll:
        m_state.pollRunning = false;
        m_state.pollTerminal = 0;
        m_state.pollMaster.clear();
        break;
    case Job::Kind::Update:
        m_state.updateRunning = false;
        break;
    case Job::Kind::Import:
        m_state.importMaster.clear();
        m_state.importPercent = -1;
        break;
    }
}

void JobRunner::post(std::function<void(RunnerState&)> apply)
{
    // Events still queued when the runner goes are dropped with it.
    QMetaObject::invokeMethod(
        this,
        [this, apply] {
            if (m_state.pollRunning) {
                apply(m_state);
                Q_EMIT stateChanged();
            }
        },
        Qt::QueuedConnection);
}

} // namespace kavelo::jobs
