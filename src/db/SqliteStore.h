#ifndef KAVELO_DB_SQLITESTORE_H
#define KAVELO_DB_SQLITESTORE_H

#include "db/MasterStore.h"
#include "platform/Database.h"

#include <memory>

namespace kavelo::db {

// The masters in a SQLite file, through one connection tuned for applying a master file: an 8 MiB page cache, and
// no checkpoint inside a commit. Once a work has committed, closing the store checkpoints the write-ahead log into
// the file: on the checkpoint worker when one is given, otherwise before the store is gone.
class SqliteStore final : public MasterStore
{
  public:
    // An existing database file.
    static platform::Result<std::unique_ptr<SqliteStore>> open(const QString& path, const StoreOptions& options);
    ~SqliteStore() override;

    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    const QString& name() const override { return m_database->path(); }
    platform::Status ensureSchema() override;
    platform::Result<std::unique_ptr<UpdateWork>> beginUpdate(const masters::MasterDefinition& master,
                                                              const QString& terminalId) override;
    platform::Result<std::unique_ptr<ImportWork>> beginImport(const masters::MasterDefinition& master) override;

  private:
    SqliteStore(std::unique_ptr<platform::Database> database, const StoreOptions& options);

    std::unique_ptr<platform::Database> m_database;
    const StoreOptions m_options;
    bool m_committed = false; // set by a work's commit
};

} // namespace kavelo::db

#endif
