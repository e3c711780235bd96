#include "masters/Masters.h"
#include "platform/Database.h"
#include "platform/TextCodec.h"
#include "shell/Settings.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace kavelo::shell {
namespace {

QStringList tableColumns(platform::Database& db, const QString& table)
{
    auto stmt = db.prepare(QStringLiteral("SELECT name FROM pragma_table_info(?1) ORDER BY cid"));
    EXPECT_TRUE(stmt.isOk());
    (*stmt)->bind(1, table);
    QStringList columns;
    while (*(*stmt)->step()) {
        columns << (*stmt)->text(0);
    }
    return columns;
}

TEST(InitCommand, BuildsTheWholeTreeAndSchemaAndIsHarmlessTwice)
{
    QTemporaryDir dir;
    const QString home = QDir(dir.path()).filePath(QStringLiteral("prog"));
    test::KaveloRun first = test::runKavelo({QStringLiteral("init"), QStringLiteral("--home"), home});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();

    auto settings = ReadSettings(home);
    ASSERT_OK(settings);
    EXPECT_EQ(settings->DBPath, home + QStringLiteral("/HT/0000/MasterConv.db"));
    EXPECT_EQ(settings->DataRoot, home + QStringLiteral("/HT/"));
    for (const char* folder : {"HT/0001/snd",
                               "HT/0001/rcv",
                               "HT/0011/snd",
                               "HT/0011/rcv",
                               "HT/backup/0001/snd",
                               "HT/backup/0011/snd",
                               "HT/0000/rcv"}) {
        EXPECT_TRUE(QFileInfo(QDir(home).filePath(QLatin1String(folder))).isDir()) << folder;
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(home).filePath(QStringLiteral("HT/0012"))));

    {
        auto db = platform::Database::openSqlite(settings->DBPath, platform::Database::OpenMode::ExistingOnly);
        ASSERT_OK(db);
        for (const masters::MasterDefinition* m : masters::allMasters()) {
            QStringList expected{QStringLiteral("端末ID")};
            for (const QString& c : m->columns) {
                expected << c;
            }
            EXPECT_EQ(tableColumns(**db, m->name), expected) << m->name.toStdString();
        }
        auto insert = (*db)->prepare(QStringLiteral("INSERT INTO BUNMAS (\"分類コード\") VALUES ('0001')"));
        ASSERT_OK(insert);
        ASSERT_OK((*insert)->step());
    }

    // A second run overwrites neither the settings file nor a row.
    test::writeFile(settingsPath(home), test::readFile(settingsPath(home)) + "ListenPort=5000\r\n");
    test::KaveloRun second = test::runKavelo({QStringLiteral("init"), QStringLiteral("--home"), home});
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_TRUE(test::readFile(settingsPath(home)).endsWith("ListenPort=5000\r\n"));
    auto db = platform::Database::openSqlite(settings->DBPath, platform::Database::OpenMode::ExistingOnly);
    ASSERT_OK(db);
    auto count = (*db)->prepare(QStringLiteral("SELECT count(*) FROM BUNMAS"));
    ASSERT_OK(count);
    ASSERT_TRUE(*(*count)->step());
    EXPECT_EQ((*count)->integer(0), 1);
    EXPECT_TRUE(QFileInfo::exists(QDir(home).filePath(QStringLiteral("kavelo.log"))));
}

TEST(InitCommand, SeparateImportDatabaseGetsTheTablesToo)
{
    QTemporaryDir dir;
    test::writeFile(QDir(dir.path()).filePath(QStringLiteral("KAVELO.ini")),
                    test::sjisLines({QStringLiteral("DBname=") + dir.path() + QStringLiteral("/a/terminals.db"),
                                     QStringLiteral("DATA=") + dir.path() + QStringLiteral("/data/"),
                                     QStringLiteral("ImportDB=") + dir.path() + QStringLiteral("/b/host.db"),
                                     QStringLiteral("ImportDir=") + dir.path() + QStringLiteral("/host/")}));
    test::KaveloRun run = test::runKavelo({QStringLiteral("init"), QStringLiteral("--home"), dir.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const char* db : {"/a/terminals.db", "/b/host.db"}) {
        auto opened =
            platform::Database::openSqlite(dir.path() + QLatin1String(db), platform::Database::OpenMode::ExistingOnly);
        ASSERT_OK(opened);
        EXPECT_TRUE(*(*opened)->hasTable(QStringLiteral("SHOMAS"))) << db;
    }
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/host")).isDir());
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/data/backup/0007/snd")).isDir());
}

TEST(CommandLine, UsageErrorsAndHelp)
{
    test::KaveloRun help = test::runKavelo({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"init", "update MASTER TERMINAL", "import MASTER", "poll", "--headless"}) {
        EXPECT_TRUE(help.out.contains(QLatin1String(command))) << command;
    }
    EXPECT_EQ(test::runKavelo({QStringLiteral("--version")}).exitCode, 0);
    EXPECT_EQ(test::runKavelo({QStringLiteral("frobnicate")}).exitCode, 2);
    EXPECT_EQ(test::runKavelo({QStringLiteral("--bogus")}).exitCode, 2);

    QTemporaryDir empty;
    test::KaveloRun noSettings = test::runKavelo({QStringLiteral("poll"), QStringLiteral("--home"), empty.path()});
    EXPECT_EQ(noSettings.exitCode, 2);
    EXPECT_TRUE(noSettings.err.contains(QStringLiteral("KAVELO.ini"))) << noSettings.err.toStdString();
    EXPECT_EQ(noSettings.err.count(QLatin1Char('\n')), 1) << noSettings.err.toStdString();
}

} // namespace
} // namespace kavelo::shell
