#include "import/HostImport.h"

#include "batch/BatchUser.h"
#include "import/ImportBatch.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

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
    Status cache = (*database)->exec(QStringLiteral("PRAGMA cache_size = -%1").arg(kCacheKiB));
    if (!cache.isOk()) {
        return cache;
    }
    return database;
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
    batch::LineBatch lines(context.batchBytes);
    Status applied = batch::applyInBatches(**reader, lines, **import);
    if (!applied.isOk()) {
        return applied; // the transaction rolls back as it goes out of scope: the tables stay as they were
    }
    Status committed = (*transaction)->commit();
    if (!committed.isOk()) {
        return committed.prefixed(hostPath + QStringLiteral(": the import could not be committed: "));
    }
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
