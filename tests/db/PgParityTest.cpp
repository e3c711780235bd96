// The server's rows and export bytes against the SQLite file's for the same files, step by step, through the same
// engine.

#include "support/PgTestServer.h"

#include "distribution/MasterUpdate.h"
#include "exchange/FolderTree.h"
#include "import/HostImport.h"
#include "masters/Masters.h"
#include "support/MasterTables.h"
#include "support/TestSupport.h"

namespace kavelo::test {
namespace {

using masters::MasterDefinition;

// A program folder on SQLite and one on a schema of the server, given the same files.
class Twin
{
  public:
    explicit Twin(qsizetype batchBytes)
        : m_batchBytes(batchBytes)
        , m_store(m_schema.store())
    {
    }

    bool ready() const { return m_schema.ready() && m_store != nullptr; }

    void update(const MasterDefinition& master, int terminal, const QByteArray& content)
    {
        auto lite = updateIn(m_lite, m_lite.dbPath(), master, terminal, content);
        auto pg = updateIn(m_server, m_schema.location(), master, terminal, content);
        ASSERT_OK(lite);
        ASSERT_OK(pg);
        EXPECT_EQ(pg->linesRead, lite->linesRead);
        EXPECT_EQ(pg->rowsAdded, lite->rowsAdded);
        EXPECT_EQ(pg->rowsReplaced, lite->rowsReplaced);
        EXPECT_EQ(pg->rowsExported, lite->rowsExported);
        EXPECT_EQ(readFile(m_server.rcv(terminal) + master.exportFileName()),
                  readFile(m_lite.rcv(terminal) + master.exportFileName()));
        expectSameTable(master);
    }

    void import(const MasterDefinition& master, const QByteArray& content)
    {
        auto lite = importIn(m_lite, m_lite.dbPath(), master, content);
        auto pg = importIn(m_server, m_schema.location(), master, content);
        ASSERT_OK(lite);
        ASSERT_OK(pg);
        EXPECT_EQ(pg->recordsRead, lite->recordsRead);
        EXPECT_EQ(pg->replaced, lite->replaced);
        EXPECT_EQ(pg->deleted, lite->deleted);
        EXPECT_EQ(pg->skipped, lite->skipped);
        expectSameTable(master);
    }

    // Seeds the same row on both sides: a row another program wrote.
    void insert(const MasterDefinition& master, const QString& terminalId, const QMap<QString, QString>& values)
    {
        m_tables.insert(master.name, terminalId, values);
        m_schema.insert(master.name, terminalId, values);
    }

    void expectSameTable(const MasterDefinition& master)
    {
        QStringList columns{masters::kTerminalIdColumn};
        columns << QStringList(master.columns.begin(), master.columns.end());
        EXPECT_EQ(m_schema.content(master.name, columns), m_tables.content(master.name, columns))
            << master.name.toStdString();
    }

  private:
    platform::Result<distribution::UpdateSummary> updateIn(const ProgramFolder& folder,
                                                           const db::StoreLocation& location,
                                                           const MasterDefinition& master,
                                                           int terminal,
                                                           const QByteArray& content)
    {
        writeFile(folder.rcv(terminal) + master.updateFileName(), content);
        distribution::UpdateContext context{location, exchange::FolderTree(folder.dataRoot(), folder.home())};
        context.batchBytes = m_batchBytes;
        return distribution::updateMaster(master, context, terminal);
    }

    platform::Result<import::ImportSummary> importIn(const ProgramFolder& folder,
                                                     const db::StoreLocation& location,
                                                     const MasterDefinition& master,
                                                     const QByteArray& content)
    {
        writeFile(folder.importDir() + master.hostFileName(), content);
        import::ImportContext context{location, folder.importDir()};
        context.batchBytes = m_batchBytes;
        return import::importMaster(master, context);
    }

