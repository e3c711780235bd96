#ifndef KAVELO_BATCH_LINEROWS_H
#define KAVELO_BATCH_LINEROWS_H

#include "batch/LineBatch.h"
#include "batch/RowInserter.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <stop_token>
#include <vector>

namespace kavelo::batch {

// Binds the values of one line from parameter base + 1 on, in the order of the inserter's columns.
using BindLine = std::function<void(platform::Statement& statement, QStringView line, int base)>;

// The new rows of a batch, one for each of the given lines, as a RowInserter asks for them: the one binder of the
// update and the import, which differ only in what they bind from a line. A refused row is named by its file and
// line; a stop asked for is noticed after each row.
class LineRows final : public NewRows
{
  public:
    // The batch, the lines, the file and the binder are borrowed for the length of one RowInserter::add.
    LineRows(LineBatch& batch,
             const std::vector<size_t>& lines,
             const QString& file,
             const BindLine& bind,
             const std::stop_token& stop);

    size_t count() const override { return m_lines.size(); }
    platform::Status bind(platform::Statement& statement, size_t row, int base) override;
    platform::Status refused(size_t row, const QString& reason) const override;
    platform::Status added(size_t row) override;

  private:
    LineBatch& m_batch;
    const std::vector<size_t>& m_lines;
    const QString& m_file;
    const BindLine& m_bind;
    const std::stop_token m_stop;
};

// The error of a held line whose bytes no longer decode.
platform::Status undecodableLine(const QString& file, qint64 lineNumber);

// The error of work given up because the program is ending: nothing of `file` is stored.
platform::Status stoppedWork(const QString& file);

} // namespace kavelo::batch

#endif
