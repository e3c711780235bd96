#ifndef KAVELO_IMPORT_IMPORTBATCH_H
#define KAVELO_IMPORT_IMPORTBATCH_H

#include "batch/BatchUser.h"
#include "batch/KeyWalk.h"
#include "batch/LineRows.h"
#include "batch/RowInserter.h"
#include "import/HostImport.h"
#include "masters/MasterDefinition.h"
#include "platform/Database.h"

#include <QString>

#include <array>
#include <memory>
#include <stop_token>
#include <vector>

namespace kavelo::import {

// The row with the key as the record has it that a replacement rewrites in place, and so which key index entries
// change with it.
enum class Rewrite
{
    ImportedRow, // an imported row: neither key index changes
    TerminalRow, // a terminal's row: it becomes an imported row, its (terminal, key) entry moves
};

// Applies the records of one host file to the master's table, a batch at a time (batch::applyInBatches). A record
// of flag "1" or "2" deletes every row of its key (of every terminal and earlier imports alike, trailing blanks
// ignored) and inserts itself; one of flag "3" only deletes; any other line is skipped. So the last record of a key
// alone decides what the table holds of that key afterwards: one row with that record's values, or none. A batch
// is therefore applied in key order, each key's last record only, which gives the table of applying the records
// one by one in file order.
//
// A batch is applied in key order, a few hundred keys at a time: their rows are looked up first, walking the key
// index with nothing changed meanwhile; then, key by key, a replacement that finds a row with its key stored as the
// record has it rewrites that row in place with the record's values and deletes the key's other rows (the same
// content as delete and insert; only the rewritten row keeps an old rowid, and nothing reads the rowids of
// imported rows), preferring an imported row, which leaves both key indexes as they are; otherwise it deletes the
// key's rows, as a delete does; last, the records of the keys that need a new row are inserted, several to a
// statement. The pages of the three steps are still in the page cache when the next step comes to them.
class ImportBatch final : public batch::BatchUser
{
public:
  // `reader` is the host file's, for the progress reports. A stop asked for gives the import up before its next
  // step or new row.
  static platform::Result<std::unique_ptr<ImportBatch>> prepare(platform::Database& database,
                                                                const masters::MasterDefinition& master,
                                                                const platform::ShiftJisLineReader& reader,
                                                                const ProgressHook& progress,
                                                                std::stop_token stop = {});

  std::optional<Admitted> admit(QStringView line) override;
  platform::Status apply(batch::LineBatch& batch) override;

  const ImportSummary& summary() const { return m_summary; }

private:
    // A key of the batch: its last record and the rows found for it (in m_entries).
    struct Key
    {
        size_t line;
        size_t firstEntry;
        size_t entries;
    };
    ImportBatch(const masters::MasterDefinition& master,
                const platform::ShiftJisLineReader& reader,
                const ProgressHook& progress,
                std::stop_token stop);
    platform::Result<size_t> findRows(batch::LineBatch& batch, size_t first);
    platform::Status applyKey(batch::LineBatch& batch, const Key& key);
    platform::Status rewrite(const batch::KeyWalk::Entry& row);
    platform::Status removeRows(const Key& key, qint64 kept);
    void cutValues(QStringView line);
    int bindValues(platform::Statement& statement, int base);
    void progressed(size_t done, size_t total);
    platform::Status lineError(const batch::LineBatch& batch, size_t line, const QString& reason) const;

    const masters::MasterDefinition& m_master;
    const platform::ShiftJisLineReader& m_reader;
    const ProgressHook& m_progress;
    const std::stop_token m_stop;
    // A new row: the terminal ID (NULL), then the record's values.
    const batch::BindLine m_bindNew;
    const int m_keyField; // the key column among the record's values, or -1
    std::unique_ptr<platform::Statement> m_walkStatement;
    std::unique_ptr<batch::KeyWalk> m_walk;
    std::unique_ptr<platform::Statement> m_removeRow;
    std::array<std::unique_ptr<platform::Statement>, 2> m_rewrites; // by Rewrite
    std::unique_ptr<batch::RowInserter> m_insert;
    ImportSummary m_summary;
    // The record's values: views into the current line (or into their scratch text).
    std::vector<QStringView> m_values;
    std::vector<QString> m_scratch;
    QString m_keyScratch;
    // Of the batch being applied.
    std::vector<Key> m_keys;
    std::vector<batch::KeyWalk::Entry> m_entries;
    std::vector<size_t> m_new; // the last lines of the keys that get a new row
    // Progress: bytes of the host file accounted for before this batch and at its end, and the next report.
    qint64 m_batchStart = 0;
    qint64 m_batchEnd = 0;
    qint64 m_nextReport = 0;
};

} // namespace kavelo::import

#endif
