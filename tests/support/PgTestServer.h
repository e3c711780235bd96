#ifndef KAVELO_TESTS_SUPPORT_PGTESTSERVER_H
#define KAVELO_TESTS_SUPPORT_PGTESTSERVER_H

#include "db/MasterStore.h"
#include "db/PgConnection.h"
#include "db/PgStore.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace kavelo::test {

// The URI of the test server: this build tree's throwaway cluster, which ctest's pg_cluster fixture starts, unless
// KAVELO_TEST_PG names another.
QString testServerUri();

// A schema of its own on the test server for one test, named after it and dropped with everything in it at the end.
class TestSchema
{
  public:
    TestSchema();
    ~TestSchema();
    TestSchema(const TestSchema&) = delete;
    TestSchema& operator=(const TestSchema&) = delete;

    // False (and the test failed) when the server cannot be reached.
    bool ready() const { return m_admin != nullptr; }
    const QString& name() const { return m_name; }
    db::StoreLocation location(int lockWaitSeconds = 30) const;
    // A store on the schema, its tables made; fails the test when it cannot be had.
    std::unique_ptr<db::PgStore> store(int lockWaitSeconds = 30) const;
    // A connection of its own (for checks, and for what the test does behind a store's back).
    db::PgConnection& admin() { return *m_admin; }

    // Any fixed statement; fails the test when it fails.
    void exec(const QString& sql, const QList<QByteArray>& parameters = {});
    // The given columns of every row of the master's table, NULL as "<NULL>", sorted: its content without order.
    std::vector<QStringList> content(const QString& table, const QStringList& columns);
    // The given columns of the table's rows, NULL as "<NULL>": "SELECT columns FROM table `rest`".
    std::vector<QStringList> select(const QString& table,
                                    const QStringList& columns,
                                    const QString& rest,
                                    const QList<QByteArray>& parameters = {});
    // A row with the given column values; "端末ID" is `terminalId` (NULL when null), columns not given are NULL.
    void insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values);
    // A table, or another object of the schema, quoted and qualified with the schema.
    QString table(const QString& name) const;
    QString qualified(const QString& name) const { return table(name); }

  private:
    QString m_name;
    std::unique_ptr<db::PgConnection> m_admin;
};

} // namespace kavelo::test

#endif
