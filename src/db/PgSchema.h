#ifndef KAVELO_DB_PGSCHEMA_H
#define KAVELO_DB_PGSCHEMA_H

#include "db/PgConnection.h"
#include "masters/MasterDefinition.h"
#include "platform/Status.h"

#include <QString>

namespace kavelo::db {

// The six master tables in one schema of a server. Every column but the row order is text in binary order
// (COLLATE "C"): "端末ID", then the master's columns, then kavelo_row, an identity column that numbers the rows in
// the order they were added and is the primary key. Keys compare with trailing blanks ignored, so both key
// indexes are on rtrim(key): (端末ID, key) for a terminal's update and (key) for the import's delete.
class PgSchema
{
  public:
    PgSchema(PgConnection& connection, QString schema);

    // Creates the schema and what is missing of the tables and indexes, in one transaction; never drops or alters
    // what exists. A table whose columns are not KAVELO's is refused first, naming table and column, and nothing
    // is created.
    platform::Status ensure();
    // The master's table exists with KAVELO's columns; otherwise an error naming table and column.
    platform::Status check(const masters::MasterDefinition& master);

    const QString& schema() const { return m_schema; }
    // The table, quoted and qualified with the schema, for statements.
    QString table(const masters::MasterDefinition& master) const;
    // rtrim(key, ' ') COLLATE "C" of the master's key column in `alias`: the key as the indexes compare it.
    static QString comparedKey(const masters::MasterDefinition& master, const QString& alias);

  private:
    // The kind of the schema's relation `name` ("r" a table, "i" an index, ...), empty text when there is none.
    platform::Result<QString> relationKind(const QString& name);
    platform::Status createTable(const masters::MasterDefinition& master);
    platform::Status createIndexes(const masters::MasterDefinition& master);

    PgConnection& m_connection;
    const QString m_schema;
};

} // namespace kavelo::db

#endif
