#include "distribution/MasterUpdate.h"

#include "batch/FileFlow.h"
#include "distribution/MasterExport.h"
#include "distribution/UpdateBatch.h"
#include "distribution/UpdateStatements.h"
#include "masters/Masters.h"
#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <future>
#include <memory>

namespace kavelo::distribution {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using platform::Status;

namespace {

// Commits the rows, then puts the export in place. Order of the two: the database first, then the export's rename.
// A refused commit (the likelier failure: a full disk, a lock) then leaves both the rows and the export as they
// were. If the rename fails, or the process dies between the two, the database holds the new rows and the folder
// the previous, complete export; the update file is still in place (the caller sets it aside only after success),
// so the next run applies the same lines again, which sets every row to the same values, and writes the matching
// export. The other order could leave an export whose rows the database refused to store.
Status commitBoth(platform::Transaction& transaction, platform::ShiftJisLineWriter& exportFile)
{
    // The export's data goes to disk while the database commits: both are waits on the disk.
    std::future<Status> exportSynced = std::async(std::launch::async, [&exportFile] { return exportFile.sync(); });
    Status committed = transaction.commit();
    Status synced = exportSynced.get();
    if (!committed.isOk()) {
        return committed;
    }
    Status renamed = synced.isOk() ? exportFile.commit() : synced;
    if (!renamed.isOk()) {
        return renamed.prefixed(QStringLiteral("the rows are stored, but the export could not be replaced: "));
    }
    return Status::ok();
}

// An update file in the flow: the terminal's rows added or replaced, then the export written beside the file and
// put in place with the commit.
class UpdateWork final : public batch::FileWork
{
  public:
    UpdateWork(const MasterDefinition& master, const UpdateContext& context, const QString& terminalId)
        : m_master(master)
        , m_terminalId(terminalId)
        , m_updatePath(context.tree.receiveFile(terminalId, master.updateFileName()))
        , m_exportPath(context.tree.receiveFile(terminalId, master.exportFileName()))
        , m_stop(context.stop)
    {
    }

    const QString& updatePath() const { return m_updatePath; }

    QString kind() const override { return QStringLiteral("update file"); }

    Status prepare(Database& database, const platform::ShiftJisLineReader&) override
    {
        // Makes a missing table or index (an older database) right before the first lookup: without the
        // (terminal, key) index every line would scan the table.
        Status schema = masters::ensureSchema(database);
        if (!schema.isOk()) {
            return schema;
        }
        Result<UpdateStatements> statements = UpdateStatements::prepare(database, m_master);
        if (!statements.isOk()) {
            return statements.status();
        }
        m_statements = std::move(*statements);
        m_update = std::make_unique<UpdateBatch>(m_master, m_statements, m_terminalId, m_updatePath, m_stop);
        return Status::ok();
    }

    batch::BatchUser& user() override { return *m_update; }

    Status beforeCommit() override
    {
        MasterExport exporter(m_statements, m_exportPath, m_terminalId);
        Result<std::unique_ptr<platform::ShiftJisLineWriter>> exportFile = exporter.write();
        if (!exportFile.isOk()) {
            return exportFile.status(); // the temporary export is removed
        }
        m_exportFile = std::move(*exportFile);
        m_rowsExported = exporter.rowsExported();
        return Status::ok();
    }

    Status commit(platform::Transaction& transaction) override { return commitBoth(transaction, *m_exportFile); }

    void finish() override
    {
        if (m_update) {
            m_summary = m_update->summary();
        }
        m_update.reset();
        m_statements.finish();
        m_exportFile.reset(); // an export not put in place is removed
    }

    UpdateSummary summary() const
    {
        UpdateSummary summary = m_summary;
        summary.rowsExported = m_rowsExported;
        return summary;
    }

  private:
    const MasterDefinition& m_master;
    const QString m_terminalId;
    const QString m_updatePath;
    const QString m_exportPath;
    const std::stop_token m_stop;
    UpdateStatements m_statements;
    std::unique_ptr<UpdateBatch> m_update;
    std::unique_ptr<platform::ShiftJisLineWriter> m_exportFile;
    UpdateSummary m_summary;
    qint64 m_rowsExported = 0;
};

} // namespace

QString summaryText(const UpdateSummary& summary)
{
    return QStringLiteral("%1 lines read, %2 rows added, %3 replaced, %4 exported")
        .arg(summary.linesRead)
        .arg(summary.rowsAdded)
        .arg(summary.rowsReplaced)
        .arg(summary.rowsExported);
}

Result<UpdateSummary> updateMaster(const MasterDefinition& master, const UpdateContext& context, qint64 terminalNo)
{
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    UpdateWork work(master, context, terminalId);
    batch::FlowContext flow;
    flow.dbPath = context.dbPath;
    flow.dbSetting = QStringLiteral("DBname");
    flow.batchBytes = context.batchBytes;
    flow.checkpoints = context.checkpoints;
    flow.stop = context.stop;
    flow.progress = context.progress;
    flow.category = lcDistribution;
    Status applied = batch::applyFile(work.updatePath(), flow, work);
    if (!applied.isOk()) {
        return applied.about(master.name, terminalId);
    }
    return work.summary();
}

Result<UpdateSummary> UpdateBUNMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::classificationMaster(), c, t);
}
Result<UpdateSummary> UpdateTENMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::storeMaster(), c, t);
}
Result<UpdateSummary> UpdateSIRMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::supplierMaster(), c, t);
}
Result<UpdateSummary> UpdateTOKMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::customerMaster(), c, t);
}
Result<UpdateSummary> UpdateSHOMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::productMaster(), c, t);
}
Result<UpdateSummary> UpdateJISYA(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::ownCompanyCodeMaster(), c, t);
}

} // namespace kavelo::distribution
