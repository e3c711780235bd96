#include "import/ImportRunner.h"

#include "platform/Log.h"

#include <QMetaObject>
#include <QThread>

namespace kavelo::import {

namespace {

constexpr int kPollRetryMs = 200;

} // namespace

ImportRunner::ImportRunner(QObject* parent)
    : QObject(parent)
{
    m_retry.setSingleShot(true);
    m_retry.setInterval(kPollRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &ImportRunner::tryStart);
}

ImportRunner::~ImportRunner()
{
    if (m_worker != nullptr) {
        // One transaction that cannot be cut short: let it commit or roll back before the process goes on.
        qCInfo(lcImport).noquote() << currentMaster() << "import still running: waiting for it to end";
        m_worker->wait();
        delete m_worker;
    }
}

void ImportRunner::setPollRunning(std::function<bool()> pollRunning)
{
    m_pollRunning = std::move(pollRunning);
}

QString ImportRunner::currentMaster() const
{
    return m_request ? m_request->master->name : QString();
}

bool ImportRunner::start(const masters::MasterDefinition& master, const ImportContext& context)
{
    if (m_request) {
        return false;
    }
    m_request = Request{&master, context};
    if (m_pollRunning && m_pollRunning()) {
        qCInfo(lcImport).noquote() << master.name << "import waits for the master poll to end";
        Q_EMIT waitingForPoll(master.name);
        m_retry.start();
        return true;
    }
    tryStart();
    return true;
}

void ImportRunner::tryStart()
{
    if (!m_request || m_worker != nullptr) {
        return;
    }
    if (m_pollRunning && m_pollRunning()) {
        m_retry.start();
        return;
    }
    const masters::MasterDefinition& master = *m_request->master;
    const ImportContext context = m_request->context;
    qCInfo(lcImport).noquote() << master.name << "import starts:" << context.importDir + master.hostFileName()
                               << "into" << context.dbPath;

    m_result.reset();
    const QString name = master.name;
    // `this` outlives the worker: the destructor waits for it. Progress reaches the window thread queued; events
    // still queued when the runner goes are dropped with it.
    m_worker = QThread::create([this, &master, context, name] {
        int lastPercent = -1;
        const ProgressHook hook = [this, name, &lastPercent](qint64 done, qint64 total) {
            const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
            if (percent == lastPercent) {
                return;
            }
            lastPercent = percent;
            QMetaObject::invokeMethod(
                this, [this, name, done, total] { Q_EMIT progress(name, done, total); }, Qt::QueuedConnection);
        };
        m_result = std::make_unique<platform::Result<ImportSummary>>(importMaster(master, context, hook));
    });
    connect(m_worker, &QThread::finished, this, &ImportRunner::onWorkerFinished);
    Q_EMIT started(name);
    m_worker->start();
}

void ImportRunner::onWorkerFinished()
{
    if (m_worker == nullptr) {
        return;
    }
    m_worker->wait();
    m_worker->deleteLater();
    m_worker = nullptr;

    ImportOutcome outcome;
    outcome.master = m_request->master->name;
    outcome.hostFile = m_request->context.importDir + m_request->master->hostFileName();
    if (m_result && m_result->isOk()) {
        outcome.ok = true;
        outcome.summary = m_result->value();
        qCInfo(lcImport).noquote() << outcome.master << "import done:" << outcome.summary.recordsRead << "records,"
                                   << outcome.summary.replaced << "replaced," << outcome.summary.deleted
                                   << "deleted," << outcome.summary.skipped << "skipped";
    } else {
        outcome.error = m_result ? m_result->status().message() : outcome.hostFile + QStringLiteral(": no result");
        qCWarning(lcImport).noquote() << outcome.master << "import failed:" << outcome.error;
    }
    m_result.reset();
    m_request.reset();
    Q_EMIT finished(outcome);
}

} // namespace kavelo::import
