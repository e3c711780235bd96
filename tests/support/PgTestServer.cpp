#include "support/PgTestServer.h"

#include "masters/MasterDefinition.h"
#include "platform/Database.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>

#include <unistd.h>

namespace kavelo::test {

QString testServerUri()
{
    return qEnvironmentVariable("KAVELO_TEST_PG", QStringLiteral(KAVELO_TEST_PG));
}

TestSchema::TestSchema()
{
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    m_name = QStringLiteral("t_%1_%2_%3")
                 .arg(QString::fromLatin1(test != nullptr ? test->name() : "test").left(30).toLower())
                 .arg(getpid())
                 .arg(counter++);
    auto admin = db::PgConnection::connect(testServerUri());
    EXPECT_TRUE(admin.isOk()) << admin.status().message().toStdString();
    if (admin.isOk()) {
        m_admin = std::move(*admin);
    }
}

TestSchema::~TestSchema()
{
    if (m_admin) {
        static_cast<void>(
            m_admin->exec(QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(platform::quoteIdentifier(m_name))));
    }
}

db::StoreLocation TestSchema::location(int lockWaitSeconds) const
{
    return db::StoreLocation{testServerUri(), m_name, lockWaitSeconds};
}

std::unique_ptr<db::PgStore> TestSchema::store(int lockWaitSeconds) const
{
    auto store = db::PgStore::open(location(lockWaitSeconds));
    EXPECT_TRUE(store.isOk()) << store.status().message().toStdString();
    if (!store.isOk()) {
        return nullptr;
    }
    platform::Status made = (*store)->ensureSchema();
    EXPECT_TRUE(made.isOk()) << made.message().toStdString();
    return std::move(*store);
}

void TestSchema::exec(const QString& sql, const QList<QByteArray>& parameters)
{
    ASSERT_TRUE(m_admin);
    EXPECT_OK(m_admin->exec(sql, parameters));
}

QString TestSchema::table(const QString& name) const
{
    return platform::quoteIdentifier(m_name) + QLatin1Char('.') + platform::quoteIdentifier(name);
}

void TestSchema::insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values)
{
    QStringList columns{platform::quoteIdentifier(masters::kTerminalIdColumn)};
    QStringList parameters{QStringLiteral("$1")};
    QList<QByteArray> bound{terminalId.isNull() ? QByteArray() : db::textParameter(terminalId)};
    for (auto it = values.begin(); it != values.end(); ++it) {
        columns << platform::quoteIdentifier(it.key());
        bound << db::textParameter(it.value());
        parameters << QStringLiteral("$%1").arg(bound.size());
    }
    exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
             .arg(this->table(table), columns.join(u','), parameters.join(u',')),
         bound);
}

std::vector<QStringList> TestSchema::content(const QString& table, const QStringList& columns)
{
    std::vector<QStringList> rows = select(table, columns, QString());
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<QStringList> TestSchema::select(const QString& table,
                                            const QStringList& columns,
                                            const QString& rest,
                                            const QList<QByteArray>& parameters)
{
    std::vector<QStringList> rows;
    QStringList quoted;
    for (const QString& column : columns) {
        quoted << platform::quoteIdentifier(column);
    }
    auto result = m_admin->query(
        QStringLiteral("SELECT %1 FROM %2 %3").arg(quoted.join(u','), this->table(table), rest), parameters);
    EXPECT_TRUE(result.isOk()) << result.status().message().toStdString();
    if (!result.isOk()) {
        return rows;
    }
    for (int row = 0; row < (*result)->rows(); ++row) {
        QStringList values;
        for (int column = 0; column < columns.size(); ++column) {
            values << ((*result)->isNull(row, column) ? QStringLiteral("<NULL>") : (*result)->text(row, column));
        }
        rows.push_back(values);
    }
    return rows;
}

} // namespace kavelo::test
