#include "import/ImportBatch.h"

#include "masters/Fields.h"

#include <QStringList>

#include <algorithm>

namespace kavelo::import {

using batch::LineBatch;
using masters::MasterDefinition;
using platform::quoteIdentifier;
using platform::Result;
using platform::Statement;
using platform::Status;

namespace {

// A batch is applied this many keys at a time: their rows are looked up, then changed, then the new rows added,
// while the pages of the three are still in the page cache.
constexpr size_t kKeysPerStep = 512;

// Progress is reported each time this many more bytes of the host file are done.
constexpr qint64 kProgressStepBytes = 256 * 1024;

// The tags of held records.
constexpr quint8 kReplace = 1; // flag "1" or "2"
constexpr quint8 kDelete = 2;  // flag "3"

// The operation flag is the first character of the record, compared exactly: a full-width digit or a blank is no
// flag. 0: skipped.
quint8 operationOf(QStringView line)
{
    if (line.isEmpty()) {
        return 0;
    }
    switch (line.front().unicode()) {
    case u'1':
    case u'2':
        return kReplace;
    case u'3':
        return kDelete;
    default:
        return 0;
    }
}

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
        .arg(quoteIdentifier(master.importKey.column), quoteIdentifier(master.name),
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
        const bool imported = std::any_of(master.importFields.begin(), master.importFields.end(),
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

ImportBatch::ImportBatch(const MasterDefinition& master,
                         const platform::ShiftJisLineReader& reader,
                         const ProgressHook& progress,
                         std::stop_token stop)
    : m_master(master)
    , m_reader(reader)
    , m_progress(progress)
    , m_stop(std::move(stop))
    , m_bindNew([this](Statement& statement, QStringView line, int base) {
        cutValues(line);
        statement.bindNull(base + 1);
        bindValues(statement, base + 1);
    })
    , m_keyField(keyFieldIndex(master))
    , m_values(master.importFields.size())
    , m_scratch(master.importFields.size())
    , m_nextReport(kProgressStepBytes)
{
}

Result<std::unique_ptr<ImportBatch>> ImportBatch::prepare(platform::Database& database,
                                                          const MasterDefinition& master,
                                                          const platform::ShiftJisLineReader& reader,
                                                          const ProgressHook& progress,
                                                          std::stop_token stop)
{
    std::unique_ptr<ImportBatch> import(new ImportBatch(master, reader, progress, std::move(stop)));
    const QString removeRow = QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(quoteIdentifier(master.name));
    const bool rewrites = import->m_keyField >= 0;
    auto rewriting = [&](Rewrite rewrite) { return rewrites ? rewriteSql(master, rewrite) : QString(); };
    for (auto [sql, target] :
         {std::pair{walkSql(master), &import->m_walkStatement}, std::pair{removeRow, &import->m_removeRow},
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
    return import;
}

std::optional<batch::BatchUser::Admitted> ImportBatch::admit(QStringView line)
{
    ++m_summary.recordsRead;
    const quint8 operation = operationOf(line);
    if (operation == 0) {
        ++m_summary.skipped;
        return std::nullopt;
    }
    ++(operation == kReplace ? m_summary.replaced : m_summary.deleted);
    return Admitted{masters::cutFieldView(line, m_master.importKey, m_keyScratch), operation};
}

Status ImportBatch::apply(LineBatch& batch)
{
    m_batchEnd = m_reader.bytesConsumed();
    batch.sortByKey();
    Status status = Status::ok();
    for (size_t first = 0; first < batch.size() && status.isOk();) {
        if (m_stop.stop_requested()) {
            return batch::stoppedWork(m_reader.path());
        }
        m_keys.clear();
        m_entries.clear();
        m_new.clear();
        Result<size_t> next = findRows(batch, first);
        status = next.isOk() ? Status::ok() : next.status();
        for (size_t i = 0; i < m_keys.size() && status.isOk(); ++i) {
            status = applyKey(batch, m_keys[i]);
        }
        if (status.isOk()) {
            batch::LineRows rows(batch, m_new, m_reader.path(), m_bindNew, m_stop);
            status = m_insert->add(rows);
        }
        if (status.isOk()) {
            first = *next;
            progressed(first, batch.size());
        }
    }
    m_batchStart = m_batchEnd;
    return status;
}

// Looks up the rows of the next kKeysPerStep keys from line `first` on; the line after them.
Result<size_t> ImportBatch::findRows(LineBatch& batch, size_t first)
{
    Status status = Status::ok();
    while (first < batch.size() && m_keys.size() < kKeysPerStep && status.isOk()) {
        const size_t end = batch.keyEnd(first);
        const size_t last = end - 1;
        batch.prefetch(last);
        const size_t firstEntry = m_entries.size();
        Result<size_t> found = m_walk->find(batch.comparedKey(last), batch.key(last), m_entries);
        if (!found.isOk()) {
            status = lineError(batch, last, found.status().message());
        } else {
            m_keys.push_back({last, firstEntry, *found});
        }
        first = end;
    }
    m_walk->finish();
    if (!status.isOk()) {
        return status;
    }
    return first;
}

// What the key's last record leaves of the key: its rows deleted, or one of them rewritten in place and the others
// deleted; a record that finds no row to rewrite waits for the inserts.
Status ImportBatch::applyKey(LineBatch& batch, const Key& key)
{
    const bool replace = batch.tag(key.line) == kReplace;
    // The row to rewrite: the first imported one with the key as the record has it, else the first such row.
    const batch::KeyWalk::Entry* row = nullptr;
    for (size_t i = key.firstEntry; replace && m_keyField >= 0 && i < key.firstEntry + key.entries; ++i) {
        const batch::KeyWalk::Entry& entry = m_entries[i];
        if (entry.exact && (row == nullptr || (entry.flag && !row->flag))) {
            row = &entry;
        }
    }
    if (row) {
        const std::optional<QStringView> text = batch.text(key.line);
        if (!text) {
            return batch::undecodableLine(m_reader.path(), batch.lineNumber(key.line));
        }
        cutValues(*text);
        Status rewritten = rewrite(*row);
        if (!rewritten.isOk()) {
            return lineError(batch, key.line, rewritten.message());
        }
    }
    Status removed = removeRows(key, row ? row->rowid : -1);
    if (!removed.isOk()) {
        return lineError(batch, key.line, removed.message());
    }
    if (replace && !row) {
        m_new.push_back(key.line);
    }
    return Status::ok();
}

// Gives `row` the record's values (cut already).
Status ImportBatch::rewrite(const batch::KeyWalk::Entry& row)
{
    Statement& statement = *m_rewrites[int(row.flag ? Rewrite::ImportedRow : Rewrite::TerminalRow)];
    const int count = bindValues(statement, 0);
    statement.bindInteger(count + 1, row.rowid);
    return run(statement);
}

// Deletes the rows found for the key but `kept`.
Status ImportBatch::removeRows(const Key& key, qint64 kept)
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

void ImportBatch::cutValues(QStringView line)
{
    for (size_t i = 0; i < m_values.size(); ++i) {
        m_values[i] = masters::cutFieldView(line, m_master.importFields[i], m_scratch[i]);
    }
}

// Binds the record's values from ?base+1 on; returns the number of the last parameter bound.
int ImportBatch::bindValues(Statement& statement, int base)
{
    int index = base;
    for (QStringView value : m_values) {
        statement.bind(++index, value);
    }
    return index;
}

// `done` of the batch's `total` lines are applied.
void ImportBatch::progressed(size_t done, size_t total)
{
    if (!m_progress || total == 0) {
        return;
    }
    const qint64 bytes = m_batchStart + qint64(double(m_batchEnd - m_batchStart) * double(done) / double(total));
    if (bytes >= m_nextReport) {
        m_progress(bytes, m_reader.fileSize());
        m_nextReport = bytes + kProgressStepBytes;
    }
}

Status ImportBatch::lineError(const LineBatch& batch, size_t line, const QString& reason) const
{
    return Status::lineError(m_reader.path(), batch.lineNumber(line), reason);
}

} // namespace kavelo::import
