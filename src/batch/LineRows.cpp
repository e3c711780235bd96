#include "batch/LineRows.h"

namespace kavelo::batch {

using platform::Status;

LineRows::LineRows(LineBatch& batch,
                   const std::vector<size_t>& lines,
                   const QString& file,
                   const BindLine& bind,
                   const std::stop_token& stop)
    : m_batch(batch)
    , m_lines(lines)
    , m_file(file)
    , m_bind(bind)
    , m_stop(stop)
{
}

Status LineRows::bind(platform::Statement& statement, size_t row, int base)
{
    const size_t line = m_lines[row];
    const std::optional<QStringView> text = m_batch.text(line);
    if (!text) {
        return undecodableLine(m_file, m_batch.lineNumber(line));
    }
    m_bind(statement, *text, base);
    return Status::ok();
}

Status LineRows::refused(size_t row, const QString& reason) const
{
    return Status::lineError(m_file, m_batch.lineNumber(m_lines[row]), reason);
}

Status LineRows::added(size_t)
{
    return m_stop.stop_requested() ? stoppedWork(m_file) : Status::ok();
}

Status undecodableLine(const QString& file, qint64 lineNumber)
{
    return Status::lineError(file, lineNumber, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
}

Status stoppedWork(const QString& file)
{
    return Status::fileError(file, QStringLiteral("the program is ending; nothing of this file is stored"));
}

} // namespace kavelo::batch
