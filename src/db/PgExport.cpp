#include "db/PgExport.h"

#include "platform/Database.h"

#include <QStringList>

namespace kavelo::db {

using platform::Result;
using platform::ShiftJisLineWriter;
using platform::Status;

namespace {

// The setting that carries the terminal ID into the export's COPY, which takes no parameters.
const QString kTerminalSetting = QStringLiteral("kavelo.terminal");

QByteArrayView trimmed(QByteArrayView value)
{
    while (!value.isEmpty() && value.front() == ' ') {
        value = value.sliced(1);
    }
    while (!value.isEmpty() && value.back() == ' ') {
        value.chop(1);
    }
    return value;
}

} // namespace

PgExport::PgExport(PgConnection& connection, const PgSchema& schema, const masters::MasterDefinition& master)
    : m_connection(connection)
    , m_schema(schema)
    , m_master(master)
{
}

QString PgExport::copySql() const
{
    QStringList columns;
    for (const masters::ExportField& field : m_master.exportFields) {
        columns << platform::quoteIdentifier(field.column);
    }
    const QString key = platform::quoteIdentifier(m_master.keyColumn);
    return QStringLiteral("COPY (SELECT %1 FROM %2 WHERE %3 = current_setting('%4') "
                          "ORDER BY coalesce(%5, '') COLLATE \"C\", %6) TO STDOUT (FORMAT binary)")
        .arg(columns.join(QStringLiteral(", ")), m_schema.table(m_master),
             platform::quoteIdentifier(masters::kTerminalIdColumn), kTerminalSetting, key,
             platform::quoteIdentifier(masters::kRowOrderColumn));
}

void PgExport::joinLine(const std::vector<CopyRowsReader::Field>& values)
{
    m_line.clear();
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            m_line += ',';
        }
        const bool trim = i < m_master.exportFields.size() && m_master.exportFields[i].form == platform::CsvForm::Trimmed;
        m_line += trim ? trimmed(values[i].bytes) : values[i].bytes;
    }
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
        joinLine(values);
        ++written.rows;
        return written.file->writeLineUtf8(m_line);
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
