// `kavelo import MASTER`, run as the program it is.

#include "masters/Schema.h"
#include "platform/Database.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

namespace kavelo::import {
namespace {

using platform::Database;
using test::record;
using test::sjisLines;
using test::writeFile;

// `kavelo ARGS --home HOME`.
test::KaveloRun runKavelo(const QString& home, const QStringList& args)
{
    return test::runKavelo(args + QStringList{QStringLiteral("--home"), home});
}

// The codes of the classification master's table in that database, in insertion order.
QStringList codesIn(const QString& dbPath)
{
    QStringList codes;
    auto database = Database::openSqlite(dbPath, Database::OpenMode::ExistingOnly);
    EXPECT_OK(database);
    if (!database.isOk()) {
        return codes;
    }
    auto query = (*database)->prepare(QStringLiteral("SELECT \"分類コード\" FROM \"BUNMAS\" ORDER BY rowid"));
    EXPECT_OK(query);
    while (query.isOk()) {
        auto row = (*query)->step();
        if (!row.isOk() || !*row) {
            break;
        }
        codes << (*query)->text(0);
    }
    return codes;
}

QByteArray bunmasFile()
{
    return sjisLines({record({{QStringLiteral("1"), 1}, {QStringLiteral("0001"), 4}, {QStringLiteral("分類"), 20}}),
                      record({{QStringLiteral("3"), 1}, {QStringLiteral("0002"), 4}}),
                      QString()});
}

TEST(HostImportCommand, ImportsFromImportDirIntoImportDbWhateverDBnameAndDATASay)
{
    // DBname and DATA point elsewhere; the import's own keys are left at their defaults.
    test::ProgramFolder folder({QStringLiteral("DBname=elsewhere/Other.db"), QStringLiteral("DATA=elsewhere/")});
    writeFile(folder.importDir() + QStringLiteral("BUNMAS.DAT"), bunmasFile());

    test::KaveloRun run = runKavelo(folder.home(), {QStringLiteral("import"), QStringLiteral("BUNMAS")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("BUNMAS: 3 records read, 1 replaced, 1 deleted, 1 skipped")))
        << run.out.toStdString();
    EXPECT_EQ(run.err, QString()); // no progress line: stderr is not a terminal
    EXPECT_EQ(codesIn(folder.dbPath()), QStringList{QStringLiteral("0001")});
    EXPECT_FALSE(QFileInfo::exists(folder.path(QStringLiteral("elsewhere"))));
}

TEST(HostImportCommand, ImportDBAndImportDirChooseWhereTheImportWorks)
{
    test::ProgramFolder folder;
    const QString importDb = folder.path(QStringLiteral("import/Import.db"));
    const QString importDir = folder.path(QStringLiteral("host/"));
    QDir().mkpath(QFileInfo(importDb).absolutePath());
    {
        auto database = Database::openSqlite(importDb, Database::OpenMode::CreateIfMissing);
        ASSERT_OK(database);
        ASSERT_OK(masters::ensureSchema(**database));
    }
    writeFile(folder.path(QStringLiteral("KAVELO.ini")),
              sjisLines({QStringLiteral("DBname=") + folder.dbPath(),
                         QStringLiteral("DATA=") + folder.dataRoot(),
                         QStringLiteral("ImportDB=") + importDb,
                         QStringLiteral("ImportDir=") + importDir}));
    writeFile(importDir + QStringLiteral("BUNMAS.DAT"), bunmasFile());
    writeFile(folder.importDir() + QStringLiteral("BUNMAS.DAT"),
              sjisLines({record({{QStringLiteral("1"), 1}, {QStringLiteral("9999"), 4}})}));

    test::KaveloRun run = runKavelo(folder.home(), {QStringLiteral("import"), QStringLiteral("BUNMAS")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(codesIn(importDb), QStringList{QStringLiteral("0001")});
    EXPECT_EQ(codesIn(folder.dbPath()), QStringList());
}

TEST(HostImportCommand, ExitCodesAndOneLineErrors)
{
    test::ProgramFolder folder;
    struct Case
    {
        const char* name;
        QStringList args;
        int exitCode;
        QString errorNames; // text the one error line must hold
    };
    const QString hostFile = folder.importDir() + QStringLiteral("TENMAS.DAT");
    const std::vector<Case> cases = {
        {"no master", {QStringLiteral("import")}, 2, QStringLiteral("BUNMAS TENMAS SIRMAS TOKMAS SHOMAS JISYA")},
        {"unknown master", {QStringLiteral("import"), QStringLiteral("XXMAS")}, 2, QStringLiteral("XXMAS")},
        {"names are case-sensitive", {QStringLiteral("import"), QStringLiteral("bunmas")}, 2, QStringLiteral("bunmas")},
        {"two masters", {QStringLiteral("import"), QStringLiteral("BUNMAS"), QStringLiteral("JISYA")}, 2, QString()},
        {"missing host file", {QStringLiteral("import"), QStringLiteral("TENMAS")}, 1, hostFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::KaveloRun run = runKavelo(folder.home(), c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.errorNames)) << run.err.toStdString();
    }

    // A broken line: nothing of the file is imported and the error names the file and the line.
    writeFile(hostFile, sjisLines({record({{QStringLiteral("1"), 1}, {QStringLiteral("001"), 3}})}) + "1002\x81\r\n");
    test::KaveloRun broken = runKavelo(folder.home(), {QStringLiteral("import"), QStringLiteral("TENMAS")});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_TRUE(broken.err.contains(hostFile + QStringLiteral(", line 2"))) << broken.err.toStdString();
    auto database = Database::openSqlite(folder.dbPath(), Database::OpenMode::ExistingOnly);
    ASSERT_OK(database);
    auto count = (*database)->prepare(QStringLiteral("SELECT count(*) FROM \"TENMAS\""));
    ASSERT_OK(count);
    ASSERT_OK((*count)->step());
    EXPECT_EQ((*count)->integer(0), 0);
}

} // namespace
} // namespace kavelo::import
