#ifndef KAVELO_DISTRIBUTION_UPDATEBATCH_H
#define KAVELO_DISTRIBUTION_UPDATEBATCH_H

#include "batch/BatchUser.h"
#include "batch/KeyWalk.h"
#include "batch/LineRows.h"
#include "distribution/MasterUpdate.h"
#include "distribution/UpdateStatements.h"
#include "masters/MasterDefinition.h"

#include <QString>

#include <stop_token>
#include <vector>

namespace kavelo::distribution {

// Applies the lines of one update file to one terminal's rows, a batch at a time (batch::applyInBatches). Every
// line sets the whole assignment list of its key's row, so of several lines of one key only the last one's values
// remain, and a key that is new gets one row: applying a batch in key order, each key's last line only, gives the
// rows that applying the lines one by one in file order gives.
//
// Per batch: every key's row is looked up first, walking the (terminal, key) index in key order with nothing
// changed meanwhile; then the new keys' rows are added, in key order, several to a statement, so that both key
// indexes grow page after page; then the found rows are replaced in rowid order, so that the table is walked once
// in storage order instead of page by page at random.
class UpdateBatch final : public batch::BatchUser
{
public:
  // A stop asked for gives the update up before its next row.
  UpdateBatch(const masters::MasterDefinition& master,
              UpdateStatements& statements,
              QString terminalId,
              QString updatePath,
              std::stop_token stop);

  std::optional<Admitted> admit(QStringView line) override;
  platform::Status apply(batch::LineBatch& batch) override;

  // Lines read, rows added and replaced so far.
  const UpdateSummary& summary() const { return m_summary; }

private:
    // A key of the batch whose row was found: its last line and that row.
    struct Found
    {
        size_t line;
        qint64 rowid;
        bool keyUnchanged; // the stored key equals the line's exactly: the key column stays as it is
    };

    platform::Status findRows(batch::LineBatch& batch);
    void count(const batch::LineBatch& batch);
    platform::Status replaceFound(batch::LineBatch& batch);
    // Binds the assignment list from ?2 + base on, leaving out the field `skip`.
    void bindFields(platform::Statement& statement, QStringView line, int skip, int base);
    platform::Status lineError(qint64 lineNumber, const QString& reason) const;

    const masters::MasterDefinition& m_master;
    UpdateStatements& m_statements;
    const QString m_terminalId;
    const QString m_updatePath;
    const std::stop_token m_stop;
    // A new row: the terminal ID, then the assignment list.
    const batch::BindLine m_bindNew;
    batch::KeyWalk m_walk;
    UpdateSummary m_summary;
    QString m_scratch;
    std::vector<batch::KeyWalk::Entry> m_entries;
    // Of the batch being applied: the last line of each new key, and the keys found.
    std::vector<size_t> m_new;
    std::vector<Found> m_found;
};

} // namespace kavelo::distribution

#endif
