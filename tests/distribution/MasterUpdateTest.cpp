#include "batch/Checkpoints.h"
#include "distribution/MasterUpdate.h"

#include "masters/Fields.h"
#include "masters/Masters.h"
#include "support/MasterTables.h"
#include "support/TestDatabase.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

namespace kavelo::test {
namespace {

using distribution::UpdateContext;
using distribution::UpdateSummary;
using masters::MasterDefinition;
using platform::Result;

const QString kT7 = QStringLiteral("0007");
const QString kT3 = QStringLiteral("0003");

// Positions 62-181 of a product record (classification code to the sale 3 end date), as exported.
const QString kShomasTailExport =
    QStringLiteral("0101,012,000123,1,000012345,0000198,1,2,1,20250401,010,2,20251001,008,20251201,20251231,"
                   "000010000,0000150,20260101,20260131,20260201,20260228");
const QString kShomasTail = QString(kShomasTailExport).remove(u',');

QString shomasLine(const QString& flag,
                   const QString& code,
                   const QString& own,
                   const QString& pos27,
                   const QString& kanji,
                   const QString& kana,
                   const QString& tail = kShomasTail)
{
    return record({{flag, 1}, {code, 13}, {own, 12}, {pos27, 1}, {kanji, 20}, {kana, 14}}) + tail;
}

// Every test runs on SQLite and on the server.
class MasterUpdateTest : public BackendTest
{
  protected:
    void SetUp() override { ASSERT_TRUE(tables->ready()); }
    UpdateContext context() const
    {
        return UpdateContext{tables->location(), exchange::FolderTree(folder.dataRoot(), folder.home())};
    }
    QString updatePath(const MasterDefinition& m, int terminal) const
    {
        return folder.rcv(terminal) + m.updateFileName();
    }
    QString exportPath(const MasterDefinition& m, int terminal) const
    {
        return folder.rcv(terminal) + m.exportFileName();
    }
    Result<UpdateSummary> run(const MasterDefinition& m, int terminal, const QStringList& lines)
    {
        writeFile(updatePath(m, terminal), sjisLines(lines));
        return distribution::updateMaster(m, context(), terminal);
    }
    QStringList exported(const MasterDefinition& m, int terminal) const
    {
        return readSjisLines(exportPath(m, terminal));
    }
    std::vector<QStringList> rows(const MasterDefinition& m, const QString& terminalId) const
    {
        QStringList columns;
        for (const masters::Field& f : m.updateFields) {
            columns << f.column;
        }
        return tables->rows(m.name, columns, terminalId);
    }

    ProgramFolder folder;
    std::unique_ptr<TestDatabase> tables = TestDatabase::make(GetParam(), folder.dbPath());
};

INSTANTIATE_TEST_SUITE_P(, MasterUpdateTest, kBothBackends, backendName);

// ---------------------------------------------------------------------------------------------------------------
// Each master's record, stored values and export line.

TEST_P(MasterUpdateTest, ClassificationKeepsTaxRateBlanksAndFillerAndReplacesCommasInNames)
{
    const auto& m = masters::classificationMaster();
    const QString line = record({{"1", 1}, {"0012", 4}, {"ABC", 20}, {"2", 1}, {"008", 3}, {"ABC", 10}, {"", 3}});
    const QString blanks = record({{"1", 1}, {"0013", 4}, {" A,B，C ", 20}, {"1", 1}, {"  5", 3}, {"ｶﾅ,", 10}});
    Result<UpdateSummary> s = run(m, 7, {line, blanks});
    ASSERT_OK(s);
    EXPECT_EQ(s->rowsAdded, 2);
    const auto stored = rows(m, kT7);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0], QStringList({"1", "0012", "ABC", "2", "008", "ABC", "   "}));
    // A line that ends before the filler stores empty text, not NULL.
    EXPECT_EQ(stored[1], QStringList({"1", "0013", "A.B．C", "1", "  5", "ｶﾅ.", ""}));
    EXPECT_EQ(exported(m, 7), QStringList({"0012,ABC,2,008,ABC,1,   ", "0013,A.B．C,1,  5,ｶﾅ.,1,"}));
}

