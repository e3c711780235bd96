#ifndef KAVELO_DB_SQLITEUPDATEWORK_H
#define KAVELO_DB_SQLITEUPDATEWORK_H

#include "batch/KeyWalk.h"
#include "db/MasterStore.h"
#include "db/SqliteUpdateStatements.h"
#include "masters/MasterDefinition.h"
#include "platform/Database.h"

#include <QString>

#include <memory>
#include <vector>

namespace kavelo::db {

// One terminal's update of one master in a SQLite database, one transaction.
//
// Per batch: every key's row is looked up first, walking the (terminal, key) index in key order with nothing
// changed meanwhile; then the new keys' rows are added, in key order, several to a statement, so that both key
// indexes grow page after page; then the found rows are replaced in rowid order, so that the table is walked once
// in storage order instead of page by page at random.
class SqliteUpdateWork final : public UpdateWork
{
  public:
    // Prepares the statements and begins the transaction. `committed` is set once the work has committed.
    static platform::Result<std::unique_ptr<SqliteUpdateWork>> start(platform::Database& database,
                                                                     const masters::MasterDefinition& master,
                                                                     const QString& terminalId,
                                                                     bool& committed);

    platform::Result<qint64> apply(DecidedRows& rows) override;
    platform::Result<WrittenExport> writeExport(const QString& exportPath) override;
    platform::Status commit() override;

  private:
    // A key of the batch whose row was found: its decided row and that row.
    struct Found
    {
        size_t row;
        qint64 rowid;
        bool keyUnchanged; // the stored key equals the line's exactly: the key column stays as it is
    };

    SqliteUpdateWork(const QString& terminalId, SqliteUpdateStatements statements, bool& committed);
    platform::Status findRows(DecidedRows& rows);
    platform::Status replaceFound(DecidedRows& rows);
    // Binds the values from ?2 + base on, leaving out the field `skip`.
    static void bindFields(platform::Statement& statement, std::span<const QStringView> values, int skip, int base);

    const QString m_terminalId;
    bool& m_committed;
    std::unique_ptr<platform::Transaction> m_transaction;
    SqliteUpdateStatements m_statements;
    batch::KeyWalk m_walk;
    std::vector<batch::KeyWalk::Entry> m_entries;
    // Of the batch being applied: the rows of the new keys, and the keys found.
    std::vector<size_t> m_new;
    std::vector<Found> m_found;
};

} // namespace kavelo::db

#endif
