#include "db/PgRowsTable.h"

#include "db/PgCopy.h"
#include "platform/Database.h"

#include <QStringList>

namespace kavelo::db {

using platform::Result;
using platform::Status;

namespace {

// A stop asked for is noticed after this many rows sent.
constexpr size_t kRowsBetweenChecks = 1024;

const QString kSavepoint = QStringLiteral("kavelo_rows");

// Errors of the server about a row rather than the statement or the database: a data exception (class 22), an
// integrity constraint (23), a check option (44), an exception raised by a trigger (P0).
bool refusesRow(const QByteArray& sqlState)
{
    return sqlState.startsWith("22") || sqlState.startsWith("23") || sqlState.startsWith("44") ||
           sqlState.startsWith("P0");
}

} // namespace

const QString& PgRowsTable::name()
{
    static const QString kName = QStringLiteral("pg_temp.kavelo_rows");
    return kName;
}

PgRowsTable::PgRowsTable(PgConnection& connection, size_t fields, Deletes deletes)
    : m_connection(connection)
    , m_fields(fields)
    , m_deletes(deletes == Deletes::Yes)
{
}

Result<std::unique_ptr<PgRowsTable>>
PgRowsTable::create(PgConnection& connection, const std::vector<masters::Field>& fields, Deletes deletes)
{
    QStringList columns{QStringLiteral("n integer"), QStringLiteral("k text COLLATE \"C\"")};
    if (deletes == Deletes::Yes) {
        columns << QStringLiteral("deletes boolean");
    }
    for (const masters::Field& field : fields) {
        columns << platform::quoteIdentifier(field.column) + QStringLiteral(" text COLLATE \"C\"");
    }
    // The session's memory for temporary tables, raised to 64 MB unless it has more: a batch of 24 MiB of lines then
    // stays in memory instead of going to the server's disk. It can only change before the session's first
    // temporary table, so later works of the session find it raised already.
    Status sized =
        connection.exec(QStringLiteral("SELECT set_config('temp_buffers', '64MB', false) "
                                       "WHERE pg_size_bytes(current_setting('temp_buffers')) < pg_size_bytes('64MB')"));
    if (!sized.isOk()) {
        return sized;
    }
    Status created = connection.exec(QStringLiteral("CREATE TEMPORARY TABLE kavelo_rows (%1) ON COMMIT DROP")
                                         .arg(columns.join(QStringLiteral(", "))));
    if (!created.isOk()) {
        return created;
    }
    return std::unique_ptr<PgRowsTable>(new PgRowsTable(connection, fields.size(), deletes));
}

Status PgRowsTable::load(DecidedRows& rows)
{
    if (m_filled) {
        Status emptied = m_connection.exec(QStringLiteral("TRUNCATE %1").arg(name()));
        if (!emptied.isOk()) {
            return emptied;
        }
    }
    m_filled = true;
    return m_connection.copyIn(QStringLiteral("COPY %1 FROM STDIN (FORMAT binary)").arg(name()),
                               [&](const PgConnection::CopySink& sink) { return copyRows(rows, sink); });
}

Status PgRowsTable::copyRows(DecidedRows& rows, const PgConnection::CopySink& sink)
{
    CopyRowsWriter writer(sink);
    const int fields = static_cast<int>(m_fields) + (m_deletes ? 3 : 2);
    for (size_t i = 0; i < rows.count(); ++i) {
        if (i % kRowsBetweenChecks == 0) {
            Status carryOn = rows.progressed(0); // nothing is applied before the batch's statements
            if (!carryOn.isOk()) {
                return carryOn;
            }
        }
        Result<std::span<const QStringView>> values = rows.values(i);
        if (!values.isOk()) {
            return values.status();
        }
        if (values->size() != m_fields) {
            return rows.refused(i, QStringLiteral("%1 values where %2 are expected").arg(values->size()).arg(m_fields));
        }
        Status begun = writer.beginRow(fields);
        if (!begun.isOk()) {
            return begun;
        }
        writer.addInteger(static_cast<qint32>(i));
        writer.addUtf8(rows.comparedKey(i));
        if (m_deletes) {
            writer.addBool(rows.deletes(i));
        }
        for (QStringView value : *values) {
            writer.addText(value);
        }
    }
    return writer.finish();
}

std::unique_ptr<PgResult>
PgRowsTable::runPart(const QString& sql, QList<QByteArray> parameters, size_t first, size_t end)
{
    parameters << QByteArray::number(qulonglong(first)) << QByteArray::number(qulonglong(end));
    std::unique_ptr<PgResult> saved = m_connection.run(QStringLiteral("SAVEPOINT ") + kSavepoint);
    if (!saved->ok()) {
        return saved;
    }
    std::unique_ptr<PgResult> result = m_connection.run(sql, parameters);
    const QString finish =
        result->ok() ? QStringLiteral("RELEASE SAVEPOINT ") : QStringLiteral("ROLLBACK TO SAVEPOINT ");
    std::unique_ptr<PgResult> ended = m_connection.run(finish + kSavepoint);
    return result->ok() && !ended->ok() ? std::move(ended) : std::move(result);
}

Result<std::unique_ptr<PgResult>> PgRowsTable::run(const QString& sql, QList<QByteArray> parameters, DecidedRows& rows)
{
    std::unique_ptr<PgResult> result = runPart(sql, parameters, 0, rows.count());
    if (result->ok()) {
        return result;
    }
    if (!refusesRow(result->sqlState()) || rows.count() == 0 || !m_connection.isAlive()) {
        return m_connection.failure(*result);
    }
    return locateRefused(sql, parameters, rows, std::move(result));
}

// Halves the rows that hold a refused one until one row is left: a half that runs is applied (and the refused row
// is after it), a half that fails is rolled back and searched on.
Status PgRowsTable::locateRefused(const QString& sql,
                                  const QList<QByteArray>& parameters,
                                  DecidedRows& rows,
                                  std::unique_ptr<PgResult> refusal)
{
    size_t first = 0;
    size_t end = rows.count();
    while (end - first > 1) {
        const size_t middle = first + (end - first) / 2;
        std::unique_ptr<PgResult> half = runPart(sql, parameters, first, middle);
        if (half->ok()) {
            first = middle;
        } else if (refusesRow(half->sqlState())) {
            end = middle;
            refusal = std::move(half);
        } else {
            return m_connection.failure(*half);
        }
    }
    return rows.refused(first, m_connection.failure(*refusal).message());
}

} // namespace kavelo::db
