// Hostile files through the commands: a bad update file, host file or settings file is refused with its path and
// line; the database, the previous export and the input file stay exactly as they were.
#include "ReliabilitySupport.h"
#include "support/TestSupport.h"

#include <QRandomGenerator>

using namespace kavelo;
using namespace kavelo::test;
using namespace kavelo::reliability;

namespace {

struct BadFile
{
    const char* name;
    QByteArray content;
    int line; // the line the error must name
};

std::vector<BadFile> badFiles(const QByteArray& goodLines)
{
    QRandomGenerator rng(77);
    QByteArray junk(256 * 1024, '\0');
    for (char& c : junk) {
        c = static_cast<char>(rng.bounded(256));
    }
    junk[0] = '\x81'; // a lead byte followed by anything but a trail byte: the first line is invalid
    junk[1] = '\x0A';
    return {
        {"invalid Windows-31J bytes", goodLines + QByteArray("1\xFF\xFE\xA0 broken\r\n") + goodLines, 3},
        {"NUL byte",
         goodLines.left(goodLines.indexOf('\n') + 1) + QByteArray("1234\0"
                                                                  "5678\r\n",
                                                                  11),
         2},
        {"10 MB line", goodLines + QByteArray(10 * 1024 * 1024, '9') + "\r\n", 3},
        {"binary junk", junk, 1},
    };
}

} // namespace

TEST(HostileCommand, BadUpdateFilesChangeNothing)
{
    ProgramFolder folder;
    const QString dat = folder.rcv(7) + QStringLiteral("SHOMAS.dat");
    const QString csv = folder.rcv(7) + QStringLiteral("SHOMAS.csv");
    const QByteArray good = sjisLines({productRecord(1, 1), productRecord(2, 1)});
    writeFile(dat, good);
    const QStringList args{QStringLiteral("update"),
                           QStringLiteral("SHOMAS"),
                           QStringLiteral("7"),
                           QStringLiteral("--home"),
                           folder.home()};
    KaveloRun first = runKavelo(args);
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const QString before = dumpTables(folder.dbPath());
    const QByteArray oldCsv = readFile(csv);

    const QByteArray newer = sjisLines({productRecord(1, 2), productRecord(3, 2)});
    for (const BadFile& bad : badFiles(newer)) {
        SCOPED_TRACE(bad.name);
        writeFile(dat, bad.content);
        KaveloRun run = runKavelo(args);
        EXPECT_FALSE(run.crashed);
        EXPECT_NE(run.exitCode, 0);
        const QString err = run.err;
        EXPECT_TRUE(err.contains(dat + QStringLiteral(", line %1").arg(bad.line))) << err.toStdString();
        EXPECT_EQ(dumpTables(folder.dbPath()), before);
        EXPECT_EQ(readFile(csv), oldCsv);
        EXPECT_EQ(readFile(dat), bad.content);
    }
}

TEST(HostileCommand, BadHostFilesChangeNothing)
{
    ProgramFolder folder;
    const QString host = folder.importDir() + QStringLiteral("SHOMAS.DAT");
    const QByteArray good = sjisLines({productRecord(1, 1), productRecord(2, 1)});
    writeFile(host, good);
    const QStringList args{QStringLiteral("import"), QStringLiteral("SHOMAS"), QStringLiteral("--home"), folder.home()};
    KaveloRun first = runKavelo(args);
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const QString before = dumpTables(folder.dbPath());

    const QByteArray newer = sjisLines({productRecord(1, 2), productRecord(3, 2)});
    for (const BadFile& bad : badFiles(newer)) {
        SCOPED_TRACE(bad.name);
        writeFile(host, bad.content);
        KaveloRun run = runKavelo(args);
        EXPECT_FALSE(run.crashed);
        EXPECT_NE(run.exitCode, 0);
        const QString err = run.err;
        EXPECT_TRUE(err.contains(host + QStringLiteral(", line %1").arg(bad.line))) << err.toStdString();
        EXPECT_EQ(dumpTables(folder.dbPath()), before);
        EXPECT_EQ(readFile(host), bad.content);
    }
}

TEST(HostileCommand, NamesWithQuotesAndCommasKeepTheExportsColumns)
{
    ProgramFolder folder;
    const QString dat = folder.rcv(7) + QStringLiteral("SHOMAS.dat");
    // 商品漢字名 at 28-47 and 商品カナ名 at 48-61 carry quotes and commas of both widths.
    QString line = productRecord(42, 1);
    line.replace(27, 20, QStringLiteral("\"ABC\",'DEF'，\"G\"").leftJustified(20, u' '));
    line.replace(47, 14, QStringLiteral("ｱ,\"ｲ\",'ｳ'").leftJustified(14, u' '));
    writeFile(dat, sjisLines({line}));
    KaveloRun run = runKavelo({QStringLiteral("update"),
                               QStringLiteral("SHOMAS"),
                               QStringLiteral("7"),
                               QStringLiteral("--home"),
                               folder.home()});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList exported = readSjisLines(folder.rcv(7) + QStringLiteral("SHOMAS.csv"));
    ASSERT_EQ(exported.size(), 1);
    const QStringList columns = exported.first().split(u',');
    EXPECT_EQ(columns.size(), 27) << exported.first().toStdString();
    EXPECT_TRUE(exported.first().contains(QStringLiteral("\"ABC\".'DEF'．\"G\""))) << exported.first().toStdString();
    EXPECT_TRUE(exported.first().contains(QStringLiteral("ｱ.\"ｲ\".'ｳ'"))) << exported.first().toStdString();

    // The host file keeps single quotes as they stand (values are bound, never joined into SQL).
    writeFile(folder.importDir() + QStringLiteral("SHOMAS.DAT"), sjisLines({line}));
    KaveloRun imported =
        runKavelo({QStringLiteral("import"), QStringLiteral("SHOMAS"), QStringLiteral("--home"), folder.home()});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_TRUE(dumpTables(folder.dbPath()).contains(QStringLiteral("\"ABC\",'DEF'，\"G\"")));
}

TEST(HostileCommand, JunkSettingsLinesAreIgnoredAndBadBytesNamed)
{
    ProgramFolder folder({QStringLiteral("[section]"),
                          QStringLiteral("junk"),
                          QStringLiteral("=x"),
                          QStringLiteral("; コメント=値"),
                          QStringLiteral("Unknown=1")});
    writeFile(folder.rcv(7) + QStringLiteral("SHOMAS.dat"), sjisLines({productRecord(1, 1)}));
    const QStringList args{QStringLiteral("update"),
                           QStringLiteral("SHOMAS"),
                           QStringLiteral("7"),
                           QStringLiteral("--home"),
                           folder.home()};
    KaveloRun run = runKavelo(args);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QString ini = folder.path(QStringLiteral("KAVELO.ini"));
    const QByteArray broken = readFile(ini) + QByteArray("DATA=\x82\r\n");
    writeFile(ini, broken);
    const QString before = dumpTables(folder.dbPath());
    run = runKavelo(args);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 2);
    const QString err = run.err;
    const qsizetype badLine = broken.count('\n'); // the last one
    EXPECT_TRUE(err.contains(ini + QStringLiteral(", line %1").arg(badLine))) << err.toStdString();
    EXPECT_EQ(readFile(ini), broken);
    EXPECT_EQ(dumpTables(folder.dbPath()), before);
}
