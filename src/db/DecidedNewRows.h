#ifndef KAVELO_DB_DECIDEDNEWROWS_H
#define KAVELO_DB_DECIDEDNEWROWS_H

#include "batch/RowInserter.h"
#include "db/MasterStore.h"

#include <QString>

#include <vector>

namespace kavelo::db {

// The rows a SQLite work adds for some of a batch's decided rows, as a RowInserter asks for them: each bound as the
// terminal ID (NULL for an imported row), then the row's values. A refused row is named by its line; a stop asked
// for is noticed after each row.
class DecidedNewRows final : public batch::NewRows
{
  public:
    // `rows` and `picked` are borrowed for the length of one RowInserter::add. A null `terminalId`: NULL. `done`: the
    // rows of the batch applied before these, for the work's progress.
    DecidedNewRows(DecidedRows& rows, const std::vector<size_t>& picked, QString terminalId, size_t done);

    size_t count() const override { return m_picked.size(); }
    platform::Status bind(platform::Statement& statement, size_t row, int base) override;
    platform::Status refused(size_t row, const QString& reason) const override;
    platform::Status added(size_t row) override;

  private:
    DecidedRows& m_rows;
    const std::vector<size_t>& m_picked;
    const QString m_terminalId;
    const size_t m_done;
};

} // namespace kavelo::db

#endif
