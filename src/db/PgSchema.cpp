#include "db/PgSchema.h"

#include "masters/Masters.h"
#include "platform/Database.h"
#include "platform/Log.h"

#include <QStringList>

#include <vector>

namespace kavelo::db {

using masters::MasterDefinition;
using platform::quoteIdentifier;
using platform::Result;
using platform::Status;

namespace {

const QString kText = QStringLiteral("text");
const QString kBigint = QStringLiteral("bigint");

struct Column
{
    QString name;
    QString type;
};

// KAVELO's columns of a master's table, in their order.
std::vector<Column> columnsOf(const MasterDefinition& master)
{
    std::vector<Column> columns{{masters::kTerminalIdColumn, kText}};
    for (const QString& column : master.columns) {
        columns.push_back({column, kText});
    }
    columns.push_back({masters::kRowOrderColumn, kBigint});
    return columns;
}

QString terminalKeyIndex(const MasterDefinition& master)
{
    return master.name + QStringLiteral("_terminal_key");
}

QString keyIndex(const MasterDefinition& master)
{
    return master.name + QStringLiteral("_key");
}

} // namespace

PgSchema::PgSchema(PgConnection& connection, QString schema)
    : m_connection(connection)
    , m_schema(std::move(schema))
{
}

QString PgSchema::table(const MasterDefinition& master) const
{
    return quoteIdentifier(m_schema) + QLatin1Char('.') + quoteIdentifier(master.name);
}

QString PgSchema::comparedKey(const MasterDefinition& master, const QString& alias)
{
    const QString column = quoteIdentifier(master.keyColumn);
    return QStringLiteral("rtrim(%1, ' ') COLLATE \"C\"")
        .arg(alias.isEmpty() ? column : alias + QLatin1Char('.') + column);
}

Result<QString> PgSchema::relationKind(const QString& name)
{
    Result<std::unique_ptr<PgResult>> found = m_connection.query(
        QStringLiteral("SELECT c.relkind FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "WHERE n.nspname = $1 AND c.relname = $2"),
        {textParameter(m_schema), textParameter(name)});
    if (!found.isOk()) {
        return found.status();
    }
    return (*found)->rows() == 0 ? QString() : (*found)->text(0, 0);
}

Status PgSchema::check(const MasterDefinition& master)
{
    const QString where = QStringLiteral("%1: table %2.%3").arg(m_connection.name(), m_schema, master.name);
    Result<std::unique_ptr<PgResult>> found = m_connection.query(
        QStringLiteral("SELECT c.relkind, a.attname, format_type(a.atttypid, a.atttypmod), "
                       "a.attidentity <> '' OR a.atthasdef "
                       "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "LEFT JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
                       "WHERE n.nspname = $1 AND c.relname = $2 ORDER BY a.attnum"),
        {textParameter(m_schema), textParameter(master.name)});
    if (!found.isOk()) {
        return found.status();
    }
    const PgResult& rows = **found;
    if (rows.rows() == 0) {
        return Status::error(QStringLiteral("%1 does not exist (run \"kavelo init\")").arg(where));
    }
    if (rows.text(0, 0) != QLatin1String("r") && rows.text(0, 0) != QLatin1String("p")) {
        return Status::error(QStringLiteral("%1 is not a table").arg(where));
    }
    const std::vector<Column> expected = columnsOf(master);
    QStringList seen;
    for (int row = 0; row < rows.rows() && !rows.isNull(row, 1); ++row) {
        const QString name = rows.text(row, 1);
        const QString type = rows.text(row, 2);
        const auto known =
            std::find_if(expected.begin(), expected.end(), [&](const Column& c) { return c.name == name; });
        if (known == expected.end()) {
            return Status::error(QStringLiteral("%1 has a column \"%2\" that KAVELO does not know").arg(where, name));
        }
        if (type != known->type) {
            return Status::error(
                QStringLiteral("%1: column \"%2\" is %3; KAVELO needs %4").arg(where, name, type, known->type));
        }
        if (name == masters::kRowOrderColumn && rows.text(row, 3) != QLatin1String("t")) {
            return Status::error(
                QStringLiteral("%1: column \"%2\" has no default; KAVELO needs it numbered by the server")
                    .arg(where, name));
        }
        seen << name;
    }
    for (const Column& column : expected) {
        if (!seen.contains(column.name)) {
            return Status::error(QStringLiteral("%1 has no column \"%2\"").arg(where, column.name));
        }
    }
    return Status::ok();
}

Status PgSchema::createTable(const MasterDefinition& master)
{
    QStringList columns;
    for (const Column& column : columnsOf(master)) {
        columns << (column.name == masters::kRowOrderColumn
                        ? quoteIdentifier(column.name) +
                              QStringLiteral(" bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY")
                        : quoteIdentifier(column.name) + QStringLiteral(" text COLLATE \"C\""));
    }
    Status created = m_connection.exec(QStringLiteral("CREATE TABLE %1 (%2) WITH (fillfactor = 70)")
                                           .arg(table(master), columns.join(QStringLiteral(", "))));
    if (created.isOk()) {
        qCInfo(lcDb).noquote()
            << QStringLiteral("%1: created table %2.%3").arg(m_connection.name(), m_schema, master.name);
    }
    return created;
}

Status PgSchema::createIndexes(const MasterDefinition& master)
{
    const QString key = QLatin1Char('(') + comparedKey(master, QString()) + QLatin1Char(')');
    const QString terminal = quoteIdentifier(masters::kTerminalIdColumn);
    for (const auto& [name, columns] : {std::pair{terminalKeyIndex(master), terminal + QStringLiteral(", ") + key},
                                        std::pair{keyIndex(master), key}}) {
        Result<QString> kind = relationKind(name);
        if (!kind.isOk()) {
            return kind.status();
        }
        if (!kind->isEmpty()) {
            continue; // an index (or anything else) of that name stays as it is
        }
        Status created = m_connection.exec(
            QStringLiteral("CREATE INDEX %1 ON %2 (%3)").arg(quoteIdentifier(name), table(master), columns));
        if (!created.isOk()) {
            return created;
        }
    }
    return Status::ok();
}

Status PgSchema::ensure()
{
    Result<std::unique_ptr<PgTransaction>> transaction = PgTransaction::begin(m_connection);
    if (!transaction.isOk()) {
        return transaction.status();
    }
    // Two KAVELOs making the same schema at once would otherwise both find a table missing.
    Status locked = m_connection.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('kavelo'), hashtext($1))"),
                                      {textParameter(m_schema)});
    if (!locked.isOk()) {
        return locked;
    }
    std::vector<const MasterDefinition*> missing;
    for (const MasterDefinition* master : masters::allMasters()) {
        Result<QString> kind = relationKind(master->name);
        if (!kind.isOk()) {
            return kind.status();
        }
        Status checked = kind->isEmpty() ? Status::ok() : check(*master);
        if (!checked.isOk()) {
            return checked;
        }
        if (kind->isEmpty()) {
            missing.push_back(master);
        }
    }
    Result<std::unique_ptr<PgResult>> schema =
        m_connection.query(QStringLiteral("SELECT 1 FROM pg_namespace WHERE nspname = $1"), {textParameter(m_schema)});
    if (!schema.isOk()) {
        return schema.status();
    }
    if ((*schema)->rows() == 0) {
        Status created = m_connection.exec(QStringLiteral("CREATE SCHEMA %1").arg(quoteIdentifier(m_schema)));
        if (!created.isOk()) {
            return created;
        }
    }
    for (const MasterDefinition* master : masters::allMasters()) {
        const bool isMissing = std::find(missing.begin(), missing.end(), master) != missing.end();
        Status made = isMissing ? createTable(*master) : Status::ok();
        if (made.isOk()) {
            made = createIndexes(*master);
        }
        if (!made.isOk()) {
            return made;
        }
    }
    return (*transaction)->commit();
}

} // namespace kavelo::db