TEST_P(MasterUpdateTest, StoreReadsFillerFromPosition40AndDoesNotExportIt)
{
    const auto& m = masters::storeMaster();
    const QString hostLike = record({{"1", 1}, {"101", 3}, {"本店,東", 15}, {"HOSTFILLER", 14}}); // 33 characters
    const QString full = record({{"1", 1}, {"102", 3}, {"支店", 15}, {"NOT READ", 20}, {"FILLER-40-53", 14}});
    ASSERT_EQ(full.size(), 53);
    ASSERT_OK(run(m, 7, {hostLike, full}));
    const auto stored = rows(m, kT7);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0], QStringList({"1", "101", "本店.東", ""}));
    EXPECT_EQ(stored[1], QStringList({"1", "102", "支店", "FILLER-40-53  "}));
    EXPECT_EQ(exported(m, 7), QStringList({"101,本店.東,1", "102,支店,1"}));
}

TEST_P(MasterUpdateTest, SupplierWritesFlagTwiceAndReadsNothingAfterPosition41)
{
    const auto& m = masters::supplierMaster();
    const QString line =
        record({{"1", 1}, {"000123", 6}, {"仕入，先 ", 20}, {"1", 1}, {"2", 1}, {"3", 1}, {"4", 1}, {"ｼｲﾚｻｷ", 10}});
    ASSERT_EQ(line.size(), 41);
    ASSERT_OK(run(m, 7, {line + QStringLiteral("XYZ")}));
    const auto stored = rows(m, kT7);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], QStringList({"1", "000123", "仕入．先", "1", "2", "3", "4", "ｼｲﾚｻｷ"}));
    EXPECT_EQ(tables->rows(m.name, {"filler"}, kT7)[0], QStringList({"<NULL>"})); // the import's column, untouched
    EXPECT_EQ(exported(m, 7), QStringList({"000123,仕入．先,1,2,3,4,ｼｲﾚｻｷ,1,1"}));
}

TEST_P(MasterUpdateTest, CustomerStoresFillerFrom42ButDoesNotExportIt)
{
    const auto& m = masters::customerMaster();
    const QString base =
        record({{"1", 1}, {"C00001", 6}, {"得意先", 20}, {"1", 1}, {"2", 1}, {"3", 1}, {"4", 1}, {"ﾄｸｲ,ｻｷ  ", 10}});
    const QString other =
        record({{"2", 1}, {"C00002", 6}, {"得意先二", 20}, {"1", 1}, {"1", 1}, {"1", 1}, {"1", 1}, {"ﾄｸｲｻｷ", 10}});
    ASSERT_OK(run(m, 7, {base + QStringLiteral("F"), other}));
    const auto stored = rows(m, kT7);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0], QStringList({"1", "C00001", "得意先", "1", "2", "3", "4", "ﾄｸｲ.ｻｷ", "F"}));
    EXPECT_EQ(stored[1].last(), QString("")); // a 41-character line stores an empty filler
    EXPECT_EQ(exported(m, 7), QStringList({"C00001,得意先,1,2,3,4,ﾄｸｲ.ｻｷ,1", "C00002,得意先二,1,1,1,1,ﾄｸｲｻｷ,2"}));
}

