#include "masters/Masters.h"
#include "support/MasterTables.h"
#include "support/TestSupport.h"

#include <QFileInfo>

namespace kavelo::test {
namespace {

TEST(MasterUpdateCommandTest, UpdatesOneTerminalAndLeavesTheUpdateFile)
{
    ProgramFolder folder;
    MasterTables tables(folder.dbPath());
    const auto& m = masters::productMaster();
    const QString update = folder.rcv(7) + m.updateFileName();
    tables.insert(m.name, QStringLiteral("0007"), {{"有効区分", "1"}, {"商品コード", "4900000000001"}});
    writeFile(update,
              sjisLines({record({{"1", 1}, {"4900000000001", 13}, {"A", 12}, {"", 1}, {"商品", 20}}),
                         record({{"1", 1}, {"4900000000002", 13}, {"B", 12}})}));

    KaveloRun ok = runKavelo({"update", "SHOMAS", "7", "--home", folder.home()});
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_EQ(ok.out, "SHOMAS terminal 0007: 2 lines read, 1 rows added, 1 replaced, 2 exported\n");
    EXPECT_EQ(tables.rows(m.name, {"端末ID", "商品コード", "自社コード", "商品漢字名"}, "0007"),
              std::vector<QStringList>(
                  {{"0007", "4900000000001", "A           ", "商品"}, {"0007", "4900000000002", "B           ", ""}}));
    EXPECT_TRUE(QFileInfo::exists(update));
    EXPECT_EQ(readSjisLines(folder.rcv(7) + m.exportFileName()).size(), 2);
}

TEST(MasterUpdateCommandTest, FailuresAndBadArguments)
{
    ProgramFolder folder;
    const QString missing = folder.rcv(4) + QStringLiteral("JISYA.dat");
    KaveloRun noFile = runKavelo({"update", "JISYA", "4", "--home", folder.home()});
    EXPECT_EQ(noFile.exitCode, 1);
    EXPECT_EQ(noFile.err, "kavelo: JISYA, terminal 0004: " + missing + ": update file not found\n");

    writeFile(folder.rcv(2) + QStringLiteral("TENMAS.dat"), QByteArray("1001\r\n1\x82\xFF\r\n"));
    KaveloRun invalid = runKavelo({"update", "TENMAS", "2", "--home", folder.home()});
    EXPECT_EQ(invalid.exitCode, 1);
    EXPECT_TRUE(invalid.err.contains("TENMAS, terminal 0002: ")) << invalid.err.toStdString();
    EXPECT_TRUE(invalid.err.contains("TENMAS.dat, line 2: not valid Windows-31J")) << invalid.err.toStdString();
    EXPECT_EQ(invalid.err.count(u'\n'), 1);

    for (const QStringList& args : {QStringList{"update", "NOSUCH", "7"},
                                    QStringList{"update", "SHOMAS", "seven"},
                                    QStringList{"update", "SHOMAS"},
                                    QStringList{"update", "SHOMAS", "7", "8"}}) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        KaveloRun bad = runKavelo(args + QStringList{"--home", folder.home()});
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_EQ(bad.err.count(u'\n'), 1) << bad.err.toStdString();
    }
}

} // namespace
} // namespace kavelo::test
