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

// The stored keys and rowids of every row from a given key on, from the key index alone, in its order: trailing
// blanks ignored on both sides, so the trimmed host key also finds a terminal's row stored padded.
QString walkSql(const MasterDefinition& master)
{
    return QStringLiteral("SELECT %1, rowid FROM %2 WHERE %1 >= ?1 COLLATE RTRIM ORDER BY %1 COLLATE RTRIM")
        .arg(quoteIdentifier(master.importKey.column), quoteIdentifier(master.name));
}

// Gives an imported row (?N, the last parameter) the record's values: the same content as deleting it and
// inserting the record. A terminal's row is left alone (no change). The key stays as stored, which is as the record
// has it; the columns the host file has no value for become NULL, as in an inserted row.
QString rewriteSql(const MasterDefinition& master)
{
    QStringList assignments;
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
    return QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?%3 AND %4 IS NULL")
        .arg(quoteIdentifier(master.name), assignments.join(QStringLiteral(", ")))
        .arg(index + 1)
        .arg(quoteIdentifier(masters::kTerminalIdColumn));
}

Status run(Statement& statement)
{
    Result<bool> stepped = statement.step();
    statement.reset();
    return stepped.isOk() ? Status::ok() : stepped.status();
}

} // namespace

// The records of the keys that get a new row: the terminal ID (NULL), then the record's values.
class ImportBatch::NewRows final : public batch::NewRows
{
public:
    NewRows(ImportBatch& import, LineBatch& batch)
        : m_import(import)
        , m_batch(batch)
    {
    }

    size_t count() const override { return m_import.m_new.size(); }

    Status bind(Statement& statement, size_t row, int base) override
    {
        const size_t line = m_import.m_new[row];
        const std::optional<QStringView> text = m_batch.text(line);
        if (!text) {
            return m_import.lineError(m_batch, line, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
        }
        m_import.cutValues(*text);
        statement.bindNull(base + 1);
        m_import.bindValues(statement, base + 1);
        return Status::ok();
    }

    Status refused(size_t row, const QString& reason) const override
    {
        return m_import.lineError(m_batch, m_import.m_new[row], reason);
    }

    Status added(size_t row) override
    {
        m_import.progressed(m_import.m_keys.size() + row + 1, m_import.m_keys.size() + count());
        return Status::ok();
    }

private:
    ImportBatch& m_import;
    LineBatch& m_batch;
};

ImportBatch::ImportBatch(platform::Database& database, const MasterDefinition& master,
                         const platform::ShiftJisLineReader& reader, const ProgressHook& progress)
    : m_database(database)
    , m_master(master)
    , m_reader(reader)
    , m_progress(progress)
    , m_keyField(keyFieldIndex(master))
    , m_values(master.importFields.size())
    , m_scratch(master.importFields.size())
    , m_nextReport(kProgressStepBytes)
{
}

Result<std::unique_ptr<ImportBatch>> ImportBatch::prepare(platform::Database& database, const MasterDefinition& master,
                                                          const platform::ShiftJisLineReader& reader,
                                                          const ProgressHook& progress)
{
    std::unique_ptr<ImportBatch> import(new ImportBatch(database, master, reader, progress));
    const QString removeRow = QStringLiteral("DELETE FROM %1 WHERE rowid = ?1").arg(quoteIdentifier(master.name));
    for (auto [sql, target] : {std::pair{walkSql(master), &import->m_walkStatement},
                               std::pair{removeRow, &import->m_removeRow},
                               std::pair{import->m_keyField >= 0 ? rewriteSql(master) : QString(), &import->m_rewrite}}) {
        if (sql.isEmpty()) {
            continue;
        }
        Result<std::unique_ptr<Statement>> statement = database.prepare(sql);
        if (!statement.isOk()) {
            return statement.status();
        }
        *target = std::move(*statement);
    }
    import->m_walk = std::make_unique<batch::KeyWalk>(*import->m_walkStatement);

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
    m_keys.clear();
    m_entries.clear();
    m_new.clear();
    Status status = findRows(batch);
    for (size_t i = 0; i < m_keys.size() && status.isOk(); ++i) {
        status = applyKey(batch, m_keys[i]);
        progressed(i + 1, 2 * m_keys.size());
    }
    if (status.isOk()) {
        NewRows rows(*this, batch);
        status = m_insert->add(rows);
    }
    progressed(1, 1);
    m_batchStart = m_batchEnd;
    return status;
}

Status ImportBatch::findRows(LineBatch& batch)
{
    Status status = Status::ok();
    for (size_t first = 0; first < batch.size() && status.isOk();) {
        const size_t end = batch.keyEnd(first);
        const size_t last = end - 1;
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
    return status;
}

// What the key's last record leaves of the key: its rows deleted, or one of them rewritten in place and the others
// deleted; a record that needs a new row waits for the inserts.
Status ImportBatch::applyKey(LineBatch& batch, const Key& key)
{
    if (batch.tag(key.line) == kDelete) {
        Status removed = removeRows(key, -1);
        return removed.isOk() ? removed : lineError(batch, key.line, removed.message());
    }
    if (key.entries == 0) {
        m_new.push_back(key.line);
        return Status::ok();
    }
    if (m_rewrite) {
        const std::optional<QStringView> text = batch.text(key.line);
        if (!text) {
            return lineError(batch, key.line, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
        }
        cutValues(*text);
        for (size_t i = key.firstEntry; i < key.firstEntry + key.entries; ++i) {
            if (!m_entries[i].exact) {
                continue;
            }
            Result<bool> rewritten = rewriteInPlace(m_entries[i].rowid);
            if (!rewritten.isOk()) {
                return lineError(batch, key.line, rewritten.status().message());
            }
            if (*rewritten) {
                Status removed = removeRows(key, m_entries[i].rowid);
                return removed.isOk() ? removed : lineError(batch, key.line, removed.message());
            }
        }
    }
    Status removed = removeRows(key, -1);
    if (!removed.isOk()) {
        return lineError(batch, key.line, removed.message());
    }
    m_new.push_back(key.line);
    return Status::ok();
}

// True when the row was an imported one and now holds the record's values (cut already).
Result<bool> ImportBatch::rewriteInPlace(qint64 rowid)
{
    const int count = bindValues(*m_rewrite, 0);
    m_rewrite->bindInteger(count + 1, rowid);
    Status done = run(*m_rewrite);
    if (!done.isOk()) {
        return done;
    }
    return m_database.changes() == 1;
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

// `done` of `total` steps of the batch are done.
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
    return platform::ShiftJisLineReader::lineError(m_reader.path(), batch.lineNumber(line), reason);
}

} // namespace kavelo::import
