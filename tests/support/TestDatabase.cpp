#include "support/TestDatabase.h"

#include "masters/MasterDefinition.h"
#include "platform/Database.h"
#include "support/MasterTables.h"
#include "support/PgTestServer.h"
#include "support/TestSupport.h"

namespace kavelo::test {

using platform::quoteIdentifier;

namespace {

class SqliteTestDatabase final : public TestDatabase
{
  public:
    explicit SqliteTestDatabase(const QString& path)
        : m_tables(path)
        , m_path(path)
    {
    }

    bool ready() const override { return true; }
    db::StoreLocation location() const override { return db::StoreLocation(m_path); }
    db::StoreLocation missing(const QString& nothing) const override { return db::StoreLocation(nothing); }
    std::vector<QStringList>
    rows(const QString& table, const QStringList& columns, const QString& terminalId) const override
    {
        return m_tables.rows(table, columns, terminalId);
    }
    std::vector<QStringList> all(const QString& table, const QStringList& columns) const override
    {
        return m_tables.all(table, columns);
    }
    std::vector<QStringList> content(const QString& table, const QStringList& columns) const override
    {
        return m_tables.content(table, columns);
    }
    void insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values) override
    {
        m_tables.insert(table, terminalId, values);
    }
    void refuse(const QString& table, const QString& operation, const QString& column, const QString& value) override
    {
        m_tables.exec(QStringLiteral("CREATE TRIGGER refuse_%1_%2 BEFORE %2 ON %3 WHEN NEW.%4 = '%5' "
                                     "BEGIN SELECT RAISE(ABORT, 'refused by test'); END;")
                          .arg(table, operation, quoteIdentifier(table), quoteIdentifier(column), value));
    }

  private:
    MasterTables m_tables;
    QString m_path;
};

class ServerTestDatabase final : public TestDatabase
{
  public:
    ServerTestDatabase()
        : m_store(m_schema.ready() ? m_schema.store() : nullptr)
    {
    }

    bool ready() const override { return m_store != nullptr; }
    db::StoreLocation location() const override { return m_schema.location(); }
    db::StoreLocation missing(const QString& nothing) const override
    {
        db::StoreLocation location = m_schema.location();
        location.database = QStringLiteral("postgresql:///kavelo?host=%1&user=postgres").arg(nothing);
        return location;
    }
    std::vector<QStringList>
    rows(const QString& table, const QStringList& columns, const QString& terminalId) const override
    {
        return m_schema.select(
            table,
            columns,
            QStringLiteral("WHERE %1 = $1 ORDER BY %2")
                .arg(quoteIdentifier(masters::kTerminalIdColumn), quoteIdentifier(masters::kRowOrderColumn)),
            {db::textParameter(terminalId)});
    }
    std::vector<QStringList> all(const QString& table, const QStringList& columns) const override
    {
        return m_schema.select(
            table, columns, QStringLiteral("ORDER BY %1").arg(quoteIdentifier(masters::kRowOrderColumn)));
    }
    std::vector<QStringList> content(const QString& table, const QStringList& columns) const override
    {
        return m_schema.content(table, columns);
    }
    void insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values) override
    {
        m_schema.insert(table, terminalId, values);
    }
    void refuse(const QString& table, const QString& operation, const QString& column, const QString& value) override
    {
        const QString function = m_schema.qualified(QStringLiteral("refuse_%1_%2").arg(table, operation));
        m_schema.exec(QStringLiteral("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                     "IF NEW.%2 = '%3' THEN RAISE EXCEPTION 'refused by test'; END IF; "
                                     "RETURN NEW; END $$")
                          .arg(function, quoteIdentifier(column), value));
        m_schema.exec(QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH ROW EXECUTE FUNCTION %4()")
                          .arg(quoteIdentifier(QStringLiteral("refuse_%1").arg(operation)),
                               operation,
                               m_schema.table(table),
                               function));
    }

  private:
    mutable TestSchema m_schema;
    std::unique_ptr<db::PgStore> m_store;
};

} // namespace

void PrintTo(Backend backend, std::ostream* out)
{
    *out << (backend == Backend::Sqlite ? "Sqlite" : "Server");
}

std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "Server";
}

std::unique_ptr<TestDatabase> TestDatabase::make(Backend backend, const QString& sqlitePath)
{
    if (backend == Backend::Sqlite) {
        return std::make_unique<SqliteTestDatabase>(sqlitePath);
    }
    return std::make_unique<ServerTestDatabase>();
}

qint64 TestDatabase::count(const QString& table, const QString& terminalId) const
{
    return static_cast<qint64>(rows(table, {masters::kTerminalIdColumn}, terminalId).size());
}

} // namespace kavelo::test
