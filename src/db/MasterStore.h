#ifndef KAVELO_DB_MASTERSTORE_H
#define KAVELO_DB_MASTERSTORE_H

#include "masters/MasterDefinition.h"
#include "platform/Status.h"
#include "platform/TextCodec.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <memory>
#include <span>

namespace kavelo::batch {
class CheckpointWorker;
}

namespace kavelo::db {

// Where the masters are kept: a SQLite file, or a schema of a PostgreSQL database.
struct StoreLocation
{
    StoreLocation() = default;
    // Implicit: a path alone names a SQLite database.
    StoreLocation(QString path, QString schemaName = QStringLiteral("public"), int lockWait = 30);

    QString database;                          // "DBname" or "ImportDB": a path, or a postgresql:// URI
    QString schema = QStringLiteral("public"); // "DBSchema": the schema of the six tables on a server
    int lockWaitSeconds = 30;                  // "DBLockWait": how long a master another writer holds is waited for

    // For messages and logs: a path as it stands; a URI without its password and options, with the schema.
    QString describe() const;
};

// True for a PostgreSQL connection URI ("postgresql://" or "postgres://"); anything else is a SQLite path.
bool isServerUri(QStringView database);
// The database for messages and logs: a path as it stands, a URI without its password and options.
QString describeDatabase(const QString& database);

// What the engine decided for one batch, handed to a store's work: one row per key, in key order (trailing blanks
// ignored, then code point order), each the key's last line. The keys are at hand at once; a row's values are cut
// from its line when asked for.
class DecidedRows
{
  public:
    virtual ~DecidedRows() = default;

    virtual size_t count() const = 0;
    // Row `i`'s key as cut from its line (UTF-8), and as keys compare: without its trailing blanks.
    virtual QByteArrayView key(size_t i) const = 0;
    virtual QByteArrayView comparedKey(size_t i) const = 0;
    // Host import, flag "3": the key's rows go and nothing comes in.
    virtual bool deletes(size_t i) const = 0;
    // Row `i`'s values in the order of the work's fields: the master's updateFields for an update, its importFields
    // for an import. Valid until the next call. An error (a line whose bytes no longer decode) names the file and
    // line.
    virtual platform::Result<std::span<const QStringView>> values(size_t i) = 0;
    // Row `i`'s values are asked for soon.
    virtual void prefetch(size_t) const {}
    // A row the database refused: the error naming its line.
    virtual platform::Status refused(size_t i, const QString& reason) const = 0;
    // Called by the work as it goes, at least every few hundred rows: `done` rows of the batch are applied (the
    // same number may come again). An error means the work is to give up now (the program is ending).
    virtual platform::Status progressed(size_t done) = 0;
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
    // Both wait while another writer applies the same master to the same database (and schema): on a server up to
    // the location's lock wait, and then fail saying so.
    virtual platform::Result<std::unique_ptr<UpdateWork>> beginUpdate(const masters::MasterDefinition& master,
                                                                      const QString& terminalId) = 0;
    virtual platform::Result<std::unique_ptr<ImportWork>> beginImport(const masters::MasterDefinition& master) = 0;
    // From any thread, while the store lives: the program is ending, and a statement that may run long (on a
    // server: a wait for a master's lock, a batch's statement) is asked to end; the work then fails. A store whose
    // statements are all short ignores it, as its works stop between rows anyway.
    virtual void interrupt() {}
};

// How a flow uses the store it opens.
struct StoreOptions
{
    // SQLite: takes the connection when the store closes after a committed work, for its checkpoint, so that the
    // flow returns without waiting for it. Without one, the store checkpoints as it closes.
    batch::CheckpointWorker* checkpoints = nullptr;
    // SQLite: a committed work is safe from a power cut once the store has closed: with a checkpoint worker, the
    // commit syncs the write-ahead log (synchronous=FULL); without one, the checkpoint as it closes syncs it.
    bool durableCommit = false;
};

// The store of a location, connected: a server's schema for a URI, otherwise an existing SQLite file, tuned for
// applying a master file.
platform::Result<std::unique_ptr<MasterStore>> openStore(const StoreLocation& location,
                                                         const StoreOptions& options = {});

} // namespace kavelo::db

#endif
