#ifndef KAVELO_DB_PGROWSTABLE_H
#define KAVELO_DB_PGROWSTABLE_H

#include "db/MasterStore.h"
#include "db/PgConnection.h"
#include "masters/MasterDefinition.h"
#include "platform/Status.h"

#include <QString>

#include <memory>
#include <vector>

namespace kavelo::db {

// The decided rows of one batch on the server: a temporary table pg_temp.kavelo_rows, dropped at the end of the
// transaction, filled by COPY for each batch. Its columns: n (the row's place in the batch, so in key order), k (the
// key without its trailing blanks, binary order), with `deletes` the host import's delete flag, then one text column
// per field, named as the field's column.
class PgRowsTable
{
  public:
    enum class Deletes
    {
        No,
        Yes,
    };

    static platform::Result<std::unique_ptr<PgRowsTable>>
    create(PgConnection& connection, const std::vector<masters::Field>& fields, Deletes deletes);

    PgRowsTable(const PgRowsTable&) = delete;
    PgRowsTable& operator=(const PgRowsTable&) = delete;

    // Replaces the table's rows by those of `rows`.
    platform::Status load(DecidedRows& rows);
    // Runs a statement of the batch: `sql` takes `parameters`, then the first and the end of a range of n (the
    // statement's rows are those with first <= n < end), and runs over all of them. When the server refuses a row
    // (a constraint, a trigger's exception, a value it cannot take), the statement is run again over halves of the
    // rows, each under a savepoint, until the refused row is known; its error names its line. The caller's
    // transaction fails either way.
    platform::Result<std::unique_ptr<PgResult>>
    run(const QString& sql, QList<QByteArray> parameters, DecidedRows& rows);

    static const QString& name();

  private:
    PgRowsTable(PgConnection& connection, size_t fields, Deletes deletes);
    platform::Status copyRows(DecidedRows& rows, const PgConnection::CopySink& sink);
    // Runs `sql` over rows [first, end) under a savepoint; on failure rolls back to it.
    std::unique_ptr<PgResult> runPart(const QString& sql, QList<QByteArray> parameters, size_t first, size_t end);
    platform::Status locateRefused(const QString& sql,
                                   const QList<QByteArray>& parameters,
                                   DecidedRows& rows,
                                   std::unique_ptr<PgResult> refusal);

    PgConnection& m_connection;
    const size_t m_fields;
    const bool m_deletes;
    bool m_filled = false;
};

} // namespace kavelo::db

#endif
