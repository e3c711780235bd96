// Faults of the server itself: a connection lost in the middle of a file, a stop while a statement waits; and the
// master's lock, which keeps two writers of one schema apart.

#include "support/PgTestServer.h"

#include "distribution/MasterUpdate.h"
#include "import/HostImport.h"
#include "masters/Masters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <future>
#include <thread>

namespace kavelo::test {
namespace {

using masters::MasterDefinition;

const QString kT7 = QStringLiteral("0007");

QString bunmasLine(const QString& flag, const QString& code, const QString& name)
{
    return record({{flag, 1}, {code, 4}, {name, 20}, {"2", 1}, {"008", 3}, {"ｶﾅ", 10}, {"", 3}});
}

QStringList bunmasLines(const QString& flag, int count, const QString& name)
{
    QStringList lines;
    for (int code = 1; code <= count; ++code) {
        lines << bunmasLine(flag, QStringLiteral("%1").arg(code, 4, 10, QLatin1Char('0')), name);
    }
    return lines;
}

class PgFailureTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(schema.ready());
        ASSERT_TRUE(schema.store());
        writeFile(updatePath, sjisLines({bunmasLine("1", "0001", "one"), bunmasLine("1", "0002", "two")}));
        ASSERT_OK(distribution::updateMaster(m, updates(), 7));
        before = content();
        exportBefore = readFile(exportPath);
    }

    distribution::UpdateContext updates() const
    {
        return {schema.location(), exchange::FolderTree(folder.dataRoot(), folder.home())};
    }
    import::ImportContext imports() const { return {schema.location(), folder.importDir()};
} std::vector<QStringList> content()
{
    QStringList columns{masters::kTerminalIdColumn};
    columns << QStringList(m.columns.begin(), m.columns.end());
    return schema.content(m.name, columns);
}
// The table and the export are as SetUp left them, and no temporary export is left beside it.
void expectUnchanged()
{
    EXPECT_EQ(content(), before);
    EXPECT_EQ(readFile(exportPath), exportBefore);
    EXPECT_EQ(QDir(folder.rcv(7)).entryList(QDir::Files), QStringList({"BUNMAS.csv", "BUNMAS.dat"}));
}
// The server processes of the connections that hold the master's lock in the schema now (`granted`), or wait
// for it.
QList<QByteArray> lockPids(const MasterDefinition& master, bool granted)
{
    const int number = int(std::find(masters::allMasters().begin(), masters::allMasters().end(), &master) -
                           masters::allMasters().begin()) +
                       1;
    auto holder = schema.admin().query(
        QStringLiteral("WITH k AS (SELECT n.oid::bigint * 16 + $2::bigint AS key FROM pg_namespace n "
                       "WHERE n.nspname = $1) "
                       "SELECT l.pid FROM pg_locks l, k WHERE l.locktype = 'advisory' AND l.granted = $3 "
                       "AND l.classid::bigint = k.key >> 32 AND l.objid::bigint = k.key & 4294967295"),
        {db::textParameter(schema.name()), QByteArray::number(number), granted ? "t" : "f"});
    EXPECT_OK(holder);
    QList<QByteArray> pids;
    for (int row = 0; holder.isOk() && row < (*holder)->rows(); ++row) {
        pids << (*holder)->text(row, 0).toUtf8();
    }
    return pids;
}
// Ends a connection from the server's side, and waits until its server process is gone.
void terminate(const QByteArray& pid)
{
    ASSERT_FALSE(pid.isEmpty());
    schema.exec(QStringLiteral("SELECT pg_terminate_backend($1::int)"), {pid});
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        auto alive = schema.admin().query(QStringLiteral("SELECT 1 FROM pg_stat_activity WHERE pid = $1::int"), {pid});
        ASSERT_OK(alive);
        if ((*alive)->rows() == 0) {
            return;
        }
        ASSERT_LT(waited.elapsed(), 10000) << "the server process did not end";
        QThread::msleep(10);
    }
}

const MasterDefinition& m = masters::classificationMaster();
TestSchema schema;
ProgramFolder folder;
const QString updatePath = folder.rcv(7) + m.updateFileName();
const QString exportPath = folder.rcv(7) + m.exportFileName();
std::vector<QStringList> before;
QByteArray exportBefore;
}; // namespace

