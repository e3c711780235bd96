#include "distribution/MasterPoll.h"

#include "masters/Masters.h"
#include "support/InjectedFileOps.h"
#include "support/TestDatabase.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <stop_token>

using kavelo::distribution::MasterPoll;
using kavelo::distribution::PollReport;
using kavelo::distribution::UpdateContext;
using kavelo::distribution::UpdateFunction;
using kavelo::distribution::UpdateSummary;
using kavelo::masters::MasterDefinition;
using kavelo::platform::Result;
using kavelo::platform::Status;
using kavelo::test::InjectedFileOps;
using kavelo::test::ProgramFolder;
using kavelo::test::readFile;
using kavelo::test::writeFile;

namespace {

const QStringList kMasters = {QStringLiteral("BUNMAS"),
                              QStringLiteral("TENMAS"),
                              QStringLiteral("SIRMAS"),
                              QStringLiteral("TOKMAS"),
                              QStringLiteral("SHOMAS"),
                              QStringLiteral("JISYA")};

// Stands in for the update engine: records each call, checks the update file is there, and fails where told.
struct FakeUpdate
{
    QStringList calls;   // "0003 SHOMAS"
    QStringList failFor; // same form
    std::function<void(const QString& call)> during;

    UpdateFunction function()
    {
        return [this](const MasterDefinition& master,
                      const UpdateContext& context,
                      qint64 terminalNo) -> Result<UpdateSummary> {
            const QString id = kavelo::exchange::FolderTree::terminalId(terminalNo);
            const QString call = id + QLatin1Char(' ') + master.name;
            calls << call;
            if (during) {
                during(call);
            }
            EXPECT_TRUE(QFile::exists(context.tree.receiveFile(id, master.updateFileName()))) << call.toStdString();
            if (failFor.contains(call)) {
                return Status::lineError(
                    context.tree.receiveFile(id, master.updateFileName()), 2, QStringLiteral("broken record"));
            }
            UpdateSummary summary;
            summary.linesRead = terminalNo;
            summary.rowsExported = terminalNo;
            return summary;
        };
    }
};

class MasterPollTest : public ::testing::Test
{
  protected:
    void plant(int terminal, const QString& master, const QByteArray& content = "records")
    {
        QDir().mkpath(folder.rcv(terminal));
        writeFile(folder.rcv(terminal) + master + QStringLiteral(".dat"), content);
    }
    QString rcvFile(int terminal, const QString& name) const { return folder.rcv(terminal) + name; }

