#include "db/SqliteImportWork.h"

#include "db/DecidedNewRows.h"

#include <QStringList>

#include <algorithm>

namespace kavelo::db {

using masters::MasterDefinition;
using platform::quoteIdentifier;
using platform::Result;
using platform::Statement;
using platform::Status;

namespace {

// A batch is applied this many keys at a time: their rows are looked up, then changed, then the new rows added,
// while the pages of the three are still in the page cache.
constexpr size_t kKeysPerStep = 512;

int keyFieldIndex(const MasterDefinition& master)
{
    for (size_t i = 0; i < master.importFields.size(); ++i) {
        if (master.importFields[i].column == master.importKey.column) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The stored keys and rowids of every row from a given key on, in the order of the key index, and whether the row
// is an imported one: trailing blanks ignored on both sides, so the trimmed host key also finds a terminal's row
// stored padded.
QString walkSql(const MasterDefinition& master)
{
    return QStringLiteral("SELECT %1, rowid, %3 IS NULL FROM %2 WHERE %1 >= ?1 COLLATE RTRIM ORDER BY %1 COLLATE RTRIM")
        .arg(quoteIdentifier(master.importKey.column),
             quoteIdentifier(master.name),
             quoteIdentifier(masters::kTerminalIdColumn));
}

// Gives a row with the record's key (?N, the last parameter) the record's values: the same content as deleting it
// and inserting the record. The key stays as stored, which is as the record has it; the columns the host file has
// no value for become NULL, as in an inserted row; a terminal's row becomes an imported one.
QString rewriteSql(const MasterDefinition& master, Rewrite rewrite)
{
    QStringList assignments;
    if (rewrite == Rewrite::TerminalRow) {
        assignments << QStringLiteral("%1 = NULL").arg(quoteIdentifier(masters::kTerminalIdColumn));
    }
    int index = 0;
    for (const masters::Field& field : master.importFields) {
        ++index;
        if (field.column != master.importKey.column) {
            assignments << QStringLiteral("%1 = ?%2").arg(quoteIdentifier(field.column)).arg(index);
        }
    }
    for (const QString& column : master.columns) {
        const bool imported = std::any_of(master.importFields.begin(),
                                          master.importFields.end(),
                                          [&](const masters::Field& field) { return field.column == column; });
        if (!imported && column != master.importKey.column) {
            assignments << QStringLiteral("%1 = NULL").arg(quoteIdentifier(column));
        }
    }
    return QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?%3")
        .arg(quoteIdentifier(master.name), assignments.join(QStringLiteral(", ")))
        .arg(index + 1);
}

Status run(Statement& statement)
{
    Result<bool> stepped = statement.step();
    statement.reset();
    return stepped.isOk() ? Status::ok() : stepped.status();
}

} // namespace

SqliteImportWork::SqliteImportWork(const MasterDefinition& master, bool& committed)
    : m_keyField(keyFieldIndex(master))
    , m_committed(committed)
{
}

Result<std::unique_ptr<SqliteImportWork>>
SqliteImportWork::start(platform::Database& database, const MasterDefinition& master, bool& committed)
{
    std::unique_ptr<SqliteImportWork> import(new SqliteImportWork(master, committed));
    const QString removeRow = QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(quoteIdentifier(master.name));
    const bool rewrites = import->m_keyField >= 0;
    auto rewriting = [&](Rewrite rewrite) { return rewrites ? rewriteSql(master, rewrite) : QString(); };
    for (auto [sql, target] :
         {std::pair{walkSql(master), &import->m_walkStatement},
          std::pair{removeRow, &import->m_removeRow},
          std::pair{rewriting(Rewrite::ImportedRow), &import->m_rewrites[int(Rewrite::ImportedRow)]},
          std::pair{rewriting(Rewrite::TerminalRow), &import->m_rewrites[int(Rewrite::TerminalRow)]}}) {
        if (sql.isEmpty()) {
            continue;
        }
        Result<std::unique_ptr<Statement>> statement = database.prepare(sql);
        if (!statement.isOk()) {
            return statement.status();
        }
        *target = std::move(*statement);
    }
    import->m_walk =
        std::make_unique<batch::KeyWalk>(*import->m_walkStatement, QString(), batch::KeyWalk::Flag::ThirdColumn);

    QStringList columns{quoteIdentifier(masters::kTerminalIdColumn)};
    for (const masters::Field& field : master.importFields) {
        columns << quoteIdentifier(field.column);
    }
    Result<std::unique_ptr<batch::RowInserter>> insert =
        batch::RowInserter::prepare(database, quoteIdentifier(master.name), columns);
    if (!insert.isOk()) {
        return insert.status();
    }
    import->m_insert = std::move(*insert);
    Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(database);
    if (!transaction.isOk()) {
        return transaction.status();
    }
    import->m_transaction = std::move(*transaction);
    return import;
}

Status SqliteImportWork::apply(DecidedRows& rows)
{
    Status status = Status::ok();
    for (size_t first = 0; first < rows.count() && status.isOk();) {
        status = rows.progressed(first);
        if (!status.isOk()) {
            return status;
        }
        m_keys.clear();
        m_entries.clear();
        m_new.clear();
        Result<size_t> next = findRows(rows, first);
        status = next.isOk() ? Status::ok() : next.status();
        for (size_t i = 0; i < m_keys.size() && status.isOk(); ++i) {
            status = applyKey(rows, m_keys[i]);
        }
        if (status.isOk()) {
            DecidedNewRows added(rows, m_new, QString(), first);
            status = m_insert->add(added);
        }
        if (status.isOk()) {
            first = *next;
        }
    }
    return status.isOk() ? rows.progressed(rows.count()) : status;
}

// Looks up the rows of the next kKeysPerStep keys from row `first` on; the row after them.
Result<size_t> SqliteImportWork::findRows(DecidedRows& rows, size_t first)
{
    Status status = Status::ok();
    const size_t end = std::min(rows.count(), first + kKeysPerStep);
    for (size_t row = first; row < end && status.isOk(); ++row) {
        rows.prefetch(row);
        const size_t firstEntry = m_entries.size();
        const QByteArrayView compared = rows.comparedKey(row);
        Result<size_t> found =
            m_walk->find(std::string_view(compared.data(), size_t(compared.size())), rows.key(row), m_entries);
        if (!found.isOk()) {
            status = rows.refused(row, found.status().message());
        } else {
            m_keys.push_back({row, firstEntry, *found});
        }
    }
    m_walk->finish();
    if (!status.isOk()) {
        return status;
    }
    return end;
}

// What the key's last record leaves of the key: its rows deleted, or one of them rewritten in place and the others
// deleted; a record that finds no row to rewrite waits for the inserts.
Status SqliteImportWork::applyKey(DecidedRows& rows, const Key& key)
{
    const bool replace = !rows.deletes(key.row);
    // The row to rewrite: the first imported one with the key as the record has it, else the first such row.
    const batch::KeyWalk::Entry* row = nullptr;
    for (size_t i = key.firstEntry; replace && m_keyField >= 0 && i < key.firstEntry + key.entries; ++i) {
        const batch::KeyWalk::Entry& entry = m_entries[i];
        if (entry.exact && (row == nullptr || (entry.flag && !row->flag))) {
            row = &entry;
        }
    }
    if (row) {
        Result<std::span<const QStringView>> values = rows.values(key.row);
        if (!values.isOk()) {
            return values.status();
        }
        Status rewritten = rewrite(*row, *values);
        if (!rewritten.isOk()) {
            return rows.refused(key.row, rewritten.message());
        }
    }
    Status removed = removeRows(key, row ? row->rowid : -1);
    if (!removed.isOk()) {
        return rows.refused(key.row, removed.message());
    }
    if (replace && !row) {
        m_new.push_back(key.row);
    }
    return Status::ok();
}

// Gives `row` the record's values.
Status SqliteImportWork::rewrite(const batch::KeyWalk::Entry& row, std::span<const QStringView> values)
{
    Statement& statement = *m_rewrites[int(row.flag ? Rewrite::ImportedRow : Rewrite::TerminalRow)];
    int index = 0;
    for (QStringView value : values) {
        statement.bind(++index, value);
    }
    statement.bindInteger(index + 1, row.rowid);
    return run(statement);
}

// Deletes the rows found for the key but `kept`.
Status SqliteImportWork::removeRows(const Key& key, qint64 kept)
{
    for (size_t i = key.firstEntry; i < key.firstEntry + key.entries; ++i) {
        if (m_entries[i].rowid == kept) {
            continue;
        }
        m_removeRow->bindInteger(1, m_entries[i].rowid);
        Status removed = run(*m_removeRow);
        if (!removed.isOk()) {
            return removed;
        }
    }
    return Status::ok();
}

Status SqliteImportWork::commit()
{
    Status committed = m_transaction->commit();
    m_committed = m_committed || committed.isOk();
    return committed;
}

} // namespace kavelo::db
