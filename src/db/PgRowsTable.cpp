#include "db/PgRowsTable.h"

#include "db/PgCopy.h"
#include "platform/Database.h"
#include "platform/Text.h"

#include <QStringList>

namespace kavelo::db {

using platform::Result;
using platform::Status;

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
    Status sized = connection.exec(
        QStringLiteral("SELECT set_config('temp_buffers', '64MB', false) "
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
        Result<DecidedRow> row = rows.row(i);
        if (!row.isOk()) {
            return row.status();
        }
        if (row->values.size() != m_fields) {
            return rows.refused(
                i, QStringLiteral("%1 values where %2 are expected").arg(row->values.size()).arg(m_fields));
        }
        Status begun = writer.beginRow(fields);
        if (!begun.isOk()) {
            return begun;
        }
        writer.addInteger(static_cast<qint32>(i));
        writer.addText(platform::TrimTrailing(row->key));
        if (m_deletes) {
            writer.addBool(row->deletes);
        }
        for (QStringView value : row->values) {
            writer.addText(value);
        }
    }
    return writer.finish();
}

} // namespace kavelo::db
