#include "db/SqliteUpdateWork.h"

#include "db/DecidedNewRows.h"
#include "db/SqliteExport.h"

#include <algorithm>
#include <string_view>

namespace kavelo::db {

using platform::Result;
using platform::Statement;
using platform::Status;

SqliteUpdateWork::SqliteUpdateWork(const QString& terminalId, SqliteUpdateStatements statements, bool& committed)
    : m_terminalId(terminalId)
    , m_committed(committed)
    , m_statements(std::move(statements))
    , m_walk(*m_statements.walk, m_terminalId)
{
}

Result<std::unique_ptr<SqliteUpdateWork>> SqliteUpdateWork::start(platform::Database& database,
                                                                  const masters::MasterDefinition& master,
                                                                  const QString& terminalId,
                                                                  bool& committed)
{
    Result<SqliteUpdateStatements> statements = SqliteUpdateStatements::prepare(database, master);
    if (!statements.isOk()) {
        return statements.status();
    }
    std::unique_ptr<SqliteUpdateWork> work(new SqliteUpdateWork(terminalId, std::move(*statements), committed));
    Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(database);
    if (!transaction.isOk()) {
        return transaction.status();
    }
    work->m_transaction = std::move(*transaction);
    return work;
}

Result<qint64> SqliteUpdateWork::apply(DecidedRows& rows)
{
    m_new.clear();
    m_found.clear();
    Status status = findRows(rows);
    if (status.isOk()) {
        DecidedNewRows added(rows, m_new, m_terminalId, 0);
        status = m_statements.add->add(added);
    }
    if (status.isOk()) {
        status = replaceFound(rows);
    }
    if (!status.isOk()) {
        return status;
    }
    return static_cast<qint64>(m_new.size());
}

// Looks up the row of every key; of several rows whose keys match, the first in the index is taken.
Status SqliteUpdateWork::findRows(DecidedRows& rows)
{
    Status status = Status::ok();
    for (size_t i = 0; i < rows.count() && status.isOk(); ++i) {
        m_entries.clear();
        const QByteArrayView compared = rows.comparedKey(i);
        Result<size_t> found =
            m_walk.find(std::string_view(compared.data(), size_t(compared.size())), rows.key(i), m_entries);
        if (!found.isOk()) {
            status = rows.refused(i, found.status().message());
        } else if (*found == 0) {
            m_new.push_back(i);
        } else {
            m_found.push_back({i, m_entries.front().rowid, m_statements.keyField >= 0 && m_entries.front().exact});
        }
    }
    m_walk.finish();
    return status;
}

Status SqliteUpdateWork::replaceFound(DecidedRows& rows)
{
    std::sort(m_found.begin(), m_found.end(), [](const Found& a, const Found& b) { return a.rowid < b.rowid; });
    size_t done = m_new.size();
    for (const Found& found : m_found) {
        Status carryOn = rows.progressed(done++);
        if (!carryOn.isOk()) {
            return carryOn;
        }
        Statement& replace = found.keyUnchanged ? *m_statements.replaceKept : *m_statements.replaceAll;
        Result<std::span<const QStringView>> values = rows.values(found.row);
        if (!values.isOk()) {
            return values.status();
        }
        bindFields(replace, *values, found.keyUnchanged ? m_statements.keyField : -1, 0);
        replace.bindInteger(1, found.rowid);
        Result<bool> replaced = replace.step();
        replace.reset();
        if (!replaced.isOk()) {
            return rows.refused(found.row, replaced.status().message());
        }
    }
    return Status::ok();
}

void SqliteUpdateWork::bindFields(Statement& statement, std::span<const QStringView> values, int skip, int base)
{
    for (size_t i = 0; i < values.size(); ++i) {
        if (static_cast<int>(i) != skip) {
            statement.bind(base + static_cast<int>(i) + 2, values[i]);
        }
    }
}

Result<WrittenExport> SqliteUpdateWork::writeExport(const QString& exportPath)
{
    SqliteExport exporter(m_statements, exportPath, m_terminalId);
    Result<std::unique_ptr<platform::ShiftJisLineWriter>> file = exporter.write();
    if (!file.isOk()) {
        return file.status(); // the temporary export is removed
    }
    return WrittenExport{std::move(*file), exporter.rowsExported()};
}

Status SqliteUpdateWork::commit()
{
    Status committed = m_transaction->commit();
    m_committed = m_committed || committed.isOk();
    return committed;
}

} // namespace kavelo::db
