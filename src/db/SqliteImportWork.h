#ifndef KAVELO_DB_SQLITEIMPORTWORK_H
#define KAVELO_DB_SQLITEIMPORTWORK_H

#include "batch/KeyWalk.h"
#include "batch/RowInserter.h"
#include "db/MasterStore.h"
#include "masters/MasterDefinition.h"
#include "platform/Database.h"

#include <QString>

#include <array>
#include <memory>
#include <vector>

namespace kavelo::db {

// The row with the key as the record has it that a replacement rewrites in place, and so which key index entries
// change with it.
enum class Rewrite
{
    ImportedRow, // an imported row: neither key index changes
    TerminalRow, // a terminal's row: it becomes an imported row, its (terminal, key) entry moves
};

// One host file's import into one master of a SQLite database, one transaction.
//
// A batch is applied in key order, a few hundred keys at a time: their rows are looked up first, walking the key
// index with nothing changed meanwhile; then, key by key, a replacement that finds a row with its key stored as the
// record has it rewrites that row in place with the record's values and deletes the key's other rows (the same
// content as delete and insert; only the rewritten row keeps an old rowid, and nothing reads the rowids of
// imported rows), preferring an imported row, which leaves both key indexes as they are; otherwise it deletes the
// key's rows, as a delete does; last, the records of the keys that need a new row are inserted, several to a
// statement. The pages of the three steps are still in the page cache when the next step comes to them.
class SqliteImportWork final : public ImportWork
{
  public:
    // Prepares the statements and begins the transaction. `committed` is set once the work has committed.
    static platform::Result<std::unique_ptr<SqliteImportWork>>
    start(platform::Database& database, const masters::MasterDefinition& master, bool& committed);

    platform::Status apply(DecidedRows& rows) override;
    platform::Status commit() override;

  private:
    // A key of the batch: its decided row and the rows found for it (in m_entries).
    struct Key
    {
        size_t row;
        size_t firstEntry;
        size_t entries;
    };

    SqliteImportWork(const masters::MasterDefinition& master, bool& committed);
    platform::Result<size_t> findRows(DecidedRows& rows, size_t first);
    platform::Status applyKey(DecidedRows& rows, const Key& key);
    platform::Status rewrite(const batch::KeyWalk::Entry& row, std::span<const QStringView> values);
    platform::Status removeRows(const Key& key, qint64 kept);

    const int m_keyField; // the key column among the record's values, or -1
    bool& m_committed;
    std::unique_ptr<platform::Transaction> m_transaction;
    std::unique_ptr<platform::Statement> m_walkStatement;
    std::unique_ptr<batch::KeyWalk> m_walk;
    std::unique_ptr<platform::Statement> m_removeRow;
    std::array<std::unique_ptr<platform::Statement>, 2> m_rewrites; // by Rewrite
    std::unique_ptr<batch::RowInserter> m_insert;
    // Of the batch being applied.
    std::vector<Key> m_keys;
    std::vector<batch::KeyWalk::Entry> m_entries;
    std::vector<size_t> m_new; // the rows of the keys that get a new row
};

} // namespace kavelo::db

#endif
