#ifndef KAVELO_DB_PGSTORE_H
#define KAVELO_DB_PGSTORE_H

#include "db/MasterStore.h"
#include "db/PgConnection.h"
#include "db/PgSchema.h"

#include <memory>

namespace kavelo::db {

// The masters in one schema of a PostgreSQL database. Each work is one transaction that first takes the master's
// lock: a transaction-level advisory lock keyed by the schema (its oid) and the master, so two KAVELOs on one
// schema never apply the same master at the same time, and stores on different schemas never wait for each other.
// A lock held elsewhere is waited for up to the location's lock wait; then the work fails saying so.
class PgStore final : public MasterStore
{
  public:
    // Connects (see PgConnection::connect). The schema need not exist yet: ensureSchema() makes it.
    static platform::Result<std::unique_ptr<PgStore>> open(const StoreLocation& location);

    const QString& name() const override { return m_name; }
    platform::Status ensureSchema() override;
    platform::Result<std::unique_ptr<UpdateWork>> beginUpdate(const masters::MasterDefinition& master,
                                                              const QString& terminalId) override;
    platform::Result<std::unique_ptr<ImportWork>> beginImport(const masters::MasterDefinition& master) override;
    void interrupt() override { m_connection->cancel(); }

    PgConnection& connection() { return *m_connection; }

  private:
    PgStore(std::unique_ptr<PgConnection> connection, const StoreLocation& location);
    // A transaction holding the master's lock, its table checked.
    platform::Result<std::unique_ptr<PgTransaction>> beginWork(const masters::MasterDefinition& master);
    platform::Status lockMaster(const masters::MasterDefinition& master);

    std::unique_ptr<PgConnection> m_connection;
    PgSchema m_schema;
    const int m_lockWaitSeconds;
    const QString m_name;
};

} // namespace kavelo::db

#endif