    ProgramFolder folder;
    UpdateContext context{folder.dbPath(), kavelo::exchange::FolderTree(folder.dataRoot(), folder.home())};
    FakeUpdate fake;
};

TEST_F(MasterPollTest, ProcessesTerminalsInRisingOrderAndMastersInFixedOrder)
{
    // Planted out of order on purpose.
    for (const QString& master : {QStringLiteral("JISYA"), QStringLiteral("SHOMAS"), QStringLiteral("BUNMAS")}) {
        plant(3, master, master.toLatin1());
    }
    plant(11, QStringLiteral("TOKMAS"));
    plant(1, QStringLiteral("JISYA"));
    plant(12, QStringLiteral("BUNMAS"));

    QStringList steps;
    PollReport report = MasterPoll(context,
                                   fake.function(),
                                   kavelo::platform::FileOps::real(),
                                   [&steps](qint64 terminalNo, const QString& master) {
                                       steps << kavelo::exchange::FolderTree::terminalId(terminalNo) + u' ' + master;
                                   });
    EXPECT_EQ(steps, fake.calls); // told before each file
    EXPECT_EQ(fake.calls,
              (QStringList{QStringLiteral("0001 JISYA"),
                           QStringLiteral("0003 BUNMAS"),
                           QStringLiteral("0003 SHOMAS"),
                           QStringLiteral("0003 JISYA"),
                           QStringLiteral("0011 TOKMAS")}));
    ASSERT_EQ(report.entries.size(), 5u);
    EXPECT_TRUE(report.allOk());
    EXPECT_EQ(report.entries[1].terminalNo, 3);
    EXPECT_EQ(report.entries[1].master, QStringLiteral("BUNMAS"));
    EXPECT_EQ(report.entries[4].summary.linesRead, 11);

    for (const QString& master : {QStringLiteral("JISYA"), QStringLiteral("SHOMAS"), QStringLiteral("BUNMAS")}) {
        SCOPED_TRACE(master.toStdString());
        EXPECT_FALSE(QFile::exists(rcvFile(3, master + QStringLiteral(".dat"))));
        EXPECT_EQ(readFile(rcvFile(3, master + QStringLiteral(".sav"))), master.toLatin1());
    }
    // Terminal 12 is beyond the poll.
    EXPECT_TRUE(QFile::exists(rcvFile(12, QStringLiteral("BUNMAS.dat"))));
    EXPECT_FALSE(QFile::exists(rcvFile(12, QStringLiteral("BUNMAS.sav"))));
}

TEST_F(MasterPollTest, NewerUpdateFileReplacesOldSetAside)
{
    writeFile(rcvFile(5, QStringLiteral("SHOMAS.sav")), "old");
    plant(5, QStringLiteral("SHOMAS"), "new");
    PollReport report = MasterPoll(context, fake.function());
    EXPECT_TRUE(report.allOk());
    EXPECT_EQ(readFile(rcvFile(5, QStringLiteral("SHOMAS.sav"))), "new");
    EXPECT_FALSE(QFile::exists(rcvFile(5, QStringLiteral("SHOMAS.dat"))));
}

// The program ends during an update: the update gives up (nothing of it stored, its file left), and the poll
// takes no further file.
TEST_F(MasterPollTest, AStopEndsThePollBeforeItsNextFile)
{
    plant(2, QStringLiteral("TENMAS"));
    plant(2, QStringLiteral("JISYA"));
    plant(5, QStringLiteral("BUNMAS"));
    // A terminal without a receive folder is no failure.
    QDir(folder.rcv(4)).removeRecursively();
    std::stop_source stop;
    context.stop = stop.get_token();
    fake.during = [&stop](const QString& call) {
        if (call == QStringLiteral("0002 TENMAS")) {
            stop.request_stop();
        }
    };
    fake.failFor << QStringLiteral("0002 TENMAS");
    PollReport report = MasterPoll(context, fake.function());
    EXPECT_EQ(fake.calls, QStringList{QStringLiteral("0002 TENMAS")});
    ASSERT_EQ(report.entries.size(), 1u);
    EXPECT_FALSE(report.entries[0].ok);
    for (const QString& left : {rcvFile(2, QStringLiteral("TENMAS.dat")),
                                rcvFile(2, QStringLiteral("JISYA.dat")),
                                rcvFile(5, QStringLiteral("BUNMAS.dat"))}) {
        EXPECT_TRUE(QFile::exists(left)) << left.toStdString();
    }
}

TEST_F(MasterPollTest, FailingUpdateLeavesItsFileAndPollGoesOn)
{
    plant(2, QStringLiteral("SIRMAS"), "bad");
    writeFile(rcvFile(2, QStringLiteral("SIRMAS.sav")), "previous");
    plant(2, QStringLiteral("TOKMAS"));
    plant(4, QStringLiteral("BUNMAS"));
    fake.failFor << QStringLiteral("0002 SIRMAS");

    PollReport report = MasterPoll(context, fake.function());
    EXPECT_EQ(
        fake.calls,
        (QStringList{QStringLiteral("0002 SIRMAS"), QStringLiteral("0002 TOKMAS"), QStringLiteral("0004 BUNMAS")}));
    ASSERT_EQ(report.entries.size(), 3u);
    EXPECT_FALSE(report.allOk());
    EXPECT_EQ(report.failures(), 1);
    const auto& failed = report.entries[0];
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.updated);
    EXPECT_EQ(failed.terminalNo, 2);
    EXPECT_EQ(failed.master, QStringLiteral("SIRMAS"));
    EXPECT_EQ(failed.failure.reason(), QStringLiteral("broken record"));
    EXPECT_EQ(failed.failure.line(), 2);
    EXPECT_EQ(failed.failure.message(),
              QStringLiteral("SIRMAS, terminal 0002: ") + rcvFile(2, QStringLiteral("SIRMAS.dat")) +
                  QStringLiteral(", line 2: broken record"));
    EXPECT_EQ(readFile(rcvFile(2, QStringLiteral("SIRMAS.dat"))), "bad");
    EXPECT_EQ(readFile(rcvFile(2, QStringLiteral("SIRMAS.sav"))), "previous");
    EXPECT_TRUE(report.entries[1].ok);
    EXPECT_TRUE(report.entries[2].ok);

    // The next poll tries the file left in place again.
    fake.calls.clear();
    fake.failFor.clear();
    PollReport next = MasterPoll(context, fake.function());
    EXPECT_EQ(fake.calls, QStringList{QStringLiteral("0002 SIRMAS")});
    EXPECT_TRUE(next.allOk());
    EXPECT_EQ(readFile(rcvFile(2, QStringLiteral("SIRMAS.sav"))), "bad");
}

