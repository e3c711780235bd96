#include "distribution/UpdateBatch.h"

#include "masters/Fields.h"

#include <algorithm>

namespace kavelo::distribution {

using batch::LineBatch;
using platform::Result;
using platform::Statement;
using platform::Status;

UpdateBatch::UpdateBatch(const masters::MasterDefinition& master,
                         UpdateStatements& statements,
                         QString terminalId,
                         QString updatePath,
                         std::stop_token stop)
    : m_master(master)
    , m_statements(statements)
    , m_terminalId(std::move(terminalId))
    , m_updatePath(std::move(updatePath))
    , m_stop(std::move(stop))
    , m_bindNew([this](Statement& statement, QStringView line, int base) {
        statement.bind(base + 1, m_terminalId);
        bindFields(statement, line, -1, base);
    })
    , m_walk(*statements.walk, m_terminalId)
{
}

std::optional<batch::BatchUser::Admitted> UpdateBatch::admit(QStringView line)
{
    ++m_summary.linesRead;
    if (line.isEmpty()) {
        return std::nullopt; // an empty line is no record: it would add a row with an empty key
    }
    return Admitted{masters::cutFieldView(line, m_master.updateKey, m_scratch)};
}

Status UpdateBatch::apply(LineBatch& batch)
{
    batch.sortByKey();
    m_new.clear();
    m_found.clear();
    Status status = findRows(batch);
    if (status.isOk()) {
        count(batch);
        batch::LineRows rows(batch, m_new, m_updatePath, m_bindNew, m_stop);
        status = m_statements.add->add(rows);
    }
    if (status.isOk()) {
        status = replaceFound(batch);
    }
    return status;
}

// Looks up the row of every key of the batch; of several rows whose keys match, the first in the index is taken.
Status UpdateBatch::findRows(LineBatch& batch)
{
    Status status = Status::ok();
    for (size_t first = 0; first < batch.size() && status.isOk();) {
        const size_t end = batch.keyEnd(first);
        const size_t last = end - 1;
        m_entries.clear();
        Result<size_t> found = m_walk.find(batch.comparedKey(last), batch.key(last), m_entries);
        if (!found.isOk()) {
            status = lineError(batch.lineNumber(last), found.status().message());
        } else if (*found == 0) {
            m_new.push_back(last);
        } else {
            m_found.push_back({last, m_entries.front().rowid, m_statements.keyField >= 0 && m_entries.front().exact});
        }
        first = end;
    }
    m_walk.finish();
    return status;
}

// Every line counts as added or replaced: the last line of a new key as added, every other line (a key's earlier
// lines too, as replacements of the row its first line would add) as replaced.
void UpdateBatch::count(const LineBatch& batch)
{
    m_summary.rowsAdded += static_cast<qint64>(m_new.size());
    m_summary.rowsReplaced += static_cast<qint64>(batch.size() - m_new.size());
}

Status UpdateBatch::replaceFound(LineBatch& batch)
{
    std::sort(m_found.begin(), m_found.end(), [](const Found& a, const Found& b) { return a.rowid < b.rowid; });
    for (const Found& found : m_found) {
        if (m_stop.stop_requested()) {
            return batch::stoppedWork(m_updatePath);
        }
        Statement& replace = found.keyUnchanged ? *m_statements.replaceKept : *m_statements.replaceAll;
        const std::optional<QStringView> text = batch.text(found.line);
        if (!text) {
            return batch::undecodableLine(m_updatePath, batch.lineNumber(found.line));
        }
        bindFields(replace, *text, found.keyUnchanged ? m_statements.keyField : -1, 0);
        replace.bindInteger(1, found.rowid);
        Result<bool> replaced = replace.step();
        replace.reset();
        if (!replaced.isOk()) {
            return lineError(batch.lineNumber(found.line), replaced.status().message());
        }
    }
    return Status::ok();
}

void UpdateBatch::bindFields(Statement& statement, QStringView line, int skip, int base)
{
    for (size_t i = 0; i < m_master.updateFields.size(); ++i) {
        if (static_cast<int>(i) != skip) {
            statement.bind(base + static_cast<int>(i) + 2,
                           masters::cutFieldView(line, m_master.updateFields[i], m_scratch));
        }
    }
}

Status UpdateBatch::lineError(qint64 lineNumber, const QString& reason) const
{
    return Status::lineError(m_updatePath, lineNumber, reason);
}

} // namespace kavelo::distribution
