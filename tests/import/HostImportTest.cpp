#include "import/HostImport.h"

#include "masters/Fields.h"
#include "masters/Masters.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "support/TestDatabase.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <map>
#include <vector>

namespace kavelo::import {
namespace {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using test::record;
using test::sjisLines;
using test::writeFile;

const QString kNull = QStringLiteral("<NULL>");

using Row = QHash<QString, QString>; // column -> value, NULL as "<NULL>"

// Every test runs on SQLite and on the server.
class HostImportTest : public test::BackendTest
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_tables->ready()); }
    ImportContext context() const { return {m_tables->location(), m_folder.importDir()}; }
    QString hostPath(const MasterDefinition& master) const { return m_folder.importDir() + master.hostFileName(); }

    void writeHost(const MasterDefinition& master, const QStringList& lines)
    {
        writeFile(hostPath(master), sjisLines(lines));
    }

    Result<ImportSummary> runImport(const MasterDefinition& master) { return importMaster(master, context()); }

    // Every row of the master's table in the order added.
    std::vector<Row> rows(const MasterDefinition& master)
    {
        QStringList columns{masters::kTerminalIdColumn};
        for (const QString& column : master.columns) {
            columns << column;
        }
        std::vector<Row> out;
        for (const QStringList& values : m_tables->all(master.name, columns)) {
            Row row;
            for (qsizetype i = 0; i < columns.size(); ++i) {
                row.insert(columns[i], values[i]);
            }
            out.push_back(row);
        }
        return out;
    }

    // A row as the per-terminal update leaves it: the terminal ID and the master's columns by name.
    void addTerminalRow(const MasterDefinition& master, const QString& terminalId, const Row& values)
    {
        QMap<QString, QString> columns;
        for (auto it = values.begin(); it != values.end(); ++it) {
            columns.insert(it.key(), it.value());
        }
        m_tables->insert(master.name, terminalId, columns);
    }

    static QStringList keysOf(const std::vector<Row>& table, const QString& column)
    {
        QStringList keys;
        for (const Row& row : table) {
            keys << row.value(column);
        }
        return keys;
    }

    test::ProgramFolder m_folder;
    std::unique_ptr<test::TestDatabase> m_tables = test::TestDatabase::make(GetParam(), m_folder.dbPath());
};

INSTANTIATE_TEST_SUITE_P(, HostImportTest, test::kBothBackends, test::backendName);

const MasterDefinition& bunmas()
{
    return masters::classificationMaster();
}

QString bunmasLine(const QString& flag, const QString& code, const QString& name)
{
    return record({{flag, 1},
                   {code, 4},
                   {name, 20},
                   {QStringLiteral("1"), 1},
                   {QStringLiteral("008"), 3},
                   {QStringLiteral("ｶﾅ"), 10},
                   {QStringLiteral("xyz"), 3}});
}

QString shomasLine(const QString& flag, const QString& productCode, const QString& tail = {})
{
    return record({{flag, 1},
                   {productCode, 13},
                   {QStringLiteral("OWN"), 13},
                   {QStringLiteral("商品"), 20},
                   {QStringLiteral("ｼｮｳﾋﾝ"), 14},
                   {tail, 120}});
}

// ------------------------------------------------------------------------------------------------ the flow

TEST_P(HostImportTest, EmptyFileChangesNothingAndSucceeds)
{
    writeHost(bunmas(), {bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("A"))});
    ASSERT_OK(runImport(bunmas()));
    writeFile(hostPath(bunmas()), QByteArray());

    Result<ImportSummary> summary = runImport(bunmas());
    ASSERT_OK(summary);
    EXPECT_EQ(summary->recordsRead, 0);
    EXPECT_EQ(summary->replaced + summary->deleted + summary->skipped, 0);
    EXPECT_EQ(keysOf(rows(bunmas()), QStringLiteral("分類コード")), QStringList{QStringLiteral("0001")});
}

