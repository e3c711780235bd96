// The server's rows and export bytes against the SQLite engine's for the same files, step by step.

#include "PgTestServer.h"

#include "db/StoreFlow.h"
#include "distribution/MasterUpdate.h"
#include "exchange/FolderTree.h"
#include "import/HostImport.h"
#include "masters/Masters.h"
#include "support/MasterTables.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

namespace kavelo::test {
namespace {

using masters::MasterDefinition;

// One program folder on SQLite and one schema on the server, given the same files.
class Twin
{
  public:
    explicit Twin(qsizetype batchBytes)
        : m_batchBytes(batchBytes)
        , m_store(m_schema.store())
    {
    }

    bool ready() const { return m_schema.ready() && m_store != nullptr; }
    TestSchema& schema() { return m_schema; }
    MasterTables& tables() { return m_tables; }

    void update(const MasterDefinition& master, int terminal, const QByteArray& content)
    {
        const QString id = exchange::FolderTree::terminalId(terminal);
        writeFile(m_folder.rcv(terminal) + master.updateFileName(), content);
        auto lite = distribution::updateMaster(
            master, {m_folder.dbPath(), exchange::FolderTree(m_folder.dataRoot(), m_folder.home())}, terminal);
        ASSERT_OK(lite);

        const QString folder = m_files.filePath(id) + QLatin1Char('/');
        QDir().mkpath(folder);
        writeFile(folder + master.updateFileName(), content);
        auto pg = db::updateOnStore(
            *m_store, master, id, folder + master.updateFileName(), folder + master.exportFileName(), m_batchBytes);
        ASSERT_OK(pg);
        EXPECT_EQ(pg->linesRead, lite->linesRead);
        EXPECT_EQ(pg->rowsAdded, lite->rowsAdded);
        EXPECT_EQ(pg->rowsReplaced, lite->rowsReplaced);
        EXPECT_EQ(pg->rowsExported, lite->rowsExported);
        EXPECT_EQ(readFile(folder + master.exportFileName()),
                  readFile(m_folder.rcv(terminal) + master.exportFileName()));
        expectSameTable(master);
    }

    void import(const MasterDefinition& master, const QByteArray& content)
    {
        writeFile(m_folder.importDir() + master.hostFileName(), content);
        auto lite = import::importMaster(master, {m_folder.dbPath(), m_folder.importDir()});
        ASSERT_OK(lite);

        const QString path = m_files.filePath(master.hostFileName());
        writeFile(path, content);
        auto pg = db::importOnStore(*m_store, master, path, m_batchBytes);
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
    const qsizetype m_batchBytes;
    ProgramFolder m_folder;
    MasterTables m_tables{m_folder.dbPath()};
    QTemporaryDir m_files;
    TestSchema m_schema;
    std::unique_ptr<db::PgStore> m_store;
};

QByteArray sample(const QString& relative)
{
    return readFile(samplesDir() + QLatin1Char('/') + relative);
}

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

INSTANTIATE_TEST_SUITE_P(BatchSizes, PgParityTest, ::testing::Values(db::kDefaultBatchBytes, qsizetype(1)));

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
    Twin twin(db::kDefaultBatchBytes);
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

    Twin control(db::kDefaultBatchBytes);
    ASSERT_TRUE(control.ready());
    for (const QString& stored :
         {QStringLiteral("A "), QStringLiteral("A\t"), QStringLiteral("A"), QStringLiteral("\tA")}) {
        control.insert(m, QStringLiteral("0007"), {{key, stored}, {name, QStringLiteral("old")}});
    }
    control.update(m, 7, bunmasLines({QStringLiteral("A")}, QStringLiteral("new")));
}

} // namespace
} // namespace kavelo::test