TEST_P(MasterUpdateTest, ProductLosesPosition27AndExportsFlagLast)
{
    const auto& m = masters::productMaster();
    const QString line = shomasLine("3", "4901234567894", "OWN123456789", "Z", "商品,名", "ｼｮｳﾋﾝ，");
    ASSERT_EQ(kShomasTail.size(), 120);
    ASSERT_EQ(line.size(), 181);
    ASSERT_OK(run(m, 7, {line}));
    const auto stored = rows(m, kT7);
    ASSERT_EQ(stored.size(), 1u);
    ASSERT_EQ(stored[0].size(), 27);
    EXPECT_EQ(stored[0].mid(0, 5), QStringList({"3", "4901234567894", "OWN123456789", "商品.名", "ｼｮｳﾋﾝ．"}));
    EXPECT_EQ(stored[0][9], QString("000012345")); // leading zeros kept
    const QStringList lines = exported(m, 7);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], "4901234567894,OWN123456789,商品.名,ｼｮｳﾋﾝ．," + kShomasTailExport + ",3");
    EXPECT_EQ(lines[0].count(u','), 26);
}

TEST_P(MasterUpdateTest, ProductCommaOutsideNamesIsKeptAndAddsAnExportField)
{
    const auto& m = masters::productMaster();
    QString tail = kShomasTail;
    tail[0] = u','; // classification code ",101"
    ASSERT_OK(run(m, 7, {shomasLine("1", "49", "", "", "名", "", tail)}));
    EXPECT_EQ(rows(m, kT7)[0][5], QString(",101"));
    EXPECT_EQ(exported(m, 7)[0].count(u','), 27);
}

TEST_P(MasterUpdateTest, OwnCompanyCodeIsStoredTrimmedAndFoundAgainEvenWith13Characters)
{
    const auto& m = masters::ownCompanyCodeMaster();
    const QString shortCode = record({{"1", 1}, {"1234", 13}, {"4901234567894", 13}});
    const QString fullCode = record({{"1", 1}, {"ABCDEFGHIJKLM", 13}, {"49", 13}});
    ASSERT_OK(run(m, 7, {shortCode, fullCode}));
    EXPECT_EQ(rows(m, kT7), std::vector<QStringList>({{"1", "1234", "4901234567894"}, {"1", "ABCDEFGHIJKLM", "49"}}));

    // The next file finds both rows again by their stored codes.
    const QString shortAgain = record({{"2", 1}, {"1234", 13}, {"4900000000000", 13}});
    const QString fullAgain = record({{"2", 1}, {"ABCDEFGHIJKLM", 13}, {"50", 13}});
    Result<UpdateSummary> s = run(m, 7, {shortAgain, fullAgain});
    ASSERT_OK(s);
    EXPECT_EQ(s->rowsReplaced, 2);
    EXPECT_EQ(s->rowsAdded, 0);
    EXPECT_EQ(rows(m, kT7), std::vector<QStringList>({{"2", "1234", "4900000000000"}, {"2", "ABCDEFGHIJKLM", "50"}}));
    EXPECT_EQ(exported(m, 7), QStringList({"1234,4900000000000,2", "ABCDEFGHIJKLM,50,2"}));
}

// ---------------------------------------------------------------------------------------------------------------
// The common flow.

TEST_P(MasterUpdateTest, AddOrReplaceWithinThisTerminalOnly)
{
    const auto& m = masters::classificationMaster();
    tables->insert(m.name, kT3, {{"有効区分", "1"}, {"分類コード", "0001"}, {"分類漢字名", "他の端末"}});
    tables->insert(m.name, kT7, {{"有効区分", "1"}, {"分類コード", "0009"}, {"分類漢字名", "残る"}});
    const QString first = record({{"1", 1}, {"0001", 4}, {"最初", 20}});
    const QString later = record({{"3", 1}, {"0001", 4}, {"後", 20}});
    Result<UpdateSummary> s = run(m, 7, {first, later});
    ASSERT_OK(s);
    EXPECT_EQ(s->linesRead, 2);
    EXPECT_EQ(s->rowsAdded, 1);
    EXPECT_EQ(s->rowsReplaced, 1);
    EXPECT_EQ(s->rowsExported, 2);
    // Two lines with one key: one row with the later line's values; validity flag 3 deletes nothing.
    EXPECT_EQ(tables->rows(m.name, {"分類コード", "分類漢字名", "有効区分"}, kT7),
              std::vector<QStringList>({{"0009", "残る", "1"}, {"0001", "後", "3"}}));
    EXPECT_EQ(tables->rows(m.name, {"分類コード", "分類漢字名"}, kT3),
              std::vector<QStringList>({{"0001", "他の端末"}}));
    EXPECT_EQ(exported(m, 7), QStringList({"0001,後,,,,3,", "0009,残る,,,,1,"}));
    EXPECT_FALSE(QFileInfo::exists(exportPath(m, 3)));
    EXPECT_TRUE(QFileInfo::exists(updatePath(m, 7))); // the caller sets it aside
}

