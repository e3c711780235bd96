#include "import/HostImport.h"

#include "import/ImportBatch.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <memory>

namespace kavelo::import {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using platform::Status;

namespace {

// A host file in the flow: every record replaces or deletes the rows of its key.
class ImportWork final : public batch::FileWork
{
  public:
    ImportWork(const MasterDefinition& master, const ImportContext& context, const ProgressHook& progress)
        : m_master(master)
        , m_hostPath(hostFilePath(master, context))
        , m_stop(context.stop)
        , m_progress(progress)
    {
    }

    QString kind() const override { return QStringLiteral("host file"); }

    Status prepare(Database& database, const platform::ShiftJisLineReader& reader) override
    {
        Result<bool> hasTable = database.hasTable(m_master.name);
        if (!hasTable.isOk()) {
            return hasTable.status();
        }
        if (!*hasTable) {
            return Status::fileError(
                database.path(),
                QStringLiteral("the table %1 does not exist (run \"kavelo init\")").arg(m_master.name));
        }
        Result<std::unique_ptr<ImportBatch>> import =
            ImportBatch::prepare(database, m_master, reader, m_progress, m_stop);
        if (!import.isOk()) {
            return import.status();
        }
        m_import = std::move(*import);
        return Status::ok();
    }

    batch::BatchUser& user() override { return *m_import; }

    Status commit(platform::Transaction& transaction) override
    {
        return transaction.commit().prefixed(m_hostPath + QStringLiteral(": the import could not be committed: "));
    }

    void finish() override
    {
        if (m_import) {
            m_summary = m_import->summary();
        }
        m_import.reset();
    }

    const ImportSummary& summary() const { return m_summary; }

  private:
    const MasterDefinition& m_master;
    const QString m_hostPath;
    const std::stop_token m_stop;
    const ProgressHook& m_progress;
    std::unique_ptr<ImportBatch> m_import;
    ImportSummary m_summary;
};

} // namespace

QString summaryText(const ImportSummary& summary)
{
    return QStringLiteral("%1 records read, %2 replaced, %3 deleted, %4 skipped")
        .arg(summary.recordsRead)
        .arg(summary.replaced)
        .arg(summary.deleted)
        .arg(summary.skipped);
}

QString hostFilePath(const MasterDefinition& master, const ImportContext& context)
{
    return context.importDir + master.hostFileName();
}

Result<ImportSummary> importMaster(const MasterDefinition& master, const ImportContext& context,
                                   const ProgressHook& progress)
{
    ImportWork work(master, context, progress);
    batch::FlowContext flow;
    flow.dbPath = context.dbPath;
    flow.dbSetting = QStringLiteral("ImportDB");
    flow.batchBytes = context.batchBytes;
    flow.checkpoints = context.checkpoints;
    flow.stop = context.stop;
    flow.progress = progress;
    // A returned import is safe from a power cut, as it always was: synced by its own checkpoint, or, with the
    // checkpoint left to a worker, by its commit.
    flow.durableCommit = true;
    flow.category = lcImport;
    Status applied = batch::applyFile(hostFilePath(master, context), flow, work);
    if (!applied.isOk()) {
        return applied.about(master.name, QString());
    }
    return work.summary();
}

} // namespace kavelo::import
