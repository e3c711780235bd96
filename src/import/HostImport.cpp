#include "import/HostImport.h"

#include "batch/BatchUser.h"
#include "import/ImportBatch.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>

namespace kavelo::import {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using platform::Status;

namespace {

// Page cache of the import's connection, in KiB. The records come in key order within a batch, so the key indexes
// and the table are walked page after page and need little cache, whatever the order of the host file; the batch
// (24 MiB) and this cache keep the import within 64 MiB.
constexpr int kCacheKiB = 8 * 1024;

Result<std::unique_ptr<Database>> openImportDatabase(const MasterDefinition& master, const QString& path)
{
    if (path.isEmpty()) {
        return Status::error(QStringLiteral("no import database is set (settings key \"ImportDB\")"));
    }
    Result<std::unique_ptr<Database>> database = Database::openSqlite(path, Database::OpenMode::ExistingOnly);
    if (!database.isOk()) {
        return database;
    }
    Result<bool> hasTable = (*database)->hasTable(master.name);
    if (!hasTable.isOk()) {
        return hasTable.status();
    }
    if (!*hasTable) {
        return Status::error(QStringLiteral("%1: the table %2 does not exist (run \"kavelo init\")").arg(path, master.name));
    }
    // The checkpoint follows the commit explicitly (checkpoint()), not inside it.
    Status cache =
        (*database)->exec(QStringLiteral("PRAGMA cache_size = -%1; PRAGMA wal_autocheckpoint = 0;").arg(kCacheKiB));
    if (!cache.isOk()) {
        return cache;
    }
    return database;
}

// Copies the committed pages from the write-ahead log into the database file, syncing both: a committed import is
// then safe from a power cut too (synchronous=NORMAL syncs only here), and the log can go when the connection
// closes. PASSIVE: never waits for a reader; what it cannot copy now the next checkpoint copies. A failure leaves
// the import committed, and the log in place for that next checkpoint.
void checkpoint(Database& database)
{
    Status done = database.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    if (!done.isOk()) {
        qCWarning(lcImport).noquote() << QStringLiteral("checkpoint after the import: %1").arg(done.message());
    }
}

Result<ImportSummary> runImport(const MasterDefinition& master, const ImportContext& context,
                                const ProgressHook& progress)
{
    const QString hostPath = hostFilePath(master, context);
    if (!QFileInfo(hostPath).isFile()) {
        return Status::error(QStringLiteral("%1: host file not found").arg(hostPath));
    }
    Result<std::unique_ptr<Database>> database = openImportDatabase(master, context.dbPath);
    if (!database.isOk()) {
        return database.status();
    }
    Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(hostPath);
    if (!reader.isOk()) {
        return reader.status();
    }
    Result<std::unique_ptr<ImportBatch>> import = ImportBatch::prepare(**database, master, **reader, progress);
    if (!import.isOk()) {
        return import.status();
    }
    Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(**database);
    if (!transaction.isOk()) {
        return transaction.status();
    }

    const qint64 total = (*reader)->fileSize();
    if (progress) {
        progress(0, total);
    }
    QElapsedTimer timer;
    timer.start();
    batch::LineBatch lines(context.batchBytes);
    Status applied = batch::applyInBatches(**reader, lines, **import);
    if (!applied.isOk()) {
        return applied; // the transaction rolls back as it goes out of scope: the tables stay as they were
    }
    const qint64 appliedMs = timer.restart();
    Status committed = (*transaction)->commit();
    if (!committed.isOk()) {
        return committed.prefixed(hostPath + QStringLiteral(": the import could not be committed: "));
    }
    const qint64 committedMs = timer.restart();
    checkpoint(**database);
    qCDebug(lcImport).noquote() << QStringLiteral("%1: records applied in %2 ms, committed in %3 ms, checkpoint in %4 ms")
                                       .arg(hostPath)
                                       .arg(appliedMs)
                                       .arg(committedMs)
                                       .arg(timer.elapsed());
    if (progress) {
        progress(total, total);
    }
    return (*import)->summary();
}

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
    const QString hostPath = hostFilePath(master, context);
    qCInfo(lcImport).noquote() << master.name << "import:" << hostPath << "into" << context.dbPath;
    Result<ImportSummary> summary = runImport(master, context, progress);
    if (!summary.isOk()) {
        qCWarning(lcImport).noquote() << master.name << "import failed:" << summary.status().message();
        return summary;
    }
    qCInfo(lcImport).noquote() << master.name << "imported:" << summaryText(*summary);
    return summary;
}

} // namespace kavelo::import