TEST_P(MasterUpdateTest, KeysMatchIgnoringTrailingBlanksOnlyAndCaseSensitively)
{
    const auto& m = masters::supplierMaster();
    tables->insert(m.name, kT7, {{"仕入先コード", "AB"}, {"仕入先漢字名", "old"}});
    tables->insert(m.name, kT7, {{"仕入先コード", "CD    "}, {"仕入先漢字名", "old"}});
    tables->insert(m.name, kT7, {{"仕入先コード", " EF"}, {"仕入先漢字名", "old"}});
    Result<UpdateSummary> s = run(m,
                                  7,
                                  {record({{"1", 1}, {"AB", 6}, {"ab matched", 20}}),
                                   record({{"1", 1}, {"CD", 6}, {"cd matched", 20}}),
                                   record({{"1", 1}, {"ab", 6}, {"lower case", 20}}),
                                   record({{"1", 1}, {"EF", 6}, {"no leading", 20}})});
    ASSERT_OK(s);
    EXPECT_EQ(s->rowsReplaced, 2);
    EXPECT_EQ(s->rowsAdded, 2);
    // New rows are stored in key order.
    EXPECT_EQ(tables->rows(m.name, {"仕入先コード", "仕入先漢字名"}, kT7),
              std::vector<QStringList>({{"AB    ", "ab matched"},
                                        {"CD    ", "cd matched"},
                                        {" EF", "old"},
                                        {"EF    ", "no leading"},
                                        {"ab    ", "lower case"}}));
}

// Replacements of one row by several lines, with keys that differ in trailing blanks: the last line decides every
// column, the key column included.
TEST_P(MasterUpdateTest, LastOfSeveralLinesForOneRowWinsKeyIncluded)
{
    const auto& m = masters::supplierMaster();
    tables->insert(m.name, kT7, {{"仕入先コード", "AB"}, {"仕入先漢字名", "old"}});
    tables->insert(m.name, kT7, {{"仕入先コード", "CD"}, {"仕入先漢字名", "old"}});
    Result<UpdateSummary> s = run(m,
                                  7,
                                  {record({{"1", 1}, {"AB", 6}, {"first", 20}}),
                                   "1AB",
                                   record({{"1", 1}, {"CD", 6}, {"first", 20}}),
                                   "1CD",
                                   record({{"2", 1}, {"CD", 6}, {"last", 20}})});
    ASSERT_OK(s);
    EXPECT_EQ(s->rowsReplaced, 5);
    EXPECT_EQ(tables->rows(m.name, {"有効区分", "仕入先コード", "仕入先漢字名"}, kT7),
              std::vector<QStringList>({{"1", "AB", ""}, {"2", "CD    ", "last"}}));
}

// The update returns with its rows committed; the checkpoint follows on the worker thread. Updates may follow
// one another meanwhile, and once the checkpoints are done the database file alone holds every row.
// What the SQLite file does besides.
class SqliteUpdateTest : public MasterUpdateTest
{
};

INSTANTIATE_TEST_SUITE_P(, SqliteUpdateTest, ::testing::Values(Backend::Sqlite), backendName);

