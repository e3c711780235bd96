#ifndef KAVELO_DB_MASTERSTORE_H
#define KAVELO_DB_MASTERSTORE_H

#include "masters/MasterDefinition.h"
#include "platform/Status.h"
#include "platform/TextCodec.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <span>

namespace kavelo::db {

// Where the masters are kept: a SQLite file, or a schema of a PostgreSQL database.
struct StoreLocation
{
    QString database;                          // "DBname" or "ImportDB": a path, or a postgresql:// URI
    QString schema = QStringLiteral("public"); // "DBSchema": the schema of the six tables on a server
    int lockWaitSeconds = 30;                  // "DBLockWait": how long a master another writer holds is waited for
};

// True for a PostgreSQL connection URI ("postgresql://" or "postgres://"); anything else is a SQLite path.
bool isServerUri(QStringView database);
// The database for messages and logs: a path as it stands, a URI without its password and options.
QString describeDatabase(const QString& database);

// What the engine decided for one key of a batch: the values of the key's last line.
struct DecidedRow
{
    QStringView key;      // the key as cut from the line; keys compare without their trailing blanks
    bool deletes = false; // host import, flag "3": the key's rows go and nothing comes in
    // The line's values in the order of the work's fields: the master's updateFields for an update, its
    // importFields for an import.
    std::span<const QStringView> values;
};

// The rows an engine decided on for one batch: one per key, in key order (trailing blanks ignored, then code point
// order), each key's last line.
class DecidedRows
{
  public:
    virtual ~DecidedRows() = default;

    virtual size_t count() const = 0;
    // Row `i`; its views are valid until the next call. An error (a line whose bytes no longer decode) names the
    // file and line.
    virtual platform::Result<DecidedRow> row(size_t i) = 0;
    // A row the database refused: the error naming its line.
    virtual platform::Status refused(size_t i, const QString& reason) const = 0;
};

// An export written to a temporary file beside its target, renamed over it by commit() once the rows are stored.
struct WrittenExport
{
    std::unique_ptr<platform::ShiftJisLineWriter> file;
    qint64 rows = 0;
};

// One terminal's update of one master: one transaction, which a work destroyed without commit() rolls back.
class UpdateWork
{
  public:
    virtual ~UpdateWork() = default;

    // Each row gives the terminal's row of its key the values of the assignment list, or, when the terminal has no
    // row of that key, adds one with the terminal ID. Of several rows of the terminal whose keys are equal but for
    // trailing blanks, the oldest is the key's row. Other terminals' rows are never read or written. Returns how
    // many rows were added.
    virtual platform::Result<qint64> apply(DecidedRows& rows) = 0;
    // Writes every row of the terminal as its export line to a temporary file beside `exportPath`: in binary (code
    // point) order of the key column, rows of equal keys oldest first; NULL and empty text both give an empty
    // field. The caller commits the work first and the file after it.
    virtual platform::Result<WrittenExport> writeExport(const QString& exportPath) = 0;
    virtual platform::Status commit() = 0;
};

// One host file's import into one master: one transaction, rolled back unless committed.
class ImportWork
{
  public:
    virtual ~ImportWork() = default;

    // Each row deletes every row of its key (of every terminal and earlier imports alike, trailing blanks ignored)
    // and, unless it only deletes, inserts its values with no terminal ID.
    virtual platform::Status apply(DecidedRows& rows) = 0;
    virtual platform::Status commit() = 0;
};

// A master database as the update and the import use it: one connection, one work at a time, on one thread. The
// store outlives its works.
class MasterStore
{
  public:
    virtual ~MasterStore() = default;

    // Names the database in messages (a path; a server, database and schema, never a password).
    virtual const QString& name() const = 0;
    // Creates what is missing of the six tables and their indexes; refuses, changing nothing, a table whose columns
    // are not KAVELO's.
    virtual platform::Status ensureSchema() = 0;
    // Both wait while another writer applies the same master to the same database (and schema), up to the
    // location's lock wait, and then fail saying so.
    virtual platform::Result<std::unique_ptr<UpdateWork>> beginUpdate(const masters::MasterDefinition& master,
                                                                      const QString& terminalId) = 0;
    virtual platform::Result<std::unique_ptr<ImportWork>> beginImport(const masters::MasterDefinition& master) = 0;
};

} // namespace kavelo::db

#endif
