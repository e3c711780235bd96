#include "db/SqliteStore.h"

#include "batch/Checkpoints.h"
#include "db/SqliteImportWork.h"
#include "db/SqliteUpdateWork.h"
#include "masters/Schema.h"

namespace kavelo::db {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using platform::Status;

namespace {

// Page cache of the connection, in KiB. A batch is applied in key order, so the key indexes and the table are walked
// page after page and need little cache, whatever the order of the file; measured on the product master with
// 200,000 rows, 24 or 40 MiB took no less time than 8 MiB. With the batch (24 MiB) it keeps the work within 64 MiB.
constexpr int kCacheKiB = 8 * 1024;

} // namespace

SqliteStore::SqliteStore(std::unique_ptr<Database> database, const StoreOptions& options)
    : m_database(std::move(database))
    , m_options(options)
{
}

SqliteStore::~SqliteStore()
{
    if (!m_committed) {
        return;
    }
    if (m_options.checkpoints != nullptr) {
        m_options.checkpoints->add(std::move(m_database));
    } else {
        batch::checkpointAndClose(std::move(m_database));
    }
}

Result<std::unique_ptr<SqliteStore>> SqliteStore::open(const QString& path, const StoreOptions& options)
{
    Result<std::unique_ptr<Database>> database = Database::openSqlite(path, Database::OpenMode::ExistingOnly);
    if (!database.isOk()) {
        return database.status();
    }
    QString pragmas = QStringLiteral("PRAGMA cache_size = -%1; PRAGMA wal_autocheckpoint = 0;").arg(kCacheKiB);
    if (options.durableCommit && options.checkpoints != nullptr) {
        pragmas += QStringLiteral(" PRAGMA synchronous = FULL;");
    }
    Status tuned = (*database)->exec(pragmas);
    if (!tuned.isOk()) {
        return tuned;
    }
    return std::unique_ptr<SqliteStore>(new SqliteStore(std::move(*database), options));
}

Status SqliteStore::ensureSchema()
{
    return masters::ensureSchema(*m_database);
}

Result<std::unique_ptr<UpdateWork>> SqliteStore::beginUpdate(const MasterDefinition& master, const QString& terminalId)
{
    // Makes a missing table or index (an older database) right before the first lookup: without the (terminal,
    // key) index every line would scan the table.
    Status schema = ensureSchema();
    if (!schema.isOk()) {
        return schema;
    }
    Result<std::unique_ptr<SqliteUpdateWork>> work =
        SqliteUpdateWork::start(*m_database, master, terminalId, m_committed);
    if (!work.isOk()) {
        return work.status();
    }
    return std::unique_ptr<UpdateWork>(std::move(*work));
}

Result<std::unique_ptr<ImportWork>> SqliteStore::beginImport(const MasterDefinition& master)
{
    Result<bool> hasTable = m_database->hasTable(master.name);
    if (!hasTable.isOk()) {
        return hasTable.status();
    }
    if (!*hasTable) {
        return Status::fileError(m_database->path(),
                                 QStringLiteral("the table %1 does not exist (run \"kavelo init\")").arg(master.name));
    }
    Result<std::unique_ptr<SqliteImportWork>> work = SqliteImportWork::start(*m_database, master, m_committed);
    if (!work.isOk()) {
        return work.status();
    }
    return std::unique_ptr<ImportWork>(std::move(*work));
}

} // namespace kavelo::db