TEST_P(HostImportTest, RecordsApplyInFileOrder)
{
    const QString one = QStringLiteral("1");
    const QString two = QStringLiteral("2");
    const QString three = QStringLiteral("3");
    writeHost(bunmas(),
              {
                  bunmasLine(three, QStringLiteral("0099"), QStringLiteral("absent key")),
                  bunmasLine(one, QStringLiteral("0001"), QStringLiteral("first")),
                  bunmasLine(two, QStringLiteral("0001"), QStringLiteral("second")),
                  bunmasLine(one, QStringLiteral("0002"), QStringLiteral("gone")),
                  bunmasLine(three, QStringLiteral("0002"), QString()),
                  bunmasLine(one, QStringLiteral("0003"), QStringLiteral("kept")),
              });

    Result<ImportSummary> summary = runImport(bunmas());
    ASSERT_OK(summary);
    EXPECT_EQ(summary->recordsRead, 6);
    EXPECT_EQ(summary->replaced, 4);
    EXPECT_EQ(summary->deleted, 2);
    EXPECT_EQ(summary->skipped, 0);

    std::vector<Row> table = rows(bunmas());
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].value(QStringLiteral("分類コード")), QStringLiteral("0001"));
    EXPECT_EQ(table[0].value(QStringLiteral("分類漢字名")), QStringLiteral("second"));
    EXPECT_EQ(table[0].value(QStringLiteral("有効区分")), two);
    EXPECT_EQ(table[1].value(QStringLiteral("分類コード")), QStringLiteral("0003"));
}

TEST_P(HostImportTest, OnlyTheExactFlagsOneTwoThreeDoAnything)
{
    addTerminalRow(bunmas(), QStringLiteral("0001"), {{QStringLiteral("分類コード"), QStringLiteral("0001")}});
    const QString tail = QStringLiteral("0001名前");
    writeHost(bunmas(),
              {
                  QString(),                                    // empty line
                  QStringLiteral(" ") + tail,                   // blank
                  QStringLiteral("１") + tail,                  // full-width one
                  QStringLiteral("３") + tail,                  // full-width three
                  QStringLiteral("0") + tail,                   //
                  QStringLiteral("4") + tail,                   //
                  QStringLiteral("X") + tail,                   //
                  QStringLiteral("13") + QStringLiteral("002"), // flag 1, key "3002" on a short line
              });

    Result<ImportSummary> summary = runImport(bunmas());
    ASSERT_OK(summary);
    EXPECT_EQ(summary->recordsRead, 8);
    EXPECT_EQ(summary->skipped, 7);
    EXPECT_EQ(summary->replaced, 1);
    std::vector<Row> table = rows(bunmas());
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].value(QStringLiteral("端末ID")), QStringLiteral("0001"));
    EXPECT_EQ(table[1].value(QStringLiteral("分類コード")), QStringLiteral("3002"));
    // Fields beyond the end of a short line are empty text, not NULL.
    EXPECT_EQ(table[1].value(QStringLiteral("分類漢字名")), QString());
    EXPECT_EQ(table[1].value(QStringLiteral("filler")), QString());
}

TEST_P(HostImportTest, ImportingTheSameFileTwiceGivesTheSameTable)
{
    writeHost(bunmas(),
              {
                  bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("a")),
                  bunmasLine(QStringLiteral("2"), QStringLiteral("0002"), QStringLiteral("b")),
                  bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("c")),
                  bunmasLine(QStringLiteral("3"), QStringLiteral("0002"), QString()),
                  bunmasLine(QStringLiteral("1"), QStringLiteral("0003"), QStringLiteral("d")),
              });
    ASSERT_OK(runImport(bunmas()));
    const std::vector<Row> once = rows(bunmas());
    ASSERT_OK(runImport(bunmas()));
    std::vector<Row> twice = rows(bunmas());
    EXPECT_EQ(twice, once);
    EXPECT_EQ(keysOf(twice, QStringLiteral("分類コード")),
              (QStringList{QStringLiteral("0001"), QStringLiteral("0003")}));
}

