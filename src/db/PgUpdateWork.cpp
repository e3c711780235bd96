#include "db/PgUpdateWork.h"

#include "db/PgExport.h"
#include "platform/Database.h"
#include "platform/Log.h"

#include <QElapsedTimer>
#include <QStringList>

namespace kavelo::db {

using platform::quoteIdentifier;
using platform::Result;
using platform::Status;

PgUpdateWork::PgUpdateWork(PgConnection& connection,
                           const PgSchema& schema,
                           const masters::MasterDefinition& master,
                           QString terminalId,
                           std::unique_ptr<PgTransaction> transaction,
                           std::unique_ptr<PgRowsTable> rows)
    : m_connection(connection)
    , m_schema(schema)
    , m_master(master)
    , m_terminalId(std::move(terminalId))
    , m_transaction(std::move(transaction))
    , m_rows(std::move(rows))
    , m_applySql(applySql())
{
}

Result<std::unique_ptr<PgUpdateWork>> PgUpdateWork::start(PgConnection& connection,
                                                          const PgSchema& schema,
                                                          const masters::MasterDefinition& master,
                                                          QString terminalId,
                                                          std::unique_ptr<PgTransaction> transaction)
{
    Result<std::unique_ptr<PgRowsTable>> rows =
        PgRowsTable::create(connection, master.updateFields, PgRowsTable::Deletes::No);
    if (!rows.isOk()) {
        return rows.status();
    }
    return std::unique_ptr<PgUpdateWork>(
        new PgUpdateWork(connection, schema, master, std::move(terminalId), std::move(transaction), std::move(*rows)));
}

// One statement for the batch: the rows found (of each key the terminal's oldest), replaced, and the others added
// in key order. Its result: rows replaced, rows added. $1 is the terminal ID; $2 and $3 the range of the batch's
// rows it covers (PgRowsTable::run). The found rows are named by their row
// number, not their place in the table (ctid): a row that another program changes meanwhile is then still found
// after the wait for its lock.
QString PgUpdateWork::applySql() const
{
    const QString table = m_schema.table(m_master);
    const QString order = quoteIdentifier(masters::kRowOrderColumn);
    QStringList set;
    QStringList columns{quoteIdentifier(masters::kTerminalIdColumn)};
    QStringList values{QStringLiteral("$1")};
    for (const masters::Field& field : m_master.updateFields) {
        const QString column = quoteIdentifier(field.column);
        set << QStringLiteral("%1 = r.%1").arg(column);
        columns << column;
        values << QStringLiteral("r.") + column;
    }
    return QStringLiteral(
               "WITH found AS (SELECT DISTINCT ON (r.n) r.n, t.%3 AS found_row FROM %2 r JOIN %1 t "
               "ON t.%4 = $1 AND %5 = r.k WHERE r.n >= $2 AND r.n < $3 ORDER BY r.n, t.%3), "
               "replaced AS (UPDATE %1 t SET %6 FROM found f JOIN %2 r ON r.n = f.n WHERE t.%3 = f.found_row "
               "RETURNING 1), "
               "added AS (INSERT INTO %1 (%7) SELECT %8 FROM %2 r WHERE r.n >= $2 AND r.n < $3 AND NOT EXISTS "
               "(SELECT 1 FROM found f WHERE f.n = r.n) ORDER BY r.n RETURNING 1) "
               "SELECT (SELECT count(*) FROM replaced), (SELECT count(*) FROM added)")
        .arg(table,
             PgRowsTable::name(),
             order,
             quoteIdentifier(masters::kTerminalIdColumn),
             PgSchema::comparedKey(m_master, QStringLiteral("t")),
             set.join(QStringLiteral(", ")),
             columns.join(QStringLiteral(", ")),
             values.join(QStringLiteral(", ")));
}

Result<qint64> PgUpdateWork::apply(DecidedRows& rows)
{
    if (rows.count() == 0) {
        return qint64(0);
    }
    QElapsedTimer timer;
    timer.start();
    Status loaded = m_rows->load(rows);
    if (!loaded.isOk()) {
        return loaded;
    }
    const qint64 copiedMs = timer.restart();
    Result<std::unique_ptr<PgResult>> applied = m_rows->run(m_applySql, {textParameter(m_terminalId)}, rows);
    if (!applied.isOk()) {
        return applied.status();
    }
    qCDebug(lcDb).noquote() << QStringLiteral("%1, terminal %2: %3 rows copied in %4 ms, applied in %5 ms")
                                   .arg(m_master.name, m_terminalId)
                                   .arg(rows.count())
                                   .arg(copiedMs)
                                   .arg(timer.elapsed());
    return (*applied)->text(0, 1).toLongLong();
}

Result<WrittenExport> PgUpdateWork::writeExport(const QString& exportPath)
{
    QElapsedTimer timer;
    timer.start();
    Result<WrittenExport> written = PgExport(m_connection, m_schema, m_master).write(m_terminalId, exportPath);
    qCDebug(lcDb).noquote() << QStringLiteral("%1, terminal %2: export written in %3 ms")
                                   .arg(m_master.name, m_terminalId)
                                   .arg(timer.elapsed());
    return written;
}

Status PgUpdateWork::commit()
{
    QElapsedTimer timer;
    timer.start();
    Status committed = m_transaction->commit();
    qCDebug(lcDb).noquote()
        << QStringLiteral("%1, terminal %2: committed in %3 ms").arg(m_master.name, m_terminalId).arg(timer.elapsed());
    return committed;
}

} // namespace kavelo::db
