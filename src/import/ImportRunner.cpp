#include "import/ImportRunner.h"

#include "platform/Log.h"

#include <QMetaObject>
#include <QThread>

namespace kavelo::import {

ImportRunner::ImportRunner(QObject* parent)
    : QObject(parent)
{
}

ImportRunner::~ImportRunner()
{
    if (m_worker != nullptr) {
        // One transaction that cannot be cut short: let it commit or roll back before the process goes on.
        qCInfo(lcImport).noquote() << m_master->name << "import still running: waiting for it to end";
        m_worker->wait();
        delete m_worker;
    }
}

bool ImportRunner::start(const masters::MasterDefinition& master, const ImportContext& context)
{
    if (m_worker != nullptr) {
        return false;
    }
    m_master = &master;
    m_context = context;
    m_result.reset();
    const QString name = master.name;
    // `this` outlives the worker: the destructor waits for it. Progress reaches the event loop's thread queued;
    // events still queued when the runner goes are dropped with it.
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
    return true;
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
    outcome.master = m_master->name;
    outcome.hostFile = hostFilePath(*m_master, m_context);
    if (m_result && m_result->isOk()) {
        outcome.ok = true;
        outcome.summary = m_result->value();
    } else {
        outcome.error = m_result ? m_result->status().message() : outcome.hostFile + QStringLiteral(": no result");
    }
    m_result.reset();
    Q_EMIT finished(outcome);
}

} // namespace kavelo::import
