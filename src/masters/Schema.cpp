#include "masters/Schema.h"

#include "masters/Masters.h"

#include <QStringList>

namespace kavelo::masters {

using platform::quoteIdentifier;
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
                   .arg(quoteIdentifier(m->name + QStringLiteral("_terminal_key")), table,
                        quoteIdentifier(kTerminalIdColumn), key);
        sql += QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3 COLLATE RTRIM);\n")
                   .arg(quoteIdentifier(m->name + QStringLiteral("_key")), table, key);
    }
    return database.exec(QStringLiteral("BEGIN;\n") + sql + QStringLiteral("COMMIT;"));
}

} // namespace kavelo::masters
