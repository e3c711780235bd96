#include "db/BatchRows.h"

#include "masters/Fields.h"

namespace kavelo::db {

using platform::Result;
using platform::Status;

BatchRows::BatchRows(batch::LineBatch& batch, const masters::MasterDefinition& master, Kind kind, QString path)
    : m_batch(batch)
    , m_key(kind == Kind::Update ? master.updateKey : master.importKey)
    , m_fields(kind == Kind::Update ? master.updateFields : master.importFields)
    , m_path(std::move(path))
    , m_values(m_fields.size())
    , m_scratch(m_fields.size())
{
}

void BatchRows::decide()
{
    m_batch.sortByKey();
    m_lines.clear();
    for (size_t first = 0; first < m_batch.size();) {
        const size_t end = m_batch.keyEnd(first);
        m_lines.push_back(end - 1);
        first = end;
    }
}

Result<DecidedRow> BatchRows::row(size_t i)
{
    const size_t line = m_lines[i];
    const std::optional<QStringView> text = m_batch.text(line);
    if (!text) {
        return refused(i, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    }
    for (size_t f = 0; f < m_fields.size(); ++f) {
        m_values[f] = masters::cutFieldView(*text, m_fields[f], m_scratch[f]);
    }
    const bool deletes = m_batch.tag(line) == static_cast<quint8>(masters::HostOperation::Delete);
    return DecidedRow{masters::cutFieldView(*text, m_key, m_keyScratch), deletes, m_values};
}

Status BatchRows::refused(size_t i, const QString& reason) const
{
    return Status::lineError(m_path, m_batch.lineNumber(m_lines[i]), reason);
}

} // namespace kavelo::db
