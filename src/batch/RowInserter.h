#ifndef KAVELO_BATCH_ROWINSERTER_H
#define KAVELO_BATCH_ROWINSERTER_H

#include "platform/Database.h"
#include "platform/Status.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace kavelo::batch {

// The new rows of a batch, as a RowInserter asks for them.
class NewRows
{
  public:
    virtual ~NewRows() = default;

    virtual size_t count() const = 0;
    // Binds the values of row `row`, the first parameter being base + 1, in the order of the inserter's columns.
    virtual platform::Status bind(platform::Statement& statement, size_t row, int base) = 0;
    // The error of a refused row: names its line.
    virtual platform::Status refused(size_t row, const QString& reason) const = 0;
    // Runs after each row added; an error stops the insert.
    virtual platform::Status added(size_t row) = 0;
};

// Adds new rows to a table kRowsPerStatement to a statement: one statement's setup and end for several rows. A
// statement that fails has stored none of its rows; they are then added one by one, so that the error names the
// refused row. Not when the database gave up the whole transaction with the failure: the rows would then be
// stored outside it, one by one.
class RowInserter
{
  public:
    static constexpr int kRowsPerStatement = 16;

    // `columns`: the quoted columns that each row gives values for, in the order they are bound.
    static platform::Result<std::unique_ptr<RowInserter>>
    prepare(platform::Database& database, const QString& table, const QStringList& columns);

    RowInserter(const RowInserter&) = delete;
    RowInserter& operator=(const RowInserter&) = delete;

    // Adds every row of `rows` in their order.
    platform::Status add(NewRows& rows);

  private:
    RowInserter(platform::Database& database, int perRow);
    platform::Status addOne(NewRows& rows, size_t row);
    platform::Result<bool> addSeveral(NewRows& rows, size_t first);

    platform::Database& m_database;
    const int m_perRow;
    std::unique_ptr<platform::Statement> m_one;
    std::unique_ptr<platform::Statement> m_several;
};

} // namespace kavelo::batch

#endif
