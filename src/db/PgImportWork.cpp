#include "db/PgImportWork.h"

#include "platform/Database.h"

#include <QStringList>

namespace kavelo::db {

using masters::MasterDefinition;
using platform::quoteIdentifier;
using platform::Result;
using platform::Status;

namespace {

// Every row whose key, trailing blanks ignored, is one of the batch's: of every terminal and imported alike.
QString deleteSql(const PgSchema& schema, const MasterDefinition& master)
{
    return QStringLiteral("DELETE FROM %1 t USING %2 r WHERE %3 = r.k")
        .arg(schema.table(master), PgRowsTable::name(), PgSchema::comparedKey(master, QStringLiteral("t")));
}

// The rows that replace, in key order, with no terminal ID; the columns the host file has no value for stay NULL.
QString insertSql(const PgSchema& schema, const MasterDefinition& master)
{
    QStringList columns;
    QStringList values;
    for (const masters::Field& field : master.importFields) {
        columns << quoteIdentifier(field.column);
        values << QStringLiteral("r.") + quoteIdentifier(field.column);
    }
    return QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4 r WHERE NOT r.deletes ORDER BY r.n")
        .arg(schema.table(master), columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")),
             PgRowsTable::name());
}

} // namespace

PgImportWork::PgImportWork(PgConnection& connection,
                           const PgSchema& schema,
                           const MasterDefinition& master,
                           std::unique_ptr<PgTransaction> transaction,
                           std::unique_ptr<PgRowsTable> rows)
    : m_connection(connection)
    , m_transaction(std::move(transaction))
    , m_rows(std::move(rows))
    , m_deleteSql(deleteSql(schema, master))
    , m_insertSql(insertSql(schema, master))
{
}

Result<std::unique_ptr<PgImportWork>> PgImportWork::start(PgConnection& connection,
                                                          const PgSchema& schema,
                                                          const MasterDefinition& master,
                                                          std::unique_ptr<PgTransaction> transaction)
{
    Result<std::unique_ptr<PgRowsTable>> rows =
        PgRowsTable::create(connection, master.importFields, PgRowsTable::Deletes::Yes);
    if (!rows.isOk()) {
        return rows.status();
    }
    return std::unique_ptr<PgImportWork>(
        new PgImportWork(connection, schema, master, std::move(transaction), std::move(*rows)));
}

Status PgImportWork::apply(DecidedRows& rows)
{
    if (rows.count() == 0) {
        return Status::ok();
    }
    Status status = m_rows->load(rows);
    if (status.isOk()) {
        status = m_connection.exec(m_deleteSql);
    }
    if (status.isOk()) {
        status = m_connection.exec(m_insertSql);
    }
    return status;
}

Status PgImportWork::commit()
{
    return m_transaction->commit();
}

} // namespace kavelo::db
