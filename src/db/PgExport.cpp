#include "db/PgExport.h"

#include "db/PgCopy.h"

#include "platform/Database.h"

#include <QStringList>

namespace kavelo::db {

using platform::Result;
using platform::ShiftJisLineWriter;
using platform::Status;

namespace {

// The setting that carries the terminal ID into the export's COPY, which takes no parameters.
const QString kTerminalSetting = QStringLiteral("kavelo.terminal");

} // namespace

PgExport::PgExport(PgConnection& connection, const PgSchema& schema, const masters::MasterDefinition& master)
    : m_connection(connection)
    , m_schema(schema)
    , m_master(master)
{
}

// The server puts each line together (one text value a row instead of one per column: less to send and to read).
QString PgExport::copySql() const
{
    QStringList values;
    for (const masters::ExportField& field : m_master.exportFields) {
        const QString column = platform::quoteIdentifier(field.column);
        values << QStringLiteral("coalesce(%1, '')")
                      .arg(field.form == platform::CsvForm::Trimmed ? QStringLiteral("btrim(%1, ' ')").arg(column)
                                                                    : column);
    }
    const QString line = values.isEmpty() ? QStringLiteral("''") : values.join(QStringLiteral(" || ',' || "));
    const QString key = platform::quoteIdentifier(m_master.keyColumn);
    return QStringLiteral("COPY (SELECT %1 FROM %2 WHERE %3 = current_setting('%4') "
                          "ORDER BY coalesce(%5, '') COLLATE \"C\", %6) TO STDOUT (FORMAT binary)")
        .arg(line,
             m_schema.table(m_master),
             platform::quoteIdentifier(masters::kTerminalIdColumn),
             kTerminalSetting,
             key,
             platform::quoteIdentifier(masters::kRowOrderColumn));
}

Result<WrittenExport> PgExport::write(const QString& terminalId, const QString& exportPath)
{
    Status set = m_connection.exec(QStringLiteral("SELECT set_config($1, $2, true)"),
                                   {textParameter(kTerminalSetting), textParameter(terminalId)});
    if (!set.isOk()) {
        return set;
    }
    Result<std::unique_ptr<ShiftJisLineWriter>> file = ShiftJisLineWriter::create(exportPath);
    if (!file.isOk()) {
        return file.status();
    }
    WrittenExport written{std::move(*file), 0};
    CopyRowsReader reader([&](const std::vector<CopyRowsReader::Field>& values) {
        ++written.rows;
        return values.size() == 1
                   ? written.file->writeLineUtf8(values[0].bytes)
                   : Status::error(
                         QStringLiteral("%1: an export row of %2 values").arg(m_connection.name()).arg(values.size()));
    });
    Status copied = m_connection.copyOut(copySql(), [&](QByteArrayView data) { return reader.feed(data); });
    if (copied.isOk()) {
        copied = reader.finish().prefixed(m_connection.name() + QStringLiteral(": "));
    }
    if (!copied.isOk()) {
        return copied; // the temporary file is removed with the writer
    }
    return written;
}

} // namespace kavelo::db
