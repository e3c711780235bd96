#include "support/MasterTables.h"

#include "masters/MasterDefinition.h"
#include "platform/Database.h"
#include "support/TestSupport.h"

#include <algorithm>

namespace kavelo::test {

using platform::Database;
using platform::quoteIdentifier;

namespace {

std::unique_ptr<Database> open(const QString& path)
{
    auto db = Database::openSqlite(path, Database::OpenMode::ExistingOnly);
    EXPECT_TRUE(db.isOk()) << db.status().message().toStdString();
    return db.isOk() ? std::move(*db) : nullptr;
}

} // namespace

MasterTables::MasterTables(QString dbPath)
    : m_dbPath(std::move(dbPath))
{
}

std::vector<QStringList>
MasterTables::rows(const QString& table, const QStringList& columns, const QString& terminalId) const
{
    return select(table,
                  columns,
                  QStringLiteral("WHERE %1 = ?1 ORDER BY rowid").arg(quoteIdentifier(masters::kTerminalIdColumn)),
                  terminalId);
}

std::vector<QStringList> MasterTables::all(const QString& table, const QStringList& columns) const
{
    return select(table, columns, QStringLiteral("ORDER BY rowid"), QString());
}

std::vector<QStringList> MasterTables::content(const QString& table, const QStringList& columns) const
{
    std::vector<QStringList> out = select(table, columns, QString(), QString());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<QStringList> MasterTables::select(const QString& table,
                                              const QStringList& columns,
                                              const QString& rest,
                                              const QString& terminalId) const
{
    std::vector<QStringList> out;
    auto db = open(m_dbPath);
    if (!db) {
        return out;
    }
    QStringList quoted;
    for (const QString& c : columns) {
        quoted << quoteIdentifier(c);
    }
    auto query = db->prepare(
        QStringLiteral("SELECT %1 FROM %2 %3").arg(quoted.join(QStringLiteral(", ")), quoteIdentifier(table), rest));
    EXPECT_TRUE(query.isOk()) << query.status().message().toStdString();
    if (!query.isOk()) {
        return out;
    }
    if (!terminalId.isNull()) {
        (*query)->bind(1, terminalId);
    }
    for (;;) {
        auto row = (*query)->step();
        EXPECT_TRUE(row.isOk()) << row.status().message().toStdString();
        if (!row.isOk() || !*row) {
            break;
        }
        QStringList values;
        for (int i = 0; i < columns.size(); ++i) {
            values << ((*query)->isNull(i) ? QStringLiteral("<NULL>") : (*query)->text(i));
        }
        out.push_back(values);
    }
    return out;
}

qint64 MasterTables::count(const QString& table, const QString& terminalId) const
{
    return static_cast<qint64>(rows(table, {masters::kTerminalIdColumn}, terminalId).size());
}

void MasterTables::insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values) const
{
    auto db = open(m_dbPath);
    ASSERT_TRUE(db);
    QStringList columns{quoteIdentifier(masters::kTerminalIdColumn)};
    QStringList parameters{QStringLiteral("?1")};
    for (auto it = values.begin(); it != values.end(); ++it) {
        columns << quoteIdentifier(it.key());
        parameters << QStringLiteral("?%1").arg(parameters.size() + 1);
    }
    auto insert = db->prepare(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(quoteIdentifier(table), columns.join(QStringLiteral(", ")), parameters.join(QStringLiteral(", "))));
    ASSERT_OK(insert);
    (*insert)->bind(1, terminalId);
    int index = 2;
    for (auto it = values.begin(); it != values.end(); ++it) {
        (*insert)->bind(index++, it.value());
    }
    ASSERT_OK((*insert)->step());
}

void MasterTables::exec(const QString& sql) const
{
    auto db = open(m_dbPath);
    ASSERT_TRUE(db);
    ASSERT_OK(db->exec(sql));
}

} // namespace kavelo::test
