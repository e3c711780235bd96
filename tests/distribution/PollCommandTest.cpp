#include "support/MasterTables.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

using kavelo::test::ProgramFolder;
using kavelo::test::readFile;
using kavelo::test::readSjisLines;
using kavelo::test::record;
using kavelo::test::sjisLines;
using kavelo::test::writeFile;

namespace {

struct PollRun
{
    int exitCode;
    QStringList out; // its lines
};

PollRun kaveloPoll(const QString& home)
{
    const kavelo::test::KaveloRun run =
        kavelo::test::runKavelo({QStringLiteral("poll"), QStringLiteral("--home"), home});
    return {run.exitCode, run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)};
}

QString classification(const QString& flag, const QString& code, const QString& name)
{
    return record({{flag, 1},
                   {code, 4},
                   {name, 20},
                   {QStringLiteral("1"), 1},
                   {QStringLiteral("10"), 3},
                   {QStringLiteral("ｼｮｸﾋﾝ"), 10},
                   {QString(), 3}});
}

TEST(PollCommand, ProcessesUpdateFilesOfSeveralTerminalsAndMasters)
{
    ProgramFolder folder;
    kavelo::test::MasterTables tables(folder.dbPath());
    writeFile(folder.rcv(1) + QStringLiteral("BUNMAS.dat"),
              sjisLines({classification(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("食品")),
                         classification(QStringLiteral("1"), QStringLiteral("0002"), QStringLiteral("日用品,雑貨"))}));
    writeFile(folder.rcv(1) + QStringLiteral("BUNMAS.sav"), "older update");
    writeFile(folder.rcv(1) + QStringLiteral("JISYA.dat"),
              sjisLines({record(
                  {{QStringLiteral("1"), 1}, {QStringLiteral("J01"), 13}, {QStringLiteral("4900000000001"), 13}})}));
    writeFile(folder.rcv(2) + QStringLiteral("BUNMAS.dat"),
              sjisLines({classification(QStringLiteral("3"), QStringLiteral("0001"), QStringLiteral("衣料"))}));
    writeFile(
        folder.rcv(11) + QStringLiteral("TENMAS.dat"),
        sjisLines({record({{QStringLiteral("1"), 1}, {QStringLiteral("101"), 3}, {QStringLiteral("本店"), 15}})}));
    QDir().mkpath(folder.dataRoot() + QStringLiteral("0012/rcv"));
    writeFile(folder.dataRoot() + QStringLiteral("0012/rcv/BUNMAS.dat"),
              sjisLines({classification(QStringLiteral("1"), QStringLiteral("0009"), QStringLiteral("対象外"))}));

    PollRun run = kaveloPoll(folder.home());
    ASSERT_EQ(run.exitCode, 0) << run.out.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(run.out.size(), 4) << run.out.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(run.out[0].startsWith(QStringLiteral("terminal 0001 BUNMAS: 2 lines read")))
        << run.out[0].toStdString();
    EXPECT_TRUE(run.out[1].startsWith(QStringLiteral("terminal 0001 JISYA: 1 lines read"))) << run.out[1].toStdString();
    EXPECT_TRUE(run.out[2].startsWith(QStringLiteral("terminal 0002 BUNMAS: 1 lines read")))
        << run.out[2].toStdString();
    EXPECT_TRUE(run.out[3].startsWith(QStringLiteral("terminal 0011 TENMAS: 1 lines read")))
        << run.out[3].toStdString();

    EXPECT_EQ(readSjisLines(folder.rcv(1) + QStringLiteral("BUNMAS.csv")),
              (QStringList{QStringLiteral("0001,食品,1,10 ,ｼｮｸﾋﾝ,1,   "),
                           QStringLiteral("0002,日用品.雑貨,1,10 ,ｼｮｸﾋﾝ,1,   ")}));
    EXPECT_EQ(readSjisLines(folder.rcv(1) + QStringLiteral("JISYA.csv")),
              QStringList{QStringLiteral("J01,4900000000001,1")});
    EXPECT_EQ(readSjisLines(folder.rcv(2) + QStringLiteral("BUNMAS.csv")),
              QStringList{QStringLiteral("0001,衣料,1,10 ,ｼｮｸﾋﾝ,3,   ")});
    EXPECT_EQ(readSjisLines(folder.rcv(11) + QStringLiteral("TENMAS.csv")), QStringList{QStringLiteral("101,本店,1")});

    for (const auto& [terminal, master] :
         {std::pair{1, "BUNMAS"}, std::pair{1, "JISYA"}, std::pair{2, "BUNMAS"}, std::pair{11, "TENMAS"}}) {
        SCOPED_TRACE(master);
        const QString name = QLatin1String(master);
        EXPECT_FALSE(QFile::exists(folder.rcv(terminal) + name + QStringLiteral(".dat")));
        EXPECT_TRUE(QFile::exists(folder.rcv(terminal) + name + QStringLiteral(".sav")));
    }
    EXPECT_NE(readFile(folder.rcv(1) + QStringLiteral("BUNMAS.sav")), QByteArray("older update"));
    EXPECT_EQ(tables.count(QStringLiteral("BUNMAS"), QStringLiteral("0001")), 2);
    EXPECT_EQ(tables.count(QStringLiteral("BUNMAS"), QStringLiteral("0002")), 1);
    EXPECT_EQ(tables.count(QStringLiteral("JISYA"), QStringLiteral("0001")), 1);
    EXPECT_EQ(tables.count(QStringLiteral("TENMAS"), QStringLiteral("0011")), 1);
    EXPECT_EQ(tables.count(QStringLiteral("BUNMAS"), QStringLiteral("0012")), 0);
    EXPECT_TRUE(QFile::exists(folder.dataRoot() + QStringLiteral("0012/rcv/BUNMAS.dat")));

    // A broken update file fails alone: it stays for the next poll, the other files are processed, exit 1.
    writeFile(folder.rcv(3) + QStringLiteral("SIRMAS.dat"), QByteArray("1000001\x81\xff\r\n"));
    writeFile(folder.rcv(3) + QStringLiteral("JISYA.dat"),
              sjisLines({record(
                  {{QStringLiteral("1"), 1}, {QStringLiteral("J02"), 13}, {QStringLiteral("4900000000002"), 13}})}));
    PollRun failing = kaveloPoll(folder.home());
    EXPECT_EQ(failing.exitCode, 1);
    ASSERT_EQ(failing.out.size(), 2) << failing.out.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(failing.out[0].startsWith(QStringLiteral("terminal 0003 SIRMAS: FAILED: ")))
        << failing.out[0].toStdString();
    EXPECT_TRUE(failing.out[1].startsWith(QStringLiteral("terminal 0003 JISYA: 1 lines read")))
        << failing.out[1].toStdString();
    EXPECT_TRUE(QFile::exists(folder.rcv(3) + QStringLiteral("SIRMAS.dat")));
    EXPECT_FALSE(QFile::exists(folder.rcv(3) + QStringLiteral("SIRMAS.sav")));
    EXPECT_TRUE(QFile::exists(folder.rcv(3) + QStringLiteral("JISYA.sav")));
}

} // namespace
