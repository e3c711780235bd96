#include "distribution/UpdateBatch.h"

#include "masters/Fields.h"

#include <algorithm>

namespace kavelo::distribution {

using batch::LineBatch;
using platform::Result;
using platform::Statement;
using platform::Status;

// The new keys' rows of one batch, for the inserter: the terminal ID, then the assignment list.
class UpdateBatch::NewRows final : public batch::NewRows
{
public:
    NewRows(UpdateBatch& update, LineBatch& batch)
        : m_update(update)
        , m_batch(batch)
    {
    }

    size_t count() const override { return m_update.m_new.size(); }

    Status bind(Statement& statement, size_t row, int base) override
    {
        const size_t line = m_update.m_new[row];
        const std::optional<QStringView> text = m_batch.text(line);
        if (!text) {
            return m_update.undecodable(m_batch, line);
        }
        statement.bind(base + 1, m_update.m_terminalId);
        m_update.bindFields(statement, *text, -1, base);
        return Status::ok();
    }

    Status refused(size_t row, const QString& reason) const override
    {
        return m_update.lineError(m_batch.lineNumber(m_update.m_new[row]), reason);
    }

    Status added(size_t) override { return m_update.yield(); }

private:
    UpdateBatch& m_update;
    LineBatch& m_batch;
};

UpdateBatch::UpdateBatch(const masters::MasterDefinition& master,
                         UpdateStatements& statements,
                         QString terminalId,
                         QString updatePath,
                         const YieldHook& yield,
                         const std::function<bool()>& stopping)
    : m_master(master)
    , m_statements(statements)
    , m_terminalId(std::move(terminalId))
    , m_updatePath(std::move(updatePath))
    , m_yield(yield)
    , m_stopping(stopping)
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
        status = countAndYield(batch);
    }
    if (status.isOk()) {
        NewRows rows(*this, batch);
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

// Every line counts as added or replaced (a key's earlier lines as replacements of the row its first line would
// add) and yields once: here, or, for the last line of a new key, when its row has been added.
Status UpdateBatch::countAndYield(LineBatch& batch)
{
    size_t nextNew = 0;
    for (size_t line = 0; line < batch.size(); ++line) {
        if (nextNew < m_new.size() && m_new[nextNew] == line) {
            ++nextNew;
            ++m_summary.rowsAdded;
            continue;
        }
        ++m_summary.rowsReplaced;
        Status yielded = yield();
        if (!yielded.isOk()) {
            return yielded;
        }
    }
    return Status::ok();
}

Status UpdateBatch::replaceFound(LineBatch& batch)
{
    std::sort(m_found.begin(), m_found.end(), [](const Found& a, const Found& b) { return a.rowid < b.rowid; });
    for (const Found& found : m_found) {
        Statement& replace = found.keyUnchanged ? *m_statements.replaceKept : *m_statements.replaceAll;
        const std::optional<QStringView> text = batch.text(found.line);
        if (!text) {
            return undecodable(batch, found.line);
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

Status UpdateBatch::yield()
{
    if (!m_master.yieldsPerRow || !m_yield) {
        return Status::ok();
    }
    m_yield();
    if (m_stopping && m_stopping()) {
        return Status::error(QStringLiteral("%1: the program is ending; nothing of this update is stored")
                                 .arg(m_updatePath));
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
    return platform::ShiftJisLineReader::lineError(m_updatePath, lineNumber, reason);
}

Status UpdateBatch::undecodable(const LineBatch& batch, size_t line) const
{
    return lineError(batch.lineNumber(line), QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
}

} // namespace kavelo::distribution