TEST_P(HostImportTest, DeleteRemovesTheKeyOfEveryTerminalAndOfEarlierImports)
{
    for (const QString& terminal : {QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("0011")}) {
        addTerminalRow(bunmas(), terminal, {{QStringLiteral("分類コード"), QStringLiteral("0001")}});
        addTerminalRow(bunmas(), terminal, {{QStringLiteral("分類コード"), QStringLiteral("0002")}});
    }
    writeHost(bunmas(), {bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("old"))});
    ASSERT_OK(runImport(bunmas()));
    ASSERT_EQ(rows(bunmas()).size(), 4u); // three terminals' "0002" and the imported "0001"

    writeHost(bunmas(),
              {bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("new")),
               bunmasLine(QStringLiteral("3"), QStringLiteral("0002"), QString())});
    ASSERT_OK(runImport(bunmas()));
    std::vector<Row> table = rows(bunmas());
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].value(QStringLiteral("端末ID")), kNull);
    EXPECT_EQ(table[0].value(QStringLiteral("分類漢字名")), QStringLiteral("new"));
}

TEST_P(HostImportTest, SingleQuotesAreStoredAsTheyStand)
{
    const MasterDefinition& tenmas = masters::storeMaster();
    writeHost(tenmas,
              {record({{QStringLiteral("1"), 1},
                       {QStringLiteral("'1'"), 3},
                       {QStringLiteral("O'Brien's, shop"), 15},
                       {QStringLiteral("')"), 14}}),
               QStringLiteral("1x'; DROP TABLE TENMAS; --")});
    ASSERT_OK(runImport(tenmas));
    std::vector<Row> table = rows(tenmas);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].value(QStringLiteral("店舗コード")), QStringLiteral("'1'"));
    EXPECT_EQ(table[0].value(QStringLiteral("店舗名漢字")), QStringLiteral("O'Brien's, shop"));
    EXPECT_EQ(table[0].value(QStringLiteral("filler")), QStringLiteral("')").leftJustified(14));
    EXPECT_EQ(table[1].value(QStringLiteral("店舗コード")), QStringLiteral("x';"));

    writeHost(tenmas, {QStringLiteral("3'1'")});
    ASSERT_OK(runImport(tenmas));
    EXPECT_EQ(keysOf(rows(tenmas), QStringLiteral("店舗コード")), QStringList{QStringLiteral("x';")});
}

// ------------------------------------------------------------------------------------------------ the masters' cuts

struct CutCase
{
    const MasterDefinition* master;
    QString line;
    std::map<QString, QString> expected; // column -> stored value
};

