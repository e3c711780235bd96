#ifndef KAVELO_DB_SQLITEEXPORT_H
#define KAVELO_DB_SQLITEEXPORT_H

#include "db/SqliteUpdateStatements.h"
#include "platform/Status.h"
#include "platform/TextCodec.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavelo::db {

// Writes every row of one terminal as its export line, in binary order of the key column, to a temporary file
// beside the export; the caller commits it over the export once the rows are stored (ShiftJisLineWriter::commit).
// The rows are read through the (terminal, key) index; a key with a character below U+0020, whose index order is
// not binary order, is noticed on the way, and the export starts again with the full sort.
class SqliteExport
{
  public:
    SqliteExport(SqliteUpdateStatements& statements, QString exportPath, QString terminalId);

    platform::Result<std::unique_ptr<platform::ShiftJisLineWriter>> write();
    qint64 rowsExported() const { return m_rowsExported; }

  private:
    // A row read, until its run of keys is complete.
    struct Row
    {
        qint64 rowid = 0;
        std::string key;
        std::string line;
    };

    // Nothing when reading through the index met a key with a control character.
    platform::Result<std::optional<std::unique_ptr<platform::ShiftJisLineWriter>>> writeIn(ExportOrder order);
    platform::Status readRows(ExportOrder order, platform::ShiftJisLineWriter& writer, bool& binaryOrder);
    void holdRow(platform::Statement& rows);
    platform::Status writeRun(platform::ShiftJisLineWriter& writer);

    SqliteUpdateStatements& m_statements;
    const QString m_exportPath;
    const QString m_terminalId;
    qint64 m_rowsExported = 0;
    // A run of rows whose keys are equal with trailing blanks ignored; the entries are kept for their buffers,
    // m_runSize of them are in use.
    std::vector<Row> m_run;
    size_t m_runSize = 0;
};

} // namespace kavelo::db

#endif
