#include "import/HostImport.h"

#include "masters/Fields.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QFileInfo>
#include <QStringList>

#include <memory>

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
// and needs little cache; one in no particular order deletes and inserts all over the key index and the table, and
// then every page that falls out of the cache is written and read again. 32 MiB keeps that rereading low while
// the import stays inside its memory budget of 64 MiB.
constexpr int kCacheKiB = 32 * 1024;

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

Result<bool> run(Statement& statement)
{
    Result<bool> stepped = statement.step();
    statement.reset();
    return stepped;
}

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
    Result<std::unique_ptr<Statement>> remove = (*database)->prepare(deleteSql(master));
    if (!remove.isOk()) {
        return remove.status();
    }
    Result<std::unique_ptr<Statement>> insert = (*database)->prepare(insertSql(master));
    if (!insert.isOk()) {
        return insert.status();
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
            (*remove)->bind(1, masters::cutField(line, master.importKey));
            Result<bool> removed = run(**remove);
            if (!removed.isOk()) {
                return lines.lineError(removed.status().message());
            }
            if (operation == Operation::Replace) {
                int index = 0;
                for (const masters::Field& field : master.importFields) {
                    (*insert)->bind(++index, masters::cutField(line, field));
                }
                Result<bool> inserted = run(**insert);
                if (!inserted.isOk()) {
                    return lines.lineError(inserted.status().message());
                }
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