TEST_P(HostImportTest, EachMasterStoresItsValuesAsCut)
{
    const QString shomasCommon = QStringLiteral("0012") + QStringLiteral("010") + QStringLiteral("000123") +
                                 QStringLiteral("1") + QStringLiteral("000000100") + QStringLiteral("0000150") +
                                 QStringLiteral("1") + QStringLiteral("2") + QStringLiteral("1") +
                                 QStringLiteral("20240101") + QStringLiteral("008") + QStringLiteral("2") +
                                 QStringLiteral("20191001") + QStringLiteral("010") + QStringLiteral("20240201") +
                                 QStringLiteral("20240210") + QStringLiteral("000000090") + QStringLiteral("0000130") +
                                 QStringLiteral("20240301") + QStringLiteral("20240310");
    ASSERT_EQ(shomasCommon.size(), 165 - 62 + 1);

    const std::vector<CutCase> cases = {
        {&masters::classificationMaster(),
         record({{QStringLiteral("2"), 1},
                 {QStringLiteral(" 12 "), 4},
                 {QStringLiteral(" 分類,名前　"), 20},
                 {QStringLiteral(" "), 1},
                 {QStringLiteral("  5"), 3},
                 {QStringLiteral(" ｶﾅ,ﾒｲ"), 10},
                 {QStringLiteral(" f "), 3}}),
         {{QStringLiteral("有効区分"), QStringLiteral("2")},
          {QStringLiteral("分類コード"), QStringLiteral(" 12 ")},
          {QStringLiteral("分類漢字名"), QStringLiteral("分類,名前　")},
          {QStringLiteral("消費税区分"), QString()},
          {QStringLiteral("消費税率"), QStringLiteral("5")},
          {QStringLiteral("分類カナ名"), QStringLiteral("ｶﾅ,ﾒｲ")},
          {QStringLiteral("filler"), QStringLiteral(" f ")}}},
        {&masters::storeMaster(),
         record({{QStringLiteral("1"), 1},
                 {QStringLiteral("07 "), 3},
                 {QStringLiteral(" 店舗，名,前"), 15},
                 {QStringLiteral(" filler"), 14}}),
         {{QStringLiteral("有効区分"), QStringLiteral("1")},
          {QStringLiteral("店舗コード"), QStringLiteral("07 ")},
          {QStringLiteral("店舗名漢字"), QStringLiteral("店舗，名,前")},
          {QStringLiteral("filler"), QStringLiteral(" filler").leftJustified(14)}}},
        {&masters::supplierMaster(),
         record({{QStringLiteral("1"), 1},
                 {QStringLiteral("00 12"), 6},
                 {QStringLiteral(" 仕入,先"), 20},
                 {QStringLiteral(" "), 1},
                 {QStringLiteral("2"), 1},
                 {QStringLiteral("3"), 1},
                 {QStringLiteral("4"), 1},
                 {QStringLiteral(" ｼｲﾚ,"), 10},
                 {QStringLiteral("9"), 1}}),
         {{QStringLiteral("有効区分"), QStringLiteral("1")},
          {QStringLiteral("仕入先コード"), QStringLiteral("00 12 ")},
          {QStringLiteral("仕入先漢字名"), QStringLiteral("仕入,先")},
          {QStringLiteral("業者区分"), QStringLiteral(" ")},
          {QStringLiteral("消費税区分"), QStringLiteral("2")},
          {QStringLiteral("端数処理"), QStringLiteral("3")},
          {QStringLiteral("丸め単位"), QStringLiteral("4")},
          {QStringLiteral("仕入先カナ名"), QStringLiteral(" ｼｲﾚ,").leftJustified(10)},
          {QStringLiteral("filler"), QStringLiteral("9")}}},
        {&masters::customerMaster(),
         record({{QStringLiteral("2"), 1},
                 {QStringLiteral("C1"), 6},
                 {QStringLiteral("得意先"), 20},
                 {QStringLiteral("1"), 1},
                 {QStringLiteral(" "), 1},
                 {QStringLiteral("3"), 1},
                 {QStringLiteral("4"), 1},
                 {QStringLiteral("ﾄｸｲ"), 10},
                 {QStringLiteral("Z"), 1}}),
         {{QStringLiteral("有効区分"), QStringLiteral("2")},
          {QStringLiteral("得意先コード"), QStringLiteral("C1").leftJustified(6)},
          {QStringLiteral("得意先漢字名"), QStringLiteral("得意先")},
          {QStringLiteral("業者区分"), QStringLiteral("1")},
          {QStringLiteral("消費税区分"), QStringLiteral(" ")},
          {QStringLiteral("端数処理"), QStringLiteral("3")},
          {QStringLiteral("丸め単位"), QStringLiteral("4")},
          {QStringLiteral("得意先カナ名"), QStringLiteral("ﾄｸｲ").leftJustified(10)},
          {QStringLiteral("filler"), QStringLiteral("Z")}}},
        {&masters::productMaster(),
         record({{QStringLiteral("1"), 1},
                 {QStringLiteral(" 4901234"), 13},
                 {QStringLiteral("1234567890123"), 13},
                 {QStringLiteral(" 商品,名"), 20},
                 {QStringLiteral("ｼｮｳﾋﾝ,"), 14},
                 {shomasCommon, 104},
                 {QStringLiteral("A23456789"), 9},
                 {QStringLiteral("B234567"), 7}}),
         {{QStringLiteral("有効区分"), QStringLiteral("1")},
          {QStringLiteral("商品コード"), QStringLiteral("4901234")},
          {QStringLiteral("自社コード"), QStringLiteral("1234567890123")},
          {QStringLiteral("商品漢字名"), QStringLiteral("商品,名")},
          {QStringLiteral("商品カナ名"), QStringLiteral("ｼｮｳﾋﾝ,")},
          {QStringLiteral("分類コード"), QStringLiteral("0012")},
          {QStringLiteral("原価"), QStringLiteral("000000100")},
          {QStringLiteral("税率2"), QStringLiteral("010")},
          {QStringLiteral("特売終了日2"), QStringLiteral("20240310")},
          {QStringLiteral("特売開始日3"), QStringLiteral("A23456789")},
          {QStringLiteral("特売終了日3"), QStringLiteral("B234567")}}},
        {&masters::ownCompanyCodeMaster(),
         record({{QStringLiteral("1"), 1}, {QStringLiteral(" 123456789012"), 13}, {QStringLiteral("4901234 "), 13}}),
         {{QStringLiteral("有効区分"), QStringLiteral("1")},
          {QStringLiteral("自社コード"), QStringLiteral("123456789012")},
          {QStringLiteral("商品コード"), QStringLiteral("4901234")}}},
    };

    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.master->name.toStdString());
        writeHost(*c.master, {c.line});
        ASSERT_OK(runImport(*c.master));
        std::vector<Row> table = rows(*c.master);
        ASSERT_EQ(table.size(), 1u);
        EXPECT_EQ(table[0].value(masters::kTerminalIdColumn), kNull);
        for (const auto& [column, value] : c.expected) {
            SCOPED_TRACE(column.toStdString());
            EXPECT_EQ(table[0].value(column), value);
        }
        // Every column the master's values go to is filled (empty text at most), none left NULL.
        for (const QString& column : c.master->columns) {
            EXPECT_NE(table[0].value(column), kNull) << column.toStdString();
        }
    }
}

