#ifndef KAVELO_DB_PGIMPORTWORK_H
#define KAVELO_DB_PGIMPORTWORK_H

#include "db/MasterStore.h"
#include "db/PgConnection.h"
#include "db/PgRowsTable.h"
#include "db/PgSchema.h"

#include <memory>

namespace kavelo::db {

// One host file's import into one master on a server, in the transaction it is given (the master's lock taken). A
// batch of decided rows is copied into the rows table; one statement deletes every row of the batch's keys, a
// second inserts the rows that replace.
class PgImportWork final : public ImportWork
{
  public:
    static platform::Result<std::unique_ptr<PgImportWork>> start(PgConnection& connection,
                                                                 const PgSchema& schema,
                                                                 const masters::MasterDefinition& master,
                                                                 std::unique_ptr<PgTransaction> transaction);

    platform::Status apply(DecidedRows& rows) override;
    platform::Status commit() override;

  private:
    PgImportWork(const PgSchema& schema,
                 const masters::MasterDefinition& master,
                 std::unique_ptr<PgTransaction> transaction,
                 std::unique_ptr<PgRowsTable> rows);

    const masters::MasterDefinition& m_master;
    std::unique_ptr<PgTransaction> m_transaction;
    std::unique_ptr<PgRowsTable> m_rows;
    const QString m_deleteSql;
    const QString m_insertSql;
};

} // namespace kavelo::db

#endif
