#ifndef KAVELO_DB_PGUPDATEWORK_H
#define KAVELO_DB_PGUPDATEWORK_H

#include "db/MasterStore.h"
#include "db/PgConnection.h"
#include "db/PgRowsTable.h"
#include "db/PgSchema.h"

#include <memory>

namespace kavelo::db {

// One terminal's update of one master on a server, in the transaction it is given (the master's lock taken). A
// batch of decided rows is copied into the rows table; one statement then finds the terminal's row of each key
// (the oldest of keys equal but for trailing blanks), gives the found rows their new values and adds the rest.
class PgUpdateWork final : public UpdateWork
{
  public:
    static platform::Result<std::unique_ptr<PgUpdateWork>> start(PgConnection& connection,
                                                                 const PgSchema& schema,
                                                                 const masters::MasterDefinition& master,
                                                                 QString terminalId,
                                                                 std::unique_ptr<PgTransaction> transaction);

    platform::Result<qint64> apply(DecidedRows& rows) override;
    platform::Result<WrittenExport> writeExport(const QString& exportPath) override;
    platform::Status commit() override;

  private:
    PgUpdateWork(PgConnection& connection,
                 const PgSchema& schema,
                 const masters::MasterDefinition& master,
                 QString terminalId,
                 std::unique_ptr<PgTransaction> transaction,
                 std::unique_ptr<PgRowsTable> rows);
    QString applySql() const;

    PgConnection& m_connection;
    const PgSchema& m_schema;
    const masters::MasterDefinition& m_master;
    const QString m_terminalId;
    std::unique_ptr<PgTransaction> m_transaction;
    std::unique_ptr<PgRowsTable> m_rows;
    const QString m_applySql;
};

} // namespace kavelo::db

#endif
