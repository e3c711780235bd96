#include "db/PgImportWork.h"

#include "platform/Database.h"
#include "platform/Log.h"

#include <QElapsedTimer>
#include <QStringList>

namespace kavelo::db {

using masters::MasterDefinition;
using platform::quoteIdentifier;
using platform::Result;
using platform::Status;

namespace {

// Every row whose key, trailing blanks ignored, is one of the batch's: of every terminal and imported alike. $1 and
// $2: the range of the batch's rows it covers (PgRowsTable::run), as for the insert.
QString deleteSql(const PgSchema& schema, const MasterDefinition& master)
{
    return QStringLiteral("DELETE FROM %1 t USING %2 r WHERE %3 = r.k AND r.n >= $1 AND r.n < $2")
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
    return QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4 r WHERE NOT r.deletes AND r.n >= $1 AND r.n < $2 "
                          "ORDER BY r.n")
        .arg(schema.table(master),
             columns.join(QStringLiteral(", ")),
             values.join(QStringLiteral(", ")),
             PgRowsTable::name());
}

} // namespace

PgImportWork::PgImportWork(const PgSchema& schema,
                           const MasterDefinition& master,
                           std::unique_ptr<PgTransaction> transaction,
                           std::unique_ptr<PgRowsTable> rows)
    : m_master(master)
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
    return std::unique_ptr<PgImportWork>(new PgImportWork(schema, master, std::move(transaction), std::move(*rows)));
}

Status PgImportWork::apply(DecidedRows& rows)
{
    if (rows.count() == 0) {
        return Status::ok();
    }
    QElapsedTimer timer;
    timer.start();
    qint64 phases[3] = {};
    Status status = m_rows->load(rows);
    phases[0] = timer.restart();
    for (int phase : {1, 2}) {
        if (status.isOk()) {
            Result<std::unique_ptr<PgResult>> run = m_rows->run(phase == 1 ? m_deleteSql : m_insertSql, {}, rows);
            status = run.isOk() ? rows.progressed(phase == 1 ? 0 : rows.count()) : run.status();
            phases[phase] = timer.restart();
        }
    }
    qCDebug(lcDb).noquote() << QStringLiteral("%1 import: %2 rows copied in %3 ms, deleted in %4 ms, inserted in %5 ms")
                                   .arg(m_master.name)
                                   .arg(rows.count())
                                   .arg(phases[0])
                                   .arg(phases[1])
                                   .arg(phases[2]);
    return status;
}

Status PgImportWork::commit()
{
    QElapsedTimer timer;
    timer.start();
    Status committed = m_transaction->commit();
    qCDebug(lcDb).noquote() << QStringLiteral("%1 import: committed in %2 ms").arg(m_master.name).arg(timer.elapsed());
    return committed;
}

} // namespace kavelo::db
