#include "import/HostImport.h"

#include "masters/Fields.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace kavelo::import {

using masters::MasterDefinition;
using platform::Database;
using platform::quoteIdentifier;
using platform::Result;
using platform::Statement;
using platform::Status;

namespace {

// Progress is reported each time this many more bytes of the host file have been read.
constexpr qint64 kProgressStepBytes = 256 * 1024;

// Page cache of the import's connection, in KiB. A host file sorted by key walks the table and its indexes in order
// and needs little cache; one in no particular order inserts all over both key indexes, and then every page that
// falls out of the cache is written and read again. 40 MiB keeps that rereading low while the import stays inside
// its memory budget of 64 MiB (peak RSS about 55 MiB).
constexpr int kCacheKiB = 40 * 1024;

enum class Operation
{
    Replace, // "1" or "2"
    Delete,  // "3"
    Skip,    // anything else, the empty line included
};

// The operation flag is the first character of the record, compared exactly: a full-width digit or a blank is no
// flag.
Operation operationOf(const QString& line)
{
    if (line.isEmpty()) {
        return Operation::Skip;
    }
    switch (line.front().unicode()) {
    case u'1':
    case u'2':
        return Operation::Replace;
    case u'3':
        return Operation::Delete;
    default:
        return Operation::Skip;
    }
}

// Removes every row of the key, of every terminal and the imported ones alike. Keys compare with trailing blanks
// ignored on both sides, so the trimmed host key also finds a terminal's row stored padded.
QString deleteSql(const MasterDefinition& master)
{
    return QStringLiteral("DELETE FROM %1 WHERE %2 = ?1 COLLATE RTRIM")
        .arg(quoteIdentifier(master.name), quoteIdentifier(master.importKey.column));
}

// Names its columns: the terminal ID (NULL for imported rows), then the record's values in the master's order.
QString insertSql(const MasterDefinition& master)
{
    QStringList columns{quoteIdentifier(masters::kTerminalIdColumn)};
    QStringList values{QStringLiteral("NULL")};
    int index = 0;
    for (const masters::Field& field : master.importFields) {
        columns << quoteIdentifier(field.column);
        values << QStringLiteral("?%1").arg(++index);
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(quoteIdentifier(master.name), columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
}

// The index of the key column among the import's values, or -1.
int keyFieldIndex(const MasterDefinition& master)
{
    for (size_t i = 0; i < master.importFields.size(); ++i) {
        if (master.importFields[i].column == master.importKey.column) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The rows the delete would remove (?1 the key), each with its rowid and whether its key is stored exactly as the
// record would store it (?2). Read from the key index alone, without the rows.
QString findSql(const MasterDefinition& master)
{
    const QString key = quoteIdentifier(master.importKey.column);
    return QStringLiteral("SELECT rowid, %1 IS ?2 FROM %2 WHERE %1 = ?1 COLLATE RTRIM")
        .arg(key, quoteIdentifier(master.name));
}

// Gives an imported row of the key the record's values: the same content as deleting it and inserting the record.
// A terminal's row is left alone (no change). The key is stored as the record has it; the columns the host file has no
// value for become NULL, as in an inserted row. ?1... are the record's values as for the insert, the last one the
// rowid.
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

// The key's rows but the one rewritten in place (?1 the key, ?2 that row's rowid).
QString deleteOthersSql(const MasterDefinition& master)
{
    return QStringLiteral("DELETE FROM %1 WHERE %2 = ?1 COLLATE RTRIM AND rowid <> ?2")
        .arg(quoteIdentifier(master.name), quoteIdentifier(master.importKey.column));
}

Status run(Statement& statement)
{
    Result<bool> stepped = statement.step();
    statement.reset();
    return stepped.isOk() ? Status::ok() : stepped.status();
}

// The statements of one import, prepared once and run for every record.
//
// A replacement means: delete every row of the key, then insert the record. Most replacements find the key in
// exactly one row, the one an earlier import inserted; rewriting that row in place gives the same table content and
// leaves both key indexes untouched, where the delete and the insert would remove and add an entry in each. So each
// replacement first reads the key's rows: none, and the record is only inserted; an imported row with the key stored
// exactly as the record has it, and that row takes the record while any others are deleted; otherwise the delete
// and the insert run. Imported rows are never exported for a terminal, so their rowids carry no meaning.
class Importer
{
public:
    static Result<std::unique_ptr<Importer>> prepare(Database& database, const MasterDefinition& master)
    {
        auto importer = std::unique_ptr<Importer>(new Importer(database, master));
        const bool inPlace = importer->m_keyField >= 0;
        for (auto [sql, target] : {std::pair{deleteSql(master), &importer->m_remove},
                                   std::pair{insertSql(master), &importer->m_insert},
                                   std::pair{inPlace ? findSql(master) : QString(), &importer->m_find},
                                   std::pair{inPlace ? rewriteSql(master) : QString(), &importer->m_rewrite},
                                   std::pair{inPlace ? deleteOthersSql(master) : QString(), &importer->m_removeOthers}}) {
            if (sql.isEmpty()) {
                continue;
            }
            Result<std::unique_ptr<Statement>> statement = database.prepare(sql);
            if (!statement.isOk()) {
                return statement.status();
            }
            *target = std::move(*statement);
        }
        return importer;
    }

    // Flag "1" or "2".
    Status replace(QStringView line)
    {
        const QStringView key = masters::cutFieldView(line, m_master.importKey, m_keyScratch);
        for (size_t i = 0; i < m_values.size(); ++i) {
            m_values[i] = masters::cutFieldView(line, m_master.importFields[i], m_scratch[i]);
        }
        if (!m_find) {
            return deleteAndInsert(key);
        }

        m_find->bind(1, key);
        m_find->bind(2, m_values[static_cast<size_t>(m_keyField)]);
        m_rows.clear();
        m_exact.clear();
        for (;;) {
            Result<bool> row = m_find->step();
            if (!row.isOk()) {
                m_find->reset();
                return row.status();
            }
            if (!*row) {
                break;
            }
            m_rows.push_back(m_find->integer(0));
            if (m_find->integer(1) != 0) {
                m_exact.push_back(m_find->integer(0));
            }
        }
        m_find->reset();
        if (m_rows.empty()) {
            return insertRecord();
        }

        // The first row of those with the exact key that turns out to be an imported one takes the record.
        std::optional<qint64> rewritten;
        for (qint64 rowid : m_exact) {
            const int count = bindValues(*m_rewrite);
            m_rewrite->bindInteger(count + 1, rowid);
            Status done = run(*m_rewrite);
            if (!done.isOk()) {
                return done;
            }
            if (m_database.changes() == 1) {
                rewritten = rowid;
                break;
            }
        }
        if (!rewritten) {
            return deleteAndInsert(key);
        }
        if (m_rows.size() > 1) {
            m_removeOthers->bind(1, key);
            m_removeOthers->bindInteger(2, *rewritten);
            return run(*m_removeOthers);
        }
        return Status::ok();
    }

    // Flag "3".
    Status remove(QStringView line)
    {
        m_remove->bind(1, masters::cutFieldView(line, m_master.importKey, m_keyScratch));
        return run(*m_remove);
    }

private:
    Importer(Database& database, const MasterDefinition& master)
        : m_database(database)
        , m_master(master)
        , m_keyField(keyFieldIndex(master))
        , m_values(master.importFields.size())
        , m_scratch(master.importFields.size())
    {
    }

    int bindValues(Statement& statement)
    {
        int index = 0;
        for (QStringView value : m_values) {
            statement.bind(++index, value);
        }
        return index;
    }

    Status insertRecord()
    {
        bindValues(*m_insert);
        return run(*m_insert);
    }

    Status deleteAndInsert(QStringView key)
    {
        m_remove->bind(1, key);
        Status removed = run(*m_remove);
        return removed.isOk() ? insertRecord() : removed;
    }

    Database& m_database;
    const MasterDefinition& m_master;
    const int m_keyField;
    std::unique_ptr<Statement> m_remove;
    std::unique_ptr<Statement> m_insert;
    std::unique_ptr<Statement> m_find;
    std::unique_ptr<Statement> m_rewrite;
    std::unique_ptr<Statement> m_removeOthers;
    // The record's values: views into the current line (or into their scratch text when commas are replaced).
    std::vector<QStringView> m_values;
    std::vector<QString> m_scratch;
    QString m_keyScratch;
    // The rowids of the key's rows, and of those among them with the key stored exactly as the record has it.
    std::vector<qint64> m_rows;
    std::vector<qint64> m_exact;
};

Result<std::unique_ptr<Database>> openImportDatabase(const MasterDefinition& master, const QString& path)
{
    if (path.isEmpty()) {
        return Status::error(QStringLiteral("no import database is set (settings key \"ImportDB\")"));
    }
    Result<std::unique_ptr<Database>> database = Database::openSqlite(path, Database::OpenMode::ExistingOnly);
    if (!database.isOk()) {
        return database;
    }
    Result<bool> hasTable = (*database)->hasTable(master.name);
    if (!hasTable.isOk()) {
        return hasTable.status();
    }
    if (!*hasTable) {
        return Status::error(QStringLiteral("%1: the table %2 does not exist (run \"kavelo init\")").arg(path, master.name));
    }
    Status cache = (*database)->exec(QStringLiteral("PRAGMA cache_size = -%1").arg(kCacheKiB));
    if (!cache.isOk()) {
        return cache;
    }
    return database;
}

} // namespace

QString hostFilePath(const MasterDefinition& master, const ImportContext& context)
{
    return context.importDir + master.hostFileName();
}

Result<ImportSummary> importMaster(const MasterDefinition& master, const ImportContext& context,
                                   const ProgressHook& progress)
{
    const QString hostPath = hostFilePath(master, context);
    if (!QFileInfo(hostPath).isFile()) {
        return Status::error(QStringLiteral("%1: host file not found").arg(hostPath));
    }

    Result<std::unique_ptr<Database>> database = openImportDatabase(master, context.dbPath);
    if (!database.isOk()) {
        return database.status();
    }
    Result<std::unique_ptr<Importer>> importer = Importer::prepare(**database, master);
    if (!importer.isOk()) {
        return importer.status();
    }
    Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(hostPath);
    if (!reader.isOk()) {
        return reader.status();
    }
    Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(**database);
    if (!transaction.isOk()) {
        return transaction.status();
    }

    qCInfo(lcImport).noquote() << "importing" << hostPath << "into" << context.dbPath;
    platform::ShiftJisLineReader& lines = **reader;
    const qint64 total = lines.fileSize();
    if (progress) {
        progress(0, total);
    }
    qint64 nextReport = kProgressStepBytes;
    ImportSummary summary;
    for (;;) {
        Result<std::optional<QString>> next = lines.next();
        if (!next.isOk()) {
            // The transaction rolls back as it goes out of scope: the tables stay as they were.
            return next.status();
        }
        if (!next->has_value()) {
            break;
        }
        const QString& line = **next;
        ++summary.recordsRead;
        const Operation operation = operationOf(line);
        if (operation == Operation::Skip) {
            ++summary.skipped;
        } else {
            const Status done =
                operation == Operation::Replace ? (*importer)->replace(line) : (*importer)->remove(line);
            if (!done.isOk()) {
                return lines.lineError(done.message());
            }
            if (operation == Operation::Replace) {
                ++summary.replaced;
            } else {
                ++summary.deleted;
            }
        }
        if (progress && lines.bytesConsumed() >= nextReport) {
            progress(lines.bytesConsumed(), total);
            nextReport = lines.bytesConsumed() + kProgressStepBytes;
        }
    }

    Status committed = (*transaction)->commit();
    if (!committed.isOk()) {
        return committed.prefixed(hostPath + QStringLiteral(": the import could not be committed: "));
    }
    if (progress) {
        progress(total, total);
    }
    qCInfo(lcImport).noquote() << hostPath << "imported:" << summary.recordsRead << "records read,"
                               << summary.replaced << "replaced," << summary.deleted << "deleted," << summary.skipped
                               << "skipped";
    return summary;
}

} // namespace kavelo::import