TEST_P(SqliteUpdateTest, CheckpointsFollowOnTheWorkerThread)
{
    const auto& m = masters::classificationMaster();
    batch::CheckpointWorker checkpoints;
    UpdateContext c = context();
    c.checkpoints = &checkpoints;
    for (int round = 0; round < 5; ++round) {
        QStringList lines;
        for (int code = 0; code < 200; ++code) {
            lines << record({{"1", 1},
                             {QStringLiteral("%1").arg(code + 100 * round, 4, 10, QLatin1Char('0')), 4},
                             {QStringLiteral("round %1").arg(round), 20}});
        }
        writeFile(updatePath(m, 7), sjisLines(lines));
        ASSERT_OK(distribution::updateMaster(m, c, 7));
        EXPECT_EQ(tables->count(m.name, kT7), 200 + 100 * round); // readable at once
    }
    checkpoints.waitForAll();
    EXPECT_FALSE(QFileInfo::exists(folder.dbPath() + QStringLiteral("-wal"))); // the last connection removed it
    const QString copy = folder.path(QStringLiteral("copy.db"));
    ASSERT_TRUE(QFile::copy(folder.dbPath(), copy));
    EXPECT_EQ(MasterTables(copy).count(m.name, kT7), 600);
    EXPECT_EQ(exported(m, 7).size(), 600);
}

TEST_P(MasterUpdateTest, ExportIsInBinaryKeyOrder)
{
    const auto& m = masters::storeMaster();
    QStringList lines;
    for (const char* code : {"b", "B", "10", "9", "ｱ", "あ", "a", "A "}) {
        lines << record({{"1", 1}, {QString::fromUtf8(code), 3}, {"x", 15}});
    }
    ASSERT_OK(run(m, 7, lines));
    QStringList codes;
    for (const QString& line : exported(m, 7)) {
        codes << line.section(u',', 0, 0);
    }
    EXPECT_EQ(codes, QStringList({"10", "9", "A", "B", "a", "b", "あ", "ｱ"}));
}

TEST_P(MasterUpdateTest, EmptyLinesAddNothingAndEmptyFilesStillExport)
{
    const auto& m = masters::classificationMaster();
    writeFile(exportPath(m, 7), sjisLines({"stale,line", "another"}));
    Result<UpdateSummary> empty = run(m, 7, {});
    ASSERT_OK(empty);
    EXPECT_EQ(empty->linesRead, 0);
    ASSERT_TRUE(QFileInfo::exists(exportPath(m, 7)));
    EXPECT_EQ(readFile(exportPath(m, 7)), QByteArray()); // replaced, not appended

    Result<UpdateSummary> s = run(m, 7, {"", record({{"1", 1}, {"0001", 4}, {"名", 20}}), "", ""});
    ASSERT_OK(s);
    EXPECT_EQ(s->linesRead, 4);
    EXPECT_EQ(s->rowsAdded, 1);
    EXPECT_EQ(tables->count(m.name, kT7), 1);

    Result<UpdateSummary> again = run(m, 7, {});
    ASSERT_OK(again);
    EXPECT_EQ(exported(m, 7), QStringList({"0001,名,,,,1,"}));
    const QStringList left = QDir(folder.rcv(7)).entryList(QDir::Files);
    EXPECT_EQ(left, QStringList({"BUNMAS.csv", "BUNMAS.dat"})); // no temporary files left
}

TEST_P(MasterUpdateTest, ShortLinesGiveEmptyTextNeverNull)
{
    const auto& m = masters::productMaster();
    ASSERT_OK(run(m, 7, {"1", "2ABC"}));
    const auto stored = rows(m, kT7);
    ASSERT_EQ(stored.size(), 2u);
    for (const QStringList& row : stored) {
        EXPECT_FALSE(row.contains("<NULL>")) << row.join(u'|').toStdString();
    }
    EXPECT_EQ(stored[1].mid(0, 3), QStringList({"2", "ABC", ""}));
    // The row with the empty key exports first, as a line of 26 bare commas and its flag.
    EXPECT_EQ(exported(m, 7).at(0), QString(26, u',') + "1");
}

// ---------------------------------------------------------------------------------------------------------------
// Failures leave the database, the export and the update file as they were.