TEST_P(HostImportTest, ProductImportAndUpdateCutTheSameCommonFields)
{
    const MasterDefinition& shomas = masters::productMaster();
    QString line;
    for (int i = 0; i < 181; ++i) {
        line += QChar(u'A' + i % 26);
    }
    std::map<QString, QString> byUpdate;
    for (const masters::Field& field : shomas.updateFields) {
        byUpdate[field.column] = masters::cutField(line, field);
    }
    int common = 0;
    for (const masters::Field& field : shomas.importFields) {
        if (field.start >= 62 && field.start <= 158) {
            ++common;
            EXPECT_EQ(masters::cutField(line, field), byUpdate[field.column]) << field.column.toStdString();
        }
    }
    EXPECT_EQ(common, 20);
    ASSERT_EQ(shomas.importFields.size(), 27u);
    EXPECT_EQ(shomas.importFields[25].column, QStringLiteral("特売開始日3"));
    EXPECT_EQ(shomas.importFields[26].column, QStringLiteral("特売終了日3"));
}

TEST_P(HostImportTest, ProductCodeIsTrimmedAndFindsTerminalRowsStoredPadded)
{
    const MasterDefinition& shomas = masters::productMaster();
    const QString padded = QStringLiteral("12345678     ");
    ASSERT_EQ(padded.size(), 13);
    for (const QString& terminal : {QStringLiteral("0001"), QStringLiteral("0007")}) {
        addTerminalRow(shomas, terminal, {{QStringLiteral("商品コード"), padded}});
        addTerminalRow(shomas, terminal, {{QStringLiteral("商品コード"), QStringLiteral("123456789    ")}});
        addTerminalRow(shomas, terminal, {{QStringLiteral("商品コード"), QStringLiteral("87654321     ")}});
    }

    writeHost(shomas,
              {shomasLine(QStringLiteral("2"), QStringLiteral("12345678")),
               shomasLine(QStringLiteral("3"), QStringLiteral("87654321"))});
    Result<ImportSummary> summary = runImport(shomas);
    ASSERT_OK(summary);
    EXPECT_EQ(summary->replaced, 1);
    EXPECT_EQ(summary->deleted, 1);

    std::vector<Row> table = rows(shomas);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].value(QStringLiteral("商品コード")), QStringLiteral("123456789    "));
    EXPECT_EQ(table[1].value(QStringLiteral("商品コード")), QStringLiteral("123456789    "));
    EXPECT_EQ(table[2].value(QStringLiteral("商品コード")), QStringLiteral("12345678"));
    EXPECT_EQ(table[2].value(QStringLiteral("端末ID")), kNull);
}

