#include "db/BatchRows.h"

#include "batch/BatchUser.h"
#include "masters/Fields.h"

namespace kavelo::db {

using platform::Result;
using platform::Status;

BatchRows::BatchRows(
    batch::LineBatch& batch, const masters::MasterDefinition& master, Kind kind, QString path, Progress progress)
    : m_batch(batch)
    , m_fields(kind == Kind::Update ? master.updateFields : master.importFields)
    , m_path(std::move(path))
    , m_progress(std::move(progress))
    , m_values(m_fields.size())
    , m_scratch(m_fields.size())
{
    m_batch.sortByKey();
    for (size_t first = 0; first < m_batch.size();) {
        const size_t end = m_batch.keyEnd(first);
        m_lines.push_back(end - 1);
        first = end;
    }
}

QByteArrayView BatchRows::comparedKey(size_t i) const
{
    const std::string_view key = m_batch.comparedKey(m_lines[i]);
    return QByteArrayView(key.data(), static_cast<qsizetype>(key.size()));
}

bool BatchRows::deletes(size_t i) const
{
    return m_batch.tag(m_lines[i]) == static_cast<quint8>(masters::HostOperation::Delete);
}

Result<std::span<const QStringView>> BatchRows::values(size_t i)
{
    const size_t line = m_lines[i];
    const std::optional<QStringView> text = m_batch.text(line);
    if (!text) {
        return batch::undecodableLine(m_path, m_batch.lineNumber(line));
    }
    for (size_t f = 0; f < m_fields.size(); ++f) {
        m_values[f] = masters::cutFieldView(*text, m_fields[f], m_scratch[f]);
    }
    return std::span<const QStringView>(m_values);
}

Status BatchRows::refused(size_t i, const QString& reason) const
{
    return Status::lineError(m_path, m_batch.lineNumber(m_lines[i]), reason);
}

Status BatchRows::progressed(size_t done)
{
    return m_progress ? m_progress(done, m_lines.size()) : Status::ok();
}

} // namespace kavelo::db
