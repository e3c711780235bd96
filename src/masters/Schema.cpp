#include "masters/Schema.h"

#include "masters/Masters.h"

#include <QStringList>

namespace kavelo::masters {

using platform::quoteIdentifier;
using platform::Result;
using platform::Status;

Status ensureSchema(platform::Database& database)
{
    QString sql;
    for (const MasterDefinition* m : allMasters()) {
        QStringList columns;
        columns << quoteIdentifier(kTerminalIdColumn) + QStringLiteral(" TEXT");
        for (const QString& column : m->columns) {
            columns << quoteIdentifier(column) + QStringLiteral(" TEXT");
        }
        const QString table = quoteIdentifier(m->name);
        const QString key = quoteIdentifier(m->keyColumn);
        sql += QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2);\n").arg(table, columns.join(QStringLiteral(", ")));
        sql += QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3, %4 COLLATE RTRIM);\n")
                   .arg(quoteIdentifier(m->name + QStringLiteral("_terminal_key")),
                        table,
                        quoteIdentifier(kTerminalIdColumn),
                        key);
        sql += QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3 COLLATE RTRIM);\n")
                   .arg(quoteIdentifier(m->name + QStringLiteral("_key")), table, key);
    }
    Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(database);
    if (!transaction.isOk()) {
        return transaction.status();
    }
    Status created = database.exec(sql);
    if (!created.isOk()) {
        return created;
    }
    return (*transaction)->commit();
}

} // namespace kavelo::masters