TEST_P(HostImportTest, OwnCompanyCodeDeleteUsesTheTrimmedCode)
{
    const MasterDefinition& jisya = masters::ownCompanyCodeMaster();
    addTerminalRow(jisya, QStringLiteral("0003"), {{QStringLiteral("自社コード"), QStringLiteral("ABC")}});
    addTerminalRow(jisya, QStringLiteral("0004"), {{QStringLiteral("自社コード"), QStringLiteral("ABCD")}});
    writeHost(jisya, {record({{QStringLiteral("3"), 1}, {QStringLiteral("ABC"), 13}})});
    ASSERT_OK(runImport(jisya));
    EXPECT_EQ(keysOf(rows(jisya), QStringLiteral("自社コード")), QStringList{QStringLiteral("ABCD")});
}

// ------------------------------------------------------------------------------------------------ failures

TEST_P(HostImportTest, InvalidLineLeavesTheTableExactlyAsBefore)
{
    struct Case
    {
        const char* name;
        QByteArray badLine;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"invalid lead byte", QByteArray("1\x85\x40") + "0009", "Windows-31J"},
        {"cut double-byte character", QByteArray("10009\x82"), "Windows-31J"},
        {"NUL byte", QByteArray("10009\0x", 7), "NUL"},
    };
    writeHost(bunmas(), {bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("before"))});
    ASSERT_OK(runImport(bunmas()));
    addTerminalRow(bunmas(), QStringLiteral("0002"), {{QStringLiteral("分類コード"), QStringLiteral("0002")}});
    const std::vector<Row> before = rows(bunmas());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray content = sjisLines({bunmasLine(QStringLiteral("3"), QStringLiteral("0001"), QString()),
                                        bunmasLine(QStringLiteral("1"), QStringLiteral("0002"), QStringLiteral("x")),
                                        bunmasLine(QStringLiteral("1"), QStringLiteral("0003"), QStringLiteral("y"))});
        content += c.badLine + "\r\n" + sjisLines({bunmasLine(QStringLiteral("1"), QStringLiteral("0004"), QString())});
        writeFile(hostPath(bunmas()), content);

        Result<ImportSummary> summary = runImport(bunmas());
        ASSERT_FALSE(summary.isOk());
        const QString message = summary.status().message();
        EXPECT_TRUE(message.contains(hostPath(bunmas()) + QStringLiteral(", line 4"))) << message.toStdString();
        EXPECT_TRUE(message.contains(QLatin1String(c.reason))) << message.toStdString();
        EXPECT_EQ(rows(bunmas()), before);
    }
}

TEST_P(HostImportTest, MissingFilesAreErrorsNamingThePath)
{
    Result<ImportSummary> noHostFile = runImport(bunmas());
    ASSERT_FALSE(noHostFile.isOk());
    EXPECT_TRUE(noHostFile.status().message().contains(hostPath(bunmas())))
        << noHostFile.status().message().toStdString();

    writeHost(bunmas(), {bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("a"))});
    const db::StoreLocation missing = m_tables->missing(m_folder.path(QStringLiteral("nowhere/Missing.db")));
    Result<ImportSummary> noDatabase = importMaster(bunmas(), {missing, m_folder.importDir()});
    ASSERT_FALSE(noDatabase.isOk());
    EXPECT_TRUE(noDatabase.status().message().contains(db::describeDatabase(missing.database)))
        << noDatabase.status().message().toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_folder.path(QStringLiteral("nowhere"))));

    Result<ImportSummary> noPath = importMaster(bunmas(), {QString(), m_folder.importDir()});
    ASSERT_FALSE(noPath.isOk());
    EXPECT_TRUE(noPath.status().message().contains(QLatin1String("ImportDB")));
}

// A SQLite file without the master's tables is refused, not filled with a table made up on the spot.
TEST(HostImportSqliteTest, ADatabaseWithoutTheTableIsRefused)
{
    test::ProgramFolder folder;
    writeFile(folder.importDir() + bunmas().hostFileName(),
              sjisLines({bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("a"))}));
    const QString bare = folder.path(QStringLiteral("Bare.db"));
    ASSERT_OK(Database::openSqlite(bare, Database::OpenMode::CreateIfMissing));
    Result<ImportSummary> noTable = importMaster(bunmas(), {bare, folder.importDir()});
    ASSERT_FALSE(noTable.isOk());
    EXPECT_TRUE(noTable.status().message().contains(bare + QStringLiteral(": the table BUNMAS")))
        << noTable.status().message().toStdString();
}

