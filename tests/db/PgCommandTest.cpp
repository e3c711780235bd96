#include "support/PgTestServer.h"

#include "masters/Masters.h"
#include "platform/Database.h"
#include "support/TestSupport.h"

#include <QFileInfo>

#include <QProcess>
#include <QTemporaryDir>

namespace kavelo::test {
namespace {

TEST(PgCommandTest, InitMakesTheTablesInDBSchemaAndRefusesForeignOnes)
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

// kavelo update, poll and import with the masters on a server: the same files and lines out as on SQLite.
TEST(PgCommandTest, UpdatePollAndImportWorkOnTheServer)
{
    TestSchema schema;
    ASSERT_TRUE(schema.ready());
    ProgramFolder folder({QStringLiteral("DBname=") + testServerUri(),
                          QStringLiteral("ImportDB=") + testServerUri(),
                          QStringLiteral("DBSchema=") + schema.name()});
    const KaveloRun init = runKavelo({"init", "--home", folder.home()});
    ASSERT_EQ(init.exitCode, 0) << init.err.toStdString();

    const QString bunmas = record({{"1", 1}, {"0012", 4}, {"食品", 20}, {"2", 1}, {"008", 3}, {"ｼｮｸﾋﾝ", 10}});
    writeFile(folder.rcv(3) + QStringLiteral("BUNMAS.dat"), sjisLines({bunmas}));
    const KaveloRun update = runKavelo({"update", "BUNMAS", "3", "--home", folder.home()});
    EXPECT_EQ(update.exitCode, 0) << update.err.toStdString();
    EXPECT_EQ(update.out, "BUNMAS terminal 0003: 1 lines read, 1 rows added, 0 replaced, 1 exported\n");
    EXPECT_EQ(readSjisLines(folder.rcv(3) + QStringLiteral("BUNMAS.csv")),
              QStringList{QStringLiteral("0012,食品,2,008,ｼｮｸﾋﾝ,1,")});

    writeFile(folder.rcv(5) + QStringLiteral("TENMAS.dat"), sjisLines({record({{"1", 1}, {"101", 3}, {"本店", 15}})}));
    const KaveloRun poll = runKavelo({"poll", "--home", folder.home()});
    EXPECT_EQ(poll.exitCode, 0) << poll.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder.rcv(3) + QStringLiteral("BUNMAS.sav")));
    EXPECT_TRUE(QFileInfo::exists(folder.rcv(5) + QStringLiteral("TENMAS.sav")));
    EXPECT_EQ(schema.content(QStringLiteral("TENMAS"), {masters::kTerminalIdColumn, QStringLiteral("店舗コード")}),
              std::vector<QStringList>({{"0005", "101"}}));

    writeFile(folder.importDir() + QStringLiteral("BUNMAS.DAT"), sjisLines({QStringLiteral("3") + bunmas.mid(1)}));
    const KaveloRun imported = runKavelo({"import", "BUNMAS", "--home", folder.home()});
    EXPECT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("schema %1").arg(schema.name()))) << imported.out.toStdString();
    EXPECT_EQ(schema.content(QStringLiteral("BUNMAS"), {QStringLiteral("分類コード")}), std::vector<QStringList>());
}

} // namespace
} // namespace kavelo::test