class MasterUpdateFailureTest : public MasterUpdateTest
{
  protected:
    void SetUp() override
    {
        MasterUpdateTest::SetUp();
        tables->insert(m.name, kT7, {{"有効区分", "1"}, {"商品コード", "0001"}, {"商品漢字名", "前"}});
        writeFile(exportPath(m, 7), previousExport);
    }
    void expectUnchanged()
    {
        EXPECT_EQ(tables->rows(m.name, {"商品コード", "商品漢字名"}, kT7), std::vector<QStringList>({{"0001", "前"}}));
        EXPECT_EQ(readFile(exportPath(m, 7)), previousExport);
        EXPECT_EQ(readFile(updatePath(m, 7)), updateFile);
        EXPECT_EQ(QDir(folder.rcv(7)).entryList(QDir::Files), QStringList({"SHOMAS.csv", "SHOMAS.dat"}));
    }
    Result<UpdateSummary> runBytes(const QByteArray& bytes)
    {
        updateFile = bytes;
        writeFile(updatePath(m, 7), bytes);
        return distribution::updateMaster(m, context(), 7);
    }

    const MasterDefinition& m = masters::productMaster();
    const QByteArray previousExport = sjisLines({"0001,,前,,previous"});
    QByteArray updateFile;
};

INSTANTIATE_TEST_SUITE_P(, MasterUpdateFailureTest, kBothBackends, backendName);

TEST_P(MasterUpdateFailureTest, InvalidShiftJisLineRefusesTheWholeFile)
{
    QByteArray bytes = sjisLines({shomasLine("1", "0001", "", "", "新", ""), shomasLine("1", "0002", "", "", "", "")});
    bytes += QByteArray("1\x82\xFF bad\r\n") + sjisLines({shomasLine("1", "0003", "", "", "", "")});
    Result<UpdateSummary> s = runBytes(bytes);
    ASSERT_FALSE(s.isOk());
    EXPECT_EQ(s.status().message(),
              "SHOMAS, terminal 0007: " + updatePath(m, 7) + ", line 3: not valid Windows-31J (Shift-JIS) text");
    expectUnchanged();
}

// A refused insert (a new key) or a refused replacement (the existing key 0001, written after the other lines):
// either way the error names the refused line and nothing stays stored.
TEST_P(MasterUpdateFailureTest, DatabaseFailureHalfWayRollsBack)
{
    for (const char* operation : {"INSERT", "UPDATE"}) {
        SCOPED_TRACE(operation);
        tables->refuse(m.name, QLatin1String(operation), QStringLiteral("有効区分"), QStringLiteral("X"));
        const QString refusedKey = QLatin1String(operation) == QLatin1String("INSERT") ? "0004" : "0001";
        Result<UpdateSummary> s = runBytes(sjisLines({shomasLine("1", "0002", "", "", "新", ""),
                                                      shomasLine("1", "0003", "", "", "", ""),
                                                      shomasLine("X", refusedKey, "", "", "", ""),
                                                      shomasLine("1", "0005", "", "", "", "")}));
        ASSERT_FALSE(s.isOk());
        EXPECT_TRUE(s.status().message().startsWith("SHOMAS, terminal 0007: " + updatePath(m, 7) + ", line 3: "))
            << s.status().message().toStdString();
        EXPECT_TRUE(s.status().message().contains("refused by test"));
        expectUnchanged();
    }
}

