#ifndef KAVELO_TESTS_SUPPORT_TESTDATABASE_H
#define KAVELO_TESTS_SUPPORT_TESTDATABASE_H

#include "db/MasterStore.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace kavelo::test {

// Where a test keeps its masters: the engine's tests run once on each.
enum class Backend
{
    Sqlite, // the program folder's SQLite file
    Server, // a schema of its own on the test's PostgreSQL server
};

void PrintTo(Backend backend, std::ostream* out);

// The backends, for INSTANTIATE_TEST_SUITE_P, and their names in the tests' names.
inline const auto kBothBackends = ::testing::Values(Backend::Sqlite, Backend::Server);
std::string backendName(const ::testing::TestParamInfo<Backend>& info);

// The master tables of one test on one backend, read and seeded behind the engine's back. A NULL reads as "<NULL>".
class TestDatabase
{
  public:
    virtual ~TestDatabase() = default;

    // On SQLite the file `sqlitePath` (its tables made already); on the server a fresh schema with the tables made,
    // dropped with everything in it at the end. Fails the test when the server cannot be reached.
    static std::unique_ptr<TestDatabase> make(Backend backend, const QString& sqlitePath);

    // False (and the test failed) when the database cannot be had.
    virtual bool ready() const = 0;
    // Where the engine finds it.
    virtual db::StoreLocation location() const = 0;
    // Where no database of this kind is, at the path `nothing`: a SQLite file that does not exist; a server whose
    // socket would be there, so that connecting fails at once.
    virtual db::StoreLocation missing(const QString& nothing) const = 0;
    // The given columns of the rows whose "端末ID" is `terminalId`, in the order they were added.
    virtual std::vector<QStringList>
    rows(const QString& table, const QStringList& columns, const QString& terminalId) const = 0;
    // The given columns of every row, whatever its terminal, in the order they were added.
    virtual std::vector<QStringList> all(const QString& table, const QStringList& columns) const = 0;
    // The given columns of every row, whatever its terminal, sorted: the table's content without its order.
    virtual std::vector<QStringList> content(const QString& table, const QStringList& columns) const = 0;
    qint64 count(const QString& table, const QString& terminalId) const;
    // A row with the given column values; "端末ID" is `terminalId` (NULL when null), columns not given are NULL.
    virtual void insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values) = 0;
    // From now on the database refuses `operation` ("INSERT" or "UPDATE") of a row of `table` whose new `column` is
    // `value`, with the reason "refused by test", as a constraint or a trigger of another's would.
    virtual void
    refuse(const QString& table, const QString& operation, const QString& column, const QString& value) = 0;
};

// A test run once on each backend, with a fresh program folder and its database.
class BackendTest : public ::testing::TestWithParam<Backend>
{
};

} // namespace kavelo::test

#endif
