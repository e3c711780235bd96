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

    static const QString& name();

  private:
    PgRowsTable(PgConnection& connection, size_t fields, Deletes deletes);
    platform::Status copyRows(DecidedRows& rows, const PgConnection::CopySink& sink);

    PgConnection& m_connection;
    const size_t m_fields;
    const bool m_deletes;
    bool m_filled = false;
};

} // namespace kavelo::db

#endif
