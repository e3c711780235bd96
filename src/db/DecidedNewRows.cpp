#include "db/DecidedNewRows.h"

namespace kavelo::db {

using platform::Status;

DecidedNewRows::DecidedNewRows(DecidedRows& rows, const std::vector<size_t>& picked, QString terminalId, size_t done)
    : m_rows(rows)
    , m_picked(picked)
    , m_terminalId(std::move(terminalId))
    , m_done(done)
{
}

Status DecidedNewRows::bind(platform::Statement& statement, size_t row, int base)
{
    platform::Result<std::span<const QStringView>> values = m_rows.values(m_picked[row]);
    if (!values.isOk()) {
        return values.status();
    }
    if (m_terminalId.isNull()) {
        statement.bindNull(base + 1);
    } else {
        statement.bind(base + 1, m_terminalId);
    }
    int index = base + 1;
    for (QStringView value : *values) {
        statement.bind(++index, value);
    }
    return Status::ok();
}

Status DecidedNewRows::refused(size_t row, const QString& reason) const
{
    return m_rows.refused(m_picked[row], reason);
}

Status DecidedNewRows::added(size_t)
{
    return m_rows.progressed(m_done);
}

} // namespace kavelo::db
