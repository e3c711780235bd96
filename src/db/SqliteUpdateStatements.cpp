#include "db/SqliteUpdateStatements.h"

#include <QStringList>

namespace kavelo::db {

using masters::MasterDefinition;
using platform::quoteIdentifier;
using platform::Result;
using platform::Statement;
using platform::Status;

namespace {

// The name of the function that puts an export line together (Database::defineCsvLine).
const QString kExportLine = QStringLiteral("export_line");

int keyFieldIndex(const MasterDefinition& master)
{
    for (size_t i = 0; i < master.updateFields.size(); ++i) {
        const masters::Field& f = master.updateFields[i];
        if (f.column == master.keyColumn && f.start == master.updateKey.start && f.length == master.updateKey.length &&
            f.transform == master.updateKey.transform) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// "UPDATE table SET column = ?2, ... WHERE rowid = ?1", leaving out the field `skip`.
QString replaceSql(const MasterDefinition& master, int skip)
{
    QStringList set;
    for (size_t i = 0; i < master.updateFields.size(); ++i) {
        if (static_cast<int>(i) != skip) {
            set << QStringLiteral("%1 = ?%2").arg(quoteIdentifier(master.updateFields[i].column)).arg(i + 2);
        }
    }
    return QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?1")
        .arg(quoteIdentifier(master.name), set.join(QStringLiteral(", ")));
}

// The two orders of the export. Both give the rows in binary order of the key column (code point order for UTF-8
// text), rows of equal keys by rowid, and put each row's line together with the export line function.
//
// Keys without characters below U+0020 come in the same order when they are compared with trailing blanks
// ignored first and exactly second, and the first of the two is the order of the (terminal, key) index: the rows
// are read through the index, with no sort, and the export sorts the runs of keys that differ only in trailing
// blanks itself (rare: an update finds such a key's row instead of adding one). A key with such a character
// (where "A\t" sorts before "A " in binary order but after "A" with the blank ignored) needs the full sort, which
// picks the rows by rowid from the terminal's (sorted) rowid list, so that the table is read in storage order
// rather than jumping around it.
QString exportSql(const MasterDefinition& master, ExportOrder order)
{
    const QString table = quoteIdentifier(master.name);
    const QString key = quoteIdentifier(master.keyColumn);
    const QString terminal = quoteIdentifier(masters::kTerminalIdColumn);
    QStringList exported;
    for (const masters::ExportField& field : master.exportFields) {
        exported << quoteIdentifier(field.column);
    }
    const QString selected = QStringLiteral("rowid, %1, %2")
                                 .arg(key,
                                      exported.isEmpty() ? QStringLiteral("''")
                                                         : kExportLine + QLatin1Char('(') +
                                                               exported.join(QStringLiteral(", ")) + QLatin1Char(')'));
    if (order == ExportOrder::ThroughIndex) {
        return QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1 ORDER BY %4 COLLATE RTRIM")
            .arg(selected, table, terminal, key);
    }
    return QStringLiteral("SELECT %1 FROM %2 WHERE rowid IN (SELECT rowid FROM %2 WHERE %3 = ?1) "
                          "ORDER BY %4 COLLATE BINARY, rowid")
        .arg(selected, table, terminal, key);
}

Status prepareInto(platform::Database& database, const QString& sql, std::unique_ptr<Statement>& target)
{
    Result<std::unique_ptr<Statement>> statement = database.prepare(sql);
    if (!statement.isOk()) {
        return statement.status();
    }
    target = std::move(*statement);
    return Status::ok();
}

} // namespace

Result<SqliteUpdateStatements> SqliteUpdateStatements::prepare(platform::Database& database,
                                                               const MasterDefinition& master)
{
    SqliteUpdateStatements s;
    s.keyField = keyFieldIndex(master);
    const QString table = quoteIdentifier(master.name);
    const QString key = quoteIdentifier(master.keyColumn);
    const QString terminal = quoteIdentifier(masters::kTerminalIdColumn);

    std::vector<platform::CsvForm> forms;
    for (const masters::ExportField& field : master.exportFields) {
        forms.push_back(field.form);
    }
    Status defined = database.defineCsvLine(kExportLine, std::move(forms));
    if (!defined.isOk()) {
        return defined;
    }
    // The walk reads the (terminal, key) index alone. Trailing blanks of the key are ignored on both sides (RTRIM,
    // the collation of the index); otherwise the key compares exactly.
    const QString walk = QStringLiteral("SELECT %1, rowid FROM %2 WHERE %3 = ?1 AND %1 >= ?2 COLLATE RTRIM "
                                        "ORDER BY %1 COLLATE RTRIM")
                             .arg(key, table, terminal);
    const bool keepsKey = s.keyField >= 0 && master.updateFields.size() > 1;
    for (auto [sql, target] : {std::pair{walk, &s.walk},
                               std::pair{replaceSql(master, -1), &s.replaceAll},
                               std::pair{replaceSql(master, keepsKey ? s.keyField : -1), &s.replaceKept},
                               std::pair{exportSql(master, ExportOrder::ThroughIndex), &s.exportThroughIndex},
                               std::pair{exportSql(master, ExportOrder::FullSort), &s.exportFullSort}}) {
        Status prepared = prepareInto(database, sql, *target);
        if (!prepared.isOk()) {
            return prepared;
        }
    }

    QStringList columns{terminal};
    for (const masters::Field& field : master.updateFields) {
        columns << quoteIdentifier(field.column);
    }
    Result<std::unique_ptr<batch::RowInserter>> add = batch::RowInserter::prepare(database, table, columns);
    if (!add.isOk()) {
        return add.status();
    }
    s.add = std::move(*add);
    return s;
}

void SqliteUpdateStatements::finish()
{
    walk.reset();
    replaceAll.reset();
    replaceKept.reset();
    add.reset();
    exportThroughIndex.reset();
    exportFullSort.reset();
}

} // namespace kavelo::db
