#include "batch/RowInserter.h"

namespace kavelo::batch {

using platform::Result;
using platform::Statement;
using platform::Status;

namespace {

// "(?b+1, ?b+2, ...)" for the row whose first parameter is b + 1.
QString rowParameters(int base, int perRow)
{
    QStringList parameters;
    for (int k = 1; k <= perRow; ++k) {
        parameters << QStringLiteral("?%1").arg(base + k);
    }
    return QLatin1Char('(') + parameters.join(QStringLiteral(", ")) + QLatin1Char(')');
}

} // namespace

RowInserter::RowInserter(platform::Database& database, int perRow)
    : m_database(database)
    , m_perRow(perRow)
{
}

Result<std::unique_ptr<RowInserter>>
RowInserter::prepare(platform::Database& database, const QString& table, const QStringList& columns)
{
    std::unique_ptr<RowInserter> inserter(new RowInserter(database, static_cast<int>(columns.size())));
    QStringList rows;
    for (int row = 0; row < kRowsPerStatement; ++row) {
        rows << rowParameters(row * inserter->m_perRow, inserter->m_perRow);
    }
    const QString insert = QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table, columns.join(QStringLiteral(", ")));
    Result<std::unique_ptr<Statement>> one = database.prepare(insert + rows.front());
    if (!one.isOk()) {
        return one.status();
    }
    Result<std::unique_ptr<Statement>> several = database.prepare(insert + rows.join(QStringLiteral(", ")));
    if (!several.isOk()) {
        return several.status();
    }
    inserter->m_one = std::move(*one);
    inserter->m_several = std::move(*several);
    return inserter;
}

Status RowInserter::addOne(NewRows& rows, size_t row)
{
    Status bound = rows.bind(*m_one, row, 0);
    Result<bool> added = bound.isOk() ? m_one->step() : Result<bool>(bound);
    m_one->reset();
    if (!added.isOk()) {
        return bound.isOk() ? rows.refused(row, added.status().message()) : bound;
    }
    return Status::ok();
}

// True when the statement stored the rows first to first + kRowsPerStatement; false when it stored none of them
// and they can be added one by one.
Result<bool> RowInserter::addSeveral(NewRows& rows, size_t first)
{
    Status bound = Status::ok();
    for (int row = 0; row < kRowsPerStatement && bound.isOk(); ++row) {
        bound = rows.bind(*m_several, first + size_t(row), row * m_perRow);
    }
    Result<bool> stepped = bound.isOk() ? m_several->step() : Result<bool>(bound);
    m_several->reset();
    if (stepped.isOk()) {
        return true;
    }
    if (!m_database.inTransaction()) {
        return rows.refused(first,
                            QStringLiteral("%1 (one of %2 lines added together)")
                                .arg(stepped.status().message())
                                .arg(kRowsPerStatement));
    }
    return false;
}

Status RowInserter::add(NewRows& rows)
{
    const size_t total = rows.count();
    for (size_t next = 0; next < total;) {
        const size_t count = std::min(total - next, size_t(kRowsPerStatement));
        bool stored = false;
        if (count == size_t(kRowsPerStatement)) {
            Result<bool> several = addSeveral(rows, next);
            if (!several.isOk()) {
                return several.status();
            }
            stored = *several;
        }
        for (size_t row = next; row < next + count; ++row) {
            Status done = stored ? Status::ok() : addOne(rows, row);
            if (done.isOk()) {
                done = rows.added(row);
            }
            if (!done.isOk()) {
                return done;
            }
        }
        next += count;
    }
    return Status::ok();
}

} // namespace kavelo::batch
