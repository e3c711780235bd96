// Failures on a server leave the tables and the export as they were; the master's lock keeps two writers apart.

#include "PgTestServer.h"

#include "db/StoreFlow.h"
#include "masters/Masters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <thread>

namespace kavelo::test {
namespace {

using masters::MasterDefinition;

const QString kT7 = QStringLiteral("0007");

QString bunmasLine(const QString& code, const QString& name)
{
    return record({{"1", 1}, {code, 4}, {name, 20}, {"2", 1}, {"008", 3}, {"ｶﾅ", 10}, {"", 3}});
}

// Decided rows given outright: a key and the master's update (or import) values each.
class ListedRows final : public db::DecidedRows
{
  public:
    explicit ListedRows(std::vector<QStringList> rows)
        : m_rows(std::move(rows))
    {
    }
    size_t count() const override { return m_rows.size(); }
    platform::Result<db::DecidedRow> row(size_t i) override
    {
        m_values.assign(m_rows[i].begin() + 1, m_rows[i].end());
        return db::DecidedRow{m_rows[i].front(), false, m_values};
    }
    platform::Status refused(size_t i, const QString& reason) const override
    {
        return platform::Status::error(QStringLiteral("row %1: %2").arg(i).arg(reason));
    }

  private:
    std::vector<QStringList> m_rows;
    std::vector<QStringView> m_values;
};

class PgFailureTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(schema.ready());
        store = schema.store();
        ASSERT_TRUE(store);
        writeFile(updatePath, sjisLines({bunmasLine("0001", "one"), bunmasLine("0002", "two")}));
        ASSERT_OK(db::updateOnStore(*store, m, kT7, updatePath, exportPath));
        before = content();
        exportBefore = readFile(exportPath);
    }

    std::vector<QStringList> content()
    {
        QStringList columns{masters::kTerminalIdColumn};
        columns << QStringList(m.columns.begin(), m.columns.end());
        return schema.content(m.name, columns);
    }
    // The tables and the export are as SetUp left them, and nothing else is in the folder.
    void expectUnchanged()
    {
        EXPECT_EQ(content(), before);
        EXPECT_EQ(readFile(exportPath), exportBefore);
        QStringList others = QDir(files.path()).entryList(QDir::Files | QDir::Hidden);
        others.removeAll(m.exportFileName());
        others.removeAll(m.updateFileName());
        others.removeAll(m.hostFileName());
        EXPECT_EQ(others, QStringList()); // no temporary export left behind
    }
    // Ends the store's connection from the server's side, and waits until its server process is gone.
    void terminate(db::PgStore& victim)
    {
        const QByteArray pid = QByteArray::number(victim.connection().backendPid());
        schema.exec(QStringLiteral("SELECT pg_terminate_backend($1::int)"), {pid});
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            auto alive =
                schema.admin().query(QStringLiteral("SELECT 1 FROM pg_stat_activity WHERE pid = $1::int"), {pid});
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
    std::unique_ptr<db::PgStore> store;
    QTemporaryDir files;
    const QString updatePath = files.filePath(m.updateFileName());
    const QString exportPath = files.filePath(m.exportFileName());
    const QString hostPath = files.filePath(m.hostFileName());
    std::vector<QStringList> before;
    QByteArray exportBefore;
};

TEST_F(PgFailureTest, AConnectionKilledInTheMiddleStoresNothingAndTheNextTrySucceeds)
{
    writeFile(hostPath, sjisLines({QStringLiteral("3") + bunmasLine("0001", "").mid(1)}));
    {
        auto victim = schema.store();
        ASSERT_TRUE(victim);
        auto work = victim->beginUpdate(m, kT7);
        ASSERT_OK(work);
        ListedRows rows(
            {{"0001", "1", "0001", "changed", "2", "008", "ｶﾅ", ""}, {"0003", "1", "0003", "new", "", "", "", ""}});
        ASSERT_OK((*work)->apply(rows));
        terminate(*victim);
        auto exported = (*work)->writeExport(exportPath);
        EXPECT_FALSE(exported.isOk());
        EXPECT_FALSE((*work)->commit().isOk());
    }
    {
        auto victim = schema.store();
        ASSERT_TRUE(victim);
        auto work = victim->beginImport(m);
        ASSERT_OK(work);
        ListedRows rows({{"0002", "1", "0002", "host", "", "", "", ""}});
        ASSERT_OK((*work)->apply(rows));
        terminate(*victim);
        const platform::Status committed = (*work)->commit();
        EXPECT_FALSE(committed.isOk());
        EXPECT_TRUE(committed.message().startsWith(victim->connection().name())) << committed.message().toStdString();
    }
    expectUnchanged();

    // The next work connects again by itself, also when the connection ended while nothing ran on it.
    auto again = schema.store();
    ASSERT_TRUE(again);
    terminate(*again);
    writeFile(updatePath, sjisLines({bunmasLine("0003", "three")}));
    auto updated = db::updateOnStore(*again, m, kT7, updatePath, exportPath);
    ASSERT_OK(updated);
    EXPECT_EQ(updated->rowsExported, 3);
    ASSERT_OK(db::importOnStore(*again, m, hostPath));
    EXPECT_EQ(readSjisLines(exportPath).size(), 3);
    EXPECT_EQ(content().size(), 2u);
}

TEST_F(PgFailureTest, ALineThatDoesNotDecodeAfterEarlierBatchesStoresNothingOfTheFile)
{
    QByteArray bad = sjisLines({bunmasLine("0001", "changed"), bunmasLine("0005", "new")});
    bad += "1\x81\x20"
           "BAD\r\n"; // a lead byte without its trail byte
    writeFile(updatePath, bad);
    auto updated = db::updateOnStore(*store, m, kT7, updatePath, exportPath, 1);
    ASSERT_FALSE(updated.isOk());
    EXPECT_TRUE(updated.status().message().contains(updatePath + QStringLiteral(", line 3")))
        << updated.status().message().toStdString();

    QByteArray host = sjisLines({QStringLiteral("1") + bunmasLine("0001", "host").mid(1)});
    host += "3\x81\x20\r\n";
    writeFile(hostPath, host);
    auto imported = db::importOnStore(*store, m, hostPath, 1);
    ASSERT_FALSE(imported.isOk());
    EXPECT_TRUE(imported.status().message().contains(hostPath + QStringLiteral(", line 2")))
        << imported.status().message().toStdString();
    expectUnchanged();
}

TEST_F(PgFailureTest, AnExportThatCannotBeWrittenStoresNothingOfTheFile)
{
    schema.insert(m.name,
                  kT7,
                  {{m.keyColumn, QStringLiteral("0009")}, {QStringLiteral("分類漢字名"), QStringLiteral("絵文字😀")}});
    before = content();
    writeFile(updatePath, sjisLines({bunmasLine("0001", "changed")}));
    auto updated = db::updateOnStore(*store, m, kT7, updatePath, exportPath);
    ASSERT_FALSE(updated.isOk());
    EXPECT_TRUE(updated.status().message().contains(QStringLiteral(", line 3")))
        << updated.status().message().toStdString();
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

} // namespace
} // namespace kavelo::test
