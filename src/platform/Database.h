#ifndef KAVELO_PLATFORM_DATABASE_H
#define KAVELO_PLATFORM_DATABASE_H

#include "platform/Status.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <vector>

namespace kavelo::platform {

// How a value enters a line of comma-separated values: as it stands, or without its leading and trailing blanks
// (U+0020 only).
enum class CsvForm
{
    AsStored,
    Trimmed,
};

// A prepared statement. Values are only ever bound as parameters, never joined into SQL text.
// A failed bind is remembered and reported by the next step().
class Statement
{
  public:
    virtual ~Statement() = default;

    // 1-based parameter index. Text is bound as it stands; an empty text is empty text, not NULL.
    virtual void bind(int index, QStringView value) = 0;
    // Text already held as UTF-8.
    virtual void bindUtf8(int index, QByteArrayView value) = 0;
    virtual void bindNull(int index) = 0;
    virtual void bindInteger(int index, qint64 value) = 0;
    // True while a result row is available, false when the statement has run to its end.
    virtual Result<bool> step() = 0;
    // Makes the statement ready to run again with new bindings.
    virtual void reset() = 0;

    // 0-based result columns of the current row. A NULL reads as empty text.
    virtual QString text(int column) const = 0;
    // The column's text as the database holds it, UTF-8, without a copy: valid until the next step() or reset().
    virtual QByteArrayView utf8(int column) const = 0;
    virtual bool isNull(int column) const = 0;
    virtual qint64 integer(int column) const = 0;
};

// The master database. SQLite is the embedded default; the interface leaves room for a server database.
class Database
{
  public:
    enum class OpenMode
    {
        ExistingOnly, // a missing file is an error naming it
        CreateIfMissing,
        ReadOnly, // an existing file, opened for reading only: nothing of it changes (verify, backup)
    };

    virtual ~Database() = default;

    static Result<std::unique_ptr<Database>> openSqlite(const QString& path, OpenMode mode);

    virtual const QString& path() const = 0;
    // For fixed statements without values (schema, pragmas).
    virtual Status exec(const QString& sql) = 0;
    virtual Result<std::unique_ptr<Statement>> prepare(const QString& sql) = 0;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    virtual qint64 changes() const = 0;
    // False when no transaction is open, also after the database gave one up itself (a full disk, an I/O error).
    virtual bool inTransaction() const = 0;
    virtual Result<bool> hasTable(const QString& table) = 0;
    // Defines the SQL function `name`(v1, v2, ...) on this connection: the values joined by commas into one text,
    // value i in the form forms[i] (a value beyond `forms` as it stands), NULL as an empty field. The values are
    // read without a copy, so a statement can put a row's export line together as it reads the row.
    virtual Status defineCsvLine(const QString& name, std::vector<CsvForm> forms) = 0;
};

// Copies the SQLite database `source` into the new file `target` with SQLite's online backup API: a consistent copy
// of a committed state, taken while other connections go on writing (in write-ahead-log mode nobody waits for it).
// It goes in steps of a few megabytes, `afterStep` told the bytes of the copy so far after each (the caller sends
// them on to the disk); when another connection writes between two steps, which starts the copy again, the rest
// is copied in one read transaction, so that a long poll cannot keep it starting again. The copy is a single file
// (rollback journal, no -wal beside it). An existing `target` is an error.
Status backupSqlite(const QString& source,
                    const QString& target,
                    const std::function<void(qint64 copiedBytes)>& afterStep = {});

// Double-quotes an identifier (table or column name) for SQL text; the one way names enter statements.
QString quoteIdentifier(QStringView name);

// All-or-nothing: rolls back on destruction unless commit() succeeded.
class Transaction
{
  public:
    static Result<std::unique_ptr<Transaction>> begin(Database& database);
    ~Transaction();

    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    Status commit();

  private:
    explicit Transaction(Database& database);

    Database& m_database;
    bool m_open = true;
};

} // namespace kavelo::platform

#endif
