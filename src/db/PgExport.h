#ifndef KAVELO_DB_PGEXPORT_H
#define KAVELO_DB_PGEXPORT_H

#include "db/MasterStore.h"
#include "db/PgConnection.h"
#include "db/PgSchema.h"
#include "masters/MasterDefinition.h"

#include <QString>

namespace kavelo::db {

// Writes one terminal's rows of a master as export lines, streamed from the server (COPY ... TO STDOUT): in binary
// order of the key column (a NULL key as empty text), rows of equal keys in the order they were added. Each line
// is the export list joined by commas, each value trimmed of blanks (U+0020) or as stored, NULL as an empty field,
// as the SQLite engine writes it.
class PgExport
{
  public:
    PgExport(PgConnection& connection, const PgSchema& schema, const masters::MasterDefinition& master);

    // Within the caller's transaction. The file is a temporary one beside `exportPath` until committed.
    platform::Result<WrittenExport> write(const QString& terminalId, const QString& exportPath);

  private:
    QString copySql() const;

    PgConnection& m_connection;
    const PgSchema& m_schema;
    const masters::MasterDefinition& m_master;
};

} // namespace kavelo::db

#endif