    const qsizetype m_batchBytes;
    ProgramFolder m_lite;
    ProgramFolder m_server;
    MasterTables m_tables{m_lite.dbPath()};
    TestSchema m_schema;
    std::unique_ptr<db::PgStore> m_store;
};

QByteArray sample(const QString& relative)
{
    return readFile(samplesDir() + QLatin1Char('/') + relative);
}

constexpr qsizetype kDefaultBatch = 24 * 1024 * 1024;

// Batches of the default size, and of one line each: the rows of a key are then found across batches.
class PgParityTest : public ::testing::TestWithParam<qsizetype>
{
};

TEST_P(PgParityTest, SampleFilesGiveTheSameRowsAndExportBytesAsSqlite)
{
    Twin twin(GetParam());
    ASSERT_TRUE(twin.ready());
    for (const MasterDefinition* master : masters::allMasters()) {
        SCOPED_TRACE(master->name.toStdString());
        const QByteArray host = sample(QStringLiteral("host/") + master->hostFileName());
        const QByteArray update = sample(QStringLiteral("update/") + master->updateFileName());
        ASSERT_FALSE(host.isEmpty());
        ASSERT_FALSE(update.isEmpty());
        twin.import(*master, host);
        twin.update(*master, 3, update);
        twin.update(*master, 7, update);
        twin.import(*master, host); // takes the terminals' rows of its keys
        twin.update(*master, 3, update);
        twin.update(*master, 3, QByteArray()); // an empty file still exports every row
    }
}

INSTANTIATE_TEST_SUITE_P(BatchSizes, PgParityTest, ::testing::Values(kDefaultBatch, qsizetype(1)));

QByteArray bunmasLines(const QStringList& codes, const QString& name)
{
    QStringList lines;
    for (const QString& code : codes) {
        lines << record({{"1", 1}, {code, 4}, {name, 20}, {"2", 1}, {"008", 3}, {"ｶﾅ", 10}, {"", 3}});
    }
    return sjisLines(lines);
}

// Rows written by another program: keys equal but for trailing blanks, a NULL key beside an empty one, keys with a
// control character (which sorts below the blank). The update replaces the oldest row of a key, and the export
// orders the rows by exact key, then by age.
TEST(PgParityEdgeTest, RowsOfEqualKeysAreReplacedAndExportedInTheSameOrderAsSqlite)
{
    Twin twin(kDefaultBatch);
    ASSERT_TRUE(twin.ready());
    const MasterDefinition& m = masters::classificationMaster();
    const QString key = m.keyColumn;
    const QString name = QStringLiteral("分類漢字名");
    int age = 0;
    for (const QString& stored : {QStringLiteral("A  "),
                                  QStringLiteral("A"),
                                  QStringLiteral("A "),
                                  QStringLiteral(""),
                                  QString(),
                                  QStringLiteral("  "),
                                  QStringLiteral("B"),
                                  QStringLiteral("B"),
                                  QStringLiteral("D"),
                                  QStringLiteral("D")}) {
        QMap<QString, QString> values{{name, QStringLiteral("old %1").arg(++age)}};
        if (!stored.isNull()) {
            values.insert(key, stored);
        }
        twin.insert(m, QStringLiteral("0007"), values);
    }
    twin.insert(m, QStringLiteral("0003"), {{key, QStringLiteral("C")}, {name, QStringLiteral("other terminal")}});
    twin.update(
        m, 7, bunmasLines({QStringLiteral("A"), QStringLiteral("    "), QStringLiteral("B  ")}, QStringLiteral("new")));
    twin.update(m, 7, bunmasLines({QStringLiteral("C")}, QStringLiteral("new C")));

    Twin control(kDefaultBatch);
    ASSERT_TRUE(control.ready());
    for (const QString& stored :
         {QStringLiteral("A "), QStringLiteral("A\t"), QStringLiteral("A"), QStringLiteral("\tA")}) {
        control.insert(m, QStringLiteral("0007"), {{key, stored}, {name, QStringLiteral("old")}});
    }
    control.update(m, 7, bunmasLines({QStringLiteral("A")}, QStringLiteral("new")));
}

} // namespace
} // namespace kavelo::test