TEST_F(MasterPollTest, FailingSetAsideIsReportedAndPollGoesOn)
{
    plant(1, QStringLiteral("BUNMAS"));
    writeFile(rcvFile(1, QStringLiteral("BUNMAS.sav")), "old");
    plant(1, QStringLiteral("TENMAS"));
    plant(6, QStringLiteral("JISYA"));
    InjectedFileOps files;
    files.failOn(InjectedFileOps::Op::Remove, QStringLiteral("0001/rcv/BUNMAS.sav"));
    files.failOn(InjectedFileOps::Op::Move, QStringLiteral("0001/rcv/TENMAS.sav"));

    PollReport report = MasterPoll(context, fake.function(), files);
    ASSERT_EQ(report.entries.size(), 3u);
    EXPECT_EQ(report.failures(), 2);
    for (int i : {0, 1}) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(report.entries[i].updated);
        EXPECT_FALSE(report.entries[i].ok);
        EXPECT_TRUE(report.entries[i].failure.message().contains(QStringLiteral("injected failure")));
    }
    EXPECT_TRUE(QFile::exists(rcvFile(1, QStringLiteral("BUNMAS.dat"))));
    EXPECT_TRUE(QFile::exists(rcvFile(1, QStringLiteral("TENMAS.dat"))));
    EXPECT_TRUE(report.entries[2].ok);
    EXPECT_TRUE(QFile::exists(rcvFile(6, QStringLiteral("JISYA.sav"))));
}

// The poll with the real update: a database that cannot be reached (a server down, a file gone) fails each update
// file with the database's reason and leaves it, with the terminal's previous export, for the next poll, which
// applies it once the database is there.
class MasterPollDatabaseTest : public kavelo::test::BackendTest
{
  protected:
    void SetUp() override { ASSERT_TRUE(tables->ready()); }

    ProgramFolder folder;
    std::unique_ptr<kavelo::test::TestDatabase> tables = kavelo::test::TestDatabase::make(GetParam(), folder.dbPath());
};

INSTANTIATE_TEST_SUITE_P(, MasterPollDatabaseTest, kavelo::test::kBothBackends, kavelo::test::backendName);

TEST_P(MasterPollDatabaseTest, AnUnreachableDatabaseFailsEachFileAndTheNextPollAppliesIt)
{
    using kavelo::test::record;
    using kavelo::test::sjisLines;
    writeFile(folder.rcv(2) + QStringLiteral("BUNMAS.dat"), sjisLines({record({{"1", 1}, {"0012", 4}, {"食品", 20}})}));
    writeFile(folder.rcv(2) + QStringLiteral("BUNMAS.csv"), "previous export\r\n");
    writeFile(folder.rcv(5) + QStringLiteral("TENMAS.dat"), sjisLines({record({{"1", 1}, {"101", 3}, {"本店", 15}})}));
    const kavelo::exchange::FolderTree tree(folder.dataRoot(), folder.home());

    const UpdateContext unreachable{tables->missing(folder.path(QStringLiteral("gone"))), tree};
    const PollReport failed = MasterPoll(unreachable);
    ASSERT_EQ(failed.entries.size(), 2u);
    for (const kavelo::distribution::PollEntry& entry : failed.entries) {
        SCOPED_TRACE(entry.master.toStdString());
        EXPECT_FALSE(entry.updated);
        EXPECT_TRUE(entry.failure.message().contains(kavelo::db::describeDatabase(unreachable.database.database)))
            << entry.failure.message().toStdString();
    }
    EXPECT_EQ(readFile(folder.rcv(2) + QStringLiteral("BUNMAS.csv")), "previous export\r\n");
    EXPECT_TRUE(QFile::exists(folder.rcv(2) + QStringLiteral("BUNMAS.dat")));
    EXPECT_TRUE(QFile::exists(folder.rcv(5) + QStringLiteral("TENMAS.dat")));

    const PollReport applied = MasterPoll(UpdateContext{tables->location(), tree});
    EXPECT_TRUE(applied.allOk());
    EXPECT_EQ(applied.entries.size(), 2u);
    EXPECT_EQ(kavelo::test::readSjisLines(folder.rcv(2) + QStringLiteral("BUNMAS.csv")),
              QStringList{QStringLiteral("0012,食品,,,,1,")});
    EXPECT_TRUE(QFile::exists(folder.rcv(5) + QStringLiteral("TENMAS.sav")));
    EXPECT_EQ(tables->count(QStringLiteral("TENMAS"), QStringLiteral("0005")), 1);
}

} // namespace
