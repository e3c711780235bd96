#include "PgTestServer.h"

#include "platform/Database.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

namespace kavelo::test {
namespace {

TEST(PgInitCommandTest, InitMakesTheTablesInDBSchemaAndRefusesForeignOnes)
{
    TestSchema schema;
    ASSERT_TRUE(schema.ready());
    QTemporaryDir home;
    writeFile(home.filePath(QStringLiteral("KAVELO.ini")),
              sjisLines({QStringLiteral("DBname=") + testServerUri(),
                         QStringLiteral("ImportDB=") + testServerUri(),
                         QStringLiteral("DATA=") + home.filePath(QStringLiteral("HT/")),
                         QStringLiteral("DBSchema=") + schema.name(),
                         QStringLiteral("StatusPort=0")}));
    const auto init = [&] {
        QProcess process;
        process.start(binaryDir() + QStringLiteral("/kavelo"),
                      {QStringLiteral("init"), QStringLiteral("--home"), home.path()});
        EXPECT_TRUE(process.waitForFinished(60000));
        return std::pair{process.exitCode(), QString::fromLocal8Bit(process.readAllStandardError())};
    };
    const auto [made, madeErrors] = init();
    ASSERT_EQ(made, 0) << madeErrors.toStdString();
    EXPECT_EQ(schema.content(QStringLiteral("SHOMAS"), {QStringLiteral("商品コード")}).size(), 0u);

    schema.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN note text").arg(schema.table(QStringLiteral("JISYA"))));
    const auto [refused, refusedErrors] = init();
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(refusedErrors.contains(QStringLiteral("%1.JISYA has a column \"note\"").arg(schema.name())))
        << refusedErrors.toStdString();
}

} // namespace
} // namespace kavelo::test