// The connection is ended by the server after the first of several batches: the update and the import fail with
// nothing of their file stored and the export as it was; tried again, both succeed.
TEST_F(PgFailureTest, AConnectionLostInTheMiddleStoresNothingAndTheNextTrySucceeds)
{
    writeFile(updatePath, sjisLines(bunmasLines("1", 40, "changed")));
    writeFile(folder.importDir() + m.hostFileName(), sjisLines(bunmasLines("1", 40, "host")));
    bool killed = false;
    const db::ProgressHook killAfterFirstBatch = [&](qint64 done, qint64) {
        if (done > 0 && !killed) {
            killed = true;
            const QList<QByteArray> holders = lockPids(m, true);
            ASSERT_EQ(holders.size(), 1);
            terminate(holders.front());
        }
    };
    distribution::UpdateContext update = updates();
    update.batchBytes = 400;
    update.progress = killAfterFirstBatch;
    auto updated = distribution::updateMaster(m, update, 7);
    ASSERT_TRUE(killed);
    ASSERT_FALSE(updated.isOk());
    EXPECT_TRUE(updated.status().message().contains(db::describeDatabase(schema.location().database)))
        << updated.status().message().toStdString();
    expectUnchanged();

    killed = false;
    import::ImportContext host = imports();
    host.batchBytes = 400;
    auto imported = import::importMaster(m, host, killAfterFirstBatch);
    ASSERT_TRUE(killed);
    ASSERT_FALSE(imported.isOk());
    expectUnchanged();

    ASSERT_OK(distribution::updateMaster(m, updates(), 7));
    EXPECT_EQ(readSjisLines(exportPath).size(), 40);
    ASSERT_OK(import::importMaster(m, imports()));
    EXPECT_EQ(schema.content(m.name, {masters::kTerminalIdColumn}), std::vector<QStringList>(40, {"<NULL>"}));
}

// The program ends while the update waits for a master that another KAVELO writes: the wait is cancelled at once
// (it could last DBLockWait, here an hour), nothing is stored, and the connection is given up cleanly.
TEST_F(PgFailureTest, AStopCancelsTheWaitForTheMastersLock)
{
    auto holder = schema.store();
    ASSERT_TRUE(holder);
    auto held = holder->beginImport(m);
    ASSERT_OK(held);
    writeFile(updatePath, sjisLines(bunmasLines("1", 3, "waiting")));
    std::stop_source stop;
    distribution::UpdateContext update = updates();
    update.database.lockWaitSeconds = 3600;
    update.stop = stop.get_token();
    auto waiting = std::async(std::launch::async, [&] { return distribution::updateMaster(m, update, 7); });
    QElapsedTimer waited;
    waited.start();
    while (lockPids(m, false).isEmpty() && waited.elapsed() < 20000) {
        QThread::msleep(10);
    }
    stop.request_stop();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the wait was not cancelled";
    auto updated = waiting.get();
    ASSERT_FALSE(updated.isOk());
    EXPECT_EQ(updated.status().message(),
              "BUNMAS, terminal 0007: " + updatePath + ": the program is ending; nothing of this file is stored");
    held->reset();
    expectUnchanged();
}

// ------------------------------------------------------------------------------------------------ the master's lock

TEST(PgLockTest, TwoWritersOfOneSchemaTakeAMasterInTurnAndOtherSchemasNeverWait)
{
    TestSchema schema;
    TestSchema other;
    ASSERT_TRUE(schema.ready() && other.ready());
    auto holder = schema.store();
    auto second = schema.store(0);
    auto patient = schema.store(30);
    auto elsewhere = other.store(0);
    ASSERT_TRUE(holder && second && patient && elsewhere);
    auto held = holder->beginUpdate(masters::productMaster(), kT7);
    ASSERT_OK(held);

    // The same master, as an update of another terminal or as an import: refused, saying why.
    auto refused = second->beginUpdate(masters::productMaster(), QStringLiteral("0003"));
    ASSERT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.status().message().contains(QStringLiteral("SHOMAS is being written by another KAVELO")))
        << refused.status().message().toStdString();
    EXPECT_TRUE(refused.status().message().contains(schema.name())) << refused.status().message().toStdString();
    EXPECT_FALSE(second->beginImport(masters::productMaster()).isOk());
    // Another master of the schema, and the same master of another schema: no wait.
    EXPECT_OK(second->beginUpdate(masters::classificationMaster(), QStringLiteral("0003")));
    EXPECT_OK(elsewhere->beginUpdate(masters::productMaster(), kT7));

    // A writer with time to wait gets the master once the holder is done.
    std::thread release([&held] {
        QThread::msleep(300);
        held->reset(); // rolls back, releasing the lock
    });
    auto waited = patient->beginImport(masters::productMaster());
    release.join();
    EXPECT_OK(waited);
}

TEST(PgLockTest, AWriterGivesUpAfterItsLockWait)
{
    TestSchema schema;
    ASSERT_TRUE(schema.ready());
    auto holder = schema.store();
    auto second = schema.store(1);
    ASSERT_TRUE(holder && second);
    auto held = holder->beginImport(masters::storeMaster());
    ASSERT_OK(held);
    auto refused = second->beginUpdate(masters::storeMaster(), kT7);
    ASSERT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.status().message().contains(QStringLiteral("gave up after 1 s")))
        << refused.status().message().toStdString();
    // The connection is usable afterwards.
    held->reset();
    EXPECT_OK(second->beginUpdate(masters::storeMaster(), kT7));
}

} // namespace kavelo::test
} // namespace kavelo::test
