#include "distribution/MasterUpdate.h"

#include "batch/BatchUser.h"
#include "distribution/Checkpoints.h"
#include "distribution/MasterExport.h"
#include "distribution/RunningUpdates.h"
#include "distribution/UpdateBatch.h"
#include "distribution/UpdateStatements.h"
#include "masters/Masters.h"
#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <future>

namespace kavelo::distribution {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using platform::Status;

namespace {

// Page cache of the update's connection, in KiB. Measured on the product master with 200,000 rows: 24 or 40 MiB
// take no less time than 8 MiB (the lines come in key order and the replacements in rowid order, so pages are
// used one after the other, and every changed page goes to the write-ahead log once either way).
constexpr int kCacheKiB = 8 * 1024;

Result<std::unique_ptr<Database>> openDatabase(const QString& path)
{
    Result<std::unique_ptr<Database>> db = Database::openSqlite(path, Database::OpenMode::ExistingOnly);
    if (!db.isOk()) {
        return db;
    }
    // The checkpoint is left to the end of the update (CheckpointWorker), not done at the commit.
    Status tuned = (*db)->exec(QStringLiteral("PRAGMA cache_size = -%1; PRAGMA wal_autocheckpoint = 0;").arg(kCacheKiB));
    if (!tuned.isOk()) {
        return tuned;
    }
    // Makes a missing table or index (an older database) right before the first lookup: without the
    // (terminal, key) index every line would scan the table.
    Status schema = masters::ensureSchema(**db);
    if (!schema.isOk()) {
        return schema;
    }
    return db;
}

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
        return Status::error(
            QStringLiteral("the rows are stored, but the export could not be replaced: %1").arg(renamed.message()));
    }
    return Status::ok();
}

// The flow of one update: open, apply the lines, export, commit, rename. After success the connection goes on to
// its checkpoint.
Result<UpdateSummary> runUpdate(const MasterDefinition& master, const UpdateContext& context, const QString& terminalId,
                                const YieldHook& yield)
{
    const QString updatePath = context.tree.receiveFile(terminalId, master.updateFileName());
    const QString exportPath = context.tree.receiveFile(terminalId, master.exportFileName());
    if (!QFileInfo(updatePath).isFile()) {
        return Status::error(QStringLiteral("%1: update file not found").arg(updatePath));
    }
    Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(updatePath);
    if (!reader.isOk()) {
        return reader.status();
    }
    Result<std::unique_ptr<Database>> db = openDatabase(context.dbPath);
    if (!db.isOk()) {
        return db.status();
    }
    Result<UpdateStatements> statements = UpdateStatements::prepare(**db, master);
    if (!statements.isOk()) {
        return statements.status();
    }
    Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(**db);
    if (!transaction.isOk()) {
        return transaction.status();
    }

    QElapsedTimer phase;
    phase.start();
    UpdateBatch update(master, *statements, terminalId, updatePath, yield, context.stopping);
    batch::LineBatch lines(context.batchBytes);
    Status applied = batch::applyInBatches(**reader, lines, update);
    if (!applied.isOk()) {
        return applied; // the transaction rolls back
    }
    reader->reset(); // the update file is closed before the export is written
    const qint64 appliedMs = phase.restart();

    MasterExport exporter(*statements, exportPath, terminalId);
    Result<std::unique_ptr<platform::ShiftJisLineWriter>> exportFile = exporter.write();
    if (!exportFile.isOk()) {
        return exportFile.status(); // the temporary export is removed, the transaction rolls back
    }
    const qint64 exportedMs = phase.restart();
    Status committed = commitBoth(**transaction, **exportFile);
    if (!committed.isOk()) {
        return committed;
    }
    qCDebug(lcDistribution).noquote() << QStringLiteral("%1: lines applied in %2 ms, export written in %3 ms, "
                                                        "committed and renamed in %4 ms")
                                             .arg(updatePath)
                                             .arg(appliedMs)
                                             .arg(exportedMs)
                                             .arg(phase.elapsed());

    statements->finish();
    transaction->reset();
    if (context.checkpoints != nullptr) {
        context.checkpoints->add(std::move(*db));
    }
    UpdateSummary summary = update.summary();
    summary.rowsExported = exporter.rowsExported();
    return summary;
}

} // namespace

QString summaryText(const UpdateSummary& summary)
{
    return QStringLiteral("%1 lines read, %2 rows added, %3 replaced, %4 exported")
        .arg(summary.linesRead)
        .arg(summary.rowsAdded)
        .arg(summary.rowsReplaced)
        .arg(summary.rowsExported);
}

Result<UpdateSummary>
updateMaster(const MasterDefinition& master, const UpdateContext& context, qint64 terminalNo, const YieldHook& yield)
{
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    const QString prefix = QStringLiteral("%1, terminal %2: ").arg(master.name, terminalId);
    QElapsedTimer timer;
    timer.start();
    Result<std::unique_ptr<RunningUpdate>> claim = RunningUpdate::claim(master.name, terminalId);
    Result<UpdateSummary> result = claim.isOk() ? runUpdate(master, context, terminalId, yield)
                                                : Result<UpdateSummary>(claim.status());
    if (!result.isOk()) {
        Status failed = result.status().prefixed(prefix);
        qCWarning(lcDistribution).noquote() << failed.message();
        return failed;
    }
    qCInfo(lcDistribution).noquote() << prefix + summaryText(*result) +
                                            QStringLiteral(" in %1 ms").arg(timer.elapsed());
    return result;
}

Result<UpdateSummary> UpdateBUNMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::classificationMaster(), c, t, y);
}
Result<UpdateSummary> UpdateTENMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::storeMaster(), c, t, y);
}
Result<UpdateSummary> UpdateSIRMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::supplierMaster(), c, t, y);
}
Result<UpdateSummary> UpdateTOKMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::customerMaster(), c, t, y);
}
Result<UpdateSummary> UpdateSHOMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::productMaster(), c, t, y);
}
Result<UpdateSummary> UpdateJISYA(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::ownCompanyCodeMaster(), c, t, y);
}

} // namespace kavelo::distribution