TEST_P(MasterUpdateFailureTest, UnencodableCharacterRefusesTheExportAndRollsBack)
{
    tables->insert(m.name, kT7, {{"有効区分", "1"}, {"商品コード", "0002"}, {"商品漢字名", QStringLiteral("顔😀")}});
    Result<UpdateSummary> s = runBytes(sjisLines({shomasLine("1", "0001", "", "", "新", "")}));
    ASSERT_FALSE(s.isOk());
    EXPECT_TRUE(s.status().message().startsWith("SHOMAS, terminal 0007: " + exportPath(m, 7) + ", line 2: "))
        << s.status().message().toStdString();
    EXPECT_TRUE(s.status().message().contains("U+1F600")) << s.status().message().toStdString();
    EXPECT_EQ(tables->rows(m.name, {"商品コード", "商品漢字名"}, kT7),
              std::vector<QStringList>({{"0001", "前"}, {"0002", QStringLiteral("顔😀")}}));
    EXPECT_EQ(readFile(exportPath(m, 7)), previousExport);
    EXPECT_EQ(QDir(folder.rcv(7)).entryList(QDir::Files), QStringList({"SHOMAS.csv", "SHOMAS.dat"}));
}

TEST_P(MasterUpdateTest, MissingUpdateFileOrDatabaseIsAnErrorNamingIt)
{
    const auto& m = masters::storeMaster();
    Result<UpdateSummary> noFile = distribution::updateMaster(m, context(), 5);
    ASSERT_FALSE(noFile.isOk());
    EXPECT_EQ(noFile.status().message(), "TENMAS, terminal 0005: " + updatePath(m, 5) + ": update file not found");

    writeFile(updatePath(m, 5), sjisLines({"1001"}));
    UpdateContext noDb = context();
    noDb.database = tables->missing(folder.path("missing"));
    Result<UpdateSummary> s = distribution::updateMaster(m, noDb, 5);
    ASSERT_FALSE(s.isOk());
    EXPECT_TRUE(s.status().message().contains(db::describeDatabase(noDb.database.database)))
        << s.status().message().toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.path("missing")));
}

// The program ends while the update runs: it stops before its next line or row, and nothing of it stays stored.
TEST_P(MasterUpdateFailureTest, AStopGivesTheUpdateUpWithNothingStored)
{
    QStringList lines;
    for (int line = 1; line <= 40; ++line) {
        lines << shomasLine("1", QStringLiteral("%1").arg(line % 20, 4, 10, QLatin1Char('0')), "", "", "新", "");
    }
    updateFile = sjisLines(lines);
    writeFile(updatePath(m, 7), updateFile);
    std::stop_source stop;
    UpdateContext c = context();
    c.batchBytes = 200; // several batches: the first is stored when the stop comes
    c.stop = stop.get_token();
    int reports = 0;
    c.progress = [&](qint64 done, qint64) {
        ++reports;
        if (done > 0) {
            stop.request_stop();
        }
    };
    Result<UpdateSummary> s = distribution::updateMaster(m, c, 7);
    ASSERT_FALSE(s.isOk());
    EXPECT_EQ(s.status().message(),
              "SHOMAS, terminal 0007: " + updatePath(m, 7) + ": the program is ending; nothing of this file is stored");
    EXPECT_EQ(reports, 2); // the start, then the first batch
    expectUnchanged();
}

// ---------------------------------------------------------------------------------------------------------------
// The sample update files run through every master cleanly, and a second run finds every row again.

TEST_P(MasterUpdateTest, SampleFilesRunThrough)
{
    for (const MasterDefinition* m : masters::allMasters()) {
        SCOPED_TRACE(m->name.toStdString());
        const QByteArray sample = readFile(samplesDir() + QStringLiteral("/update/") + m->updateFileName());
        ASSERT_FALSE(sample.isEmpty());
        writeFile(updatePath(*m, 7), sample);
        Result<UpdateSummary> first = distribution::updateMaster(*m, context(), 7);
        ASSERT_OK(first);
        EXPECT_GT(first->rowsAdded, 0);
        EXPECT_EQ(first->rowsExported, tables->count(m->name, kT7));
        EXPECT_EQ(exported(*m, 7).size(), first->rowsExported);

        Result<UpdateSummary> second = distribution::updateMaster(*m, context(), 7);
        ASSERT_OK(second);
        EXPECT_EQ(second->rowsAdded, 0);
        EXPECT_EQ(second->rowsExported, first->rowsExported);
    }
}

} // namespace
} // namespace kavelo::test