TEST_P(HostImportTest, TheImportFolderIsAPlainPrefix)
{
    // "PREFIX" + "BUNMAS.DAT": no separator is put in between.
    const QString prefix = m_folder.path(QStringLiteral("host-"));
    writeFile(prefix + QStringLiteral("BUNMAS.DAT"),
              sjisLines({bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("a"))}));
    ASSERT_OK(importMaster(bunmas(), {m_tables->location(), prefix}));
    EXPECT_EQ(rows(bunmas()).size(), 1u);
}

TEST_P(HostImportTest, ProgressEndsWithTheWholeFile)
{
    QStringList lines;
    for (int i = 0; i < 20000; ++i) {
        lines << bunmasLine(QStringLiteral("1"), QString::number(i % 10000), QStringLiteral("name"));
    }
    writeHost(bunmas(), lines);
    const qint64 size = QFileInfo(hostPath(bunmas())).size();
    std::vector<std::pair<qint64, qint64>> calls;
    Result<ImportSummary> summary =
        importMaster(bunmas(), context(), [&calls](qint64 done, qint64 total) { calls.emplace_back(done, total); });
    ASSERT_OK(summary);
    ASSERT_GE(calls.size(), 3u);
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_LE(calls[i - 1].first, calls[i].first);
        EXPECT_EQ(calls[i].second, size);
    }
    EXPECT_EQ(calls.back().first, size);
    EXPECT_EQ(rows(bunmas()).size(), 10000u);
}

// ------------------------------------------------------------------------------------------------ sample files

// The sample host files hold awkward but valid lines: each imports whole, and the table then holds exactly one
// row for each key whose last record replaced it, with that record's values, and none for a key whose last record
// deleted it.
TEST_P(HostImportTest, SampleHostFilesImportCleanly)
{
    for (const MasterDefinition* master : masters::allMasters()) {
        SCOPED_TRACE(master->name.toStdString());
        const QString sample = test::samplesDir() + QStringLiteral("/host/") + master->hostFileName();
        ASSERT_TRUE(QFileInfo::exists(sample)) << sample.toStdString();
        const QStringList lines = test::readSjisLines(sample);
        writeFile(hostPath(*master), test::readFile(sample));

        Result<ImportSummary> summary = runImport(*master);
        ASSERT_OK(summary);
        EXPECT_EQ(summary->recordsRead, lines.size());
        EXPECT_EQ(summary->replaced + summary->deleted + summary->skipped, summary->recordsRead);
        EXPECT_GT(summary->replaced, 0);
        EXPECT_GT(summary->deleted, 0);
        EXPECT_GT(summary->skipped, 0);

        // Key without trailing blanks -> the last record of that key that replaced it, or an empty text if the
        // last one deleted it.
        std::map<QString, QString> lastRecord;
        for (const QString& line : lines) {
            if (line.startsWith(QLatin1Char('1')) || line.startsWith(QLatin1Char('2')) ||
                line.startsWith(QLatin1Char('3'))) {
                const QString key = platform::TrimTrailing(masters::cutField(line, master->importKey)).toString();
                lastRecord[key] = line.startsWith(QLatin1Char('3')) ? QString() : line;
            }
        }
        QStringList expected;
        for (const auto& [key, line] : lastRecord) {
            if (!line.isEmpty()) {
                expected << key;
            }
        }
        QStringList stored;
        for (const Row& row : rows(*master)) {
            const QString key = platform::TrimTrailing(row.value(master->keyColumn)).toString();
            stored << key;
            // The row holds that record's values exactly as cut, and no terminal ID.
            const QString line = lastRecord[key];
            EXPECT_EQ(row.value(masters::kTerminalIdColumn), kNull);
            for (const masters::Field& field : master->importFields) {
                EXPECT_EQ(row.value(field.column), masters::cutField(line, field))
                    << key.toStdString() << " " << field.column.toStdString();
            }
        }
        stored.sort();
        expected.sort();
        EXPECT_EQ(stored, expected);
    }
}

} // namespace
} // namespace kavelo::import
