// The import applies a host file in batches sorted by key. Whatever the batch size, the table, the counts and the
// errors are those of applying the records one by one in file order (a batch of one byte holds one line).

#include "import/HostImport.h"

#include "masters/Masters.h"
#include "support/TestDatabase.h"
#include "support/TestSupport.h"

namespace kavelo::import {
namespace {

using masters::MasterDefinition;
using platform::Result;
using test::record;

const QList<qsizetype> kBatchSizes = {1, 60, 200, 24 * 1024 * 1024};

const MasterDefinition& sirmas()
{
    return masters::supplierMaster();
}

QString sirmasLine(const QString& flag, const QString& code, const QString& name)
{
    return record({{flag, 1},
                   {code, 6},
                   {name, 20},
                   {QStringLiteral("1234"), 4},
                   {QStringLiteral("ｶﾅ"), 10},
                   {QStringLiteral("9"), 1}});
}

QStringList columns(const MasterDefinition& master)
{
    QStringList out{masters::kTerminalIdColumn};
    for (const QString& column : master.columns) {
        out << column;
    }
    return out;
}

struct Outcome
{
    ImportSummary summary;
    std::vector<QStringList> table;
    QString error;
};

// Imports `lines` into a table that holds an imported row "AB    ", one of terminal 0001 "CD", and rows of both for
// "X"; `refuse` is the operation ("INSERT", "UPDATE") the database refuses for the name "refused", if any.
Outcome
importInBatches(test::Backend backend, const QStringList& lines, qsizetype batchBytes, const QString& refuse = {})
{
    test::ProgramFolder folder;
    const std::unique_ptr<test::TestDatabase> tables = test::TestDatabase::make(backend, folder.dbPath());
    EXPECT_TRUE(tables->ready());
    const QString code = QStringLiteral("仕入先コード");
    const QString name = QStringLiteral("仕入先漢字名");
    const QString flag = QStringLiteral("有効区分");
    tables->insert(sirmas().name, QString(), {{flag, "1"}, {code, "AB    "}, {name, "old"}});
    tables->insert(sirmas().name, QStringLiteral("0001"), {{flag, "1"}, {code, "CD"}, {name, "terminal"}});
    tables->insert(sirmas().name, QString(), {{flag, "1"}, {code, "X     "}, {name, "old"}});
    tables->insert(sirmas().name, QStringLiteral("0002"), {{flag, "1"}, {code, "X"}, {name, "terminal"}});
    if (!refuse.isEmpty()) {
        tables->refuse(sirmas().name, refuse, name, QStringLiteral("refused"));
    }
    test::writeFile(folder.importDir() + sirmas().hostFileName(), test::sjisLines(lines));
    Result<ImportSummary> summary = importMaster(sirmas(), {tables->location(), folder.importDir(), batchBytes});
    return {summary.isOk() ? *summary : ImportSummary{},
            tables->content(sirmas().name, columns(sirmas())),
            summary.isOk() ? QString() : summary.status().message()};
}

class HostImportBatch : public test::BackendTest
{
};

INSTANTIATE_TEST_SUITE_P(, HostImportBatch, test::kBothBackends, test::backendName);

// Keys that repeat, keys equal but for trailing blanks ("CD" on a short line and "CD    " in a full record), every
// flag, and lines that are skipped.
TEST_P(HostImportBatch, BatchesGiveTheTableOfRecordByRecord)
{
    const QStringList lines = {
        sirmasLine("1", "X", "x first"),
        "1CD", // a short line: key "CD", which finds the terminal's "CD" and the padded record's key alike
        sirmasLine("2", "AB", "ab"),
        "",
        sirmasLine("1", "X", "x second"),
        sirmasLine("4", "Y", "skipped"),
        sirmasLine("1", "Y", "y"),
        sirmasLine("3", "X", ""),
        sirmasLine("1", "CD", "cd"),
        sirmasLine("3", "ZZ", "absent"),
        sirmasLine("2", "Y", "y last"),
    };
    const Outcome oneByOne = importInBatches(GetParam(), lines, 1);
    ASSERT_TRUE(oneByOne.error.isEmpty()) << oneByOne.error.toStdString();
    EXPECT_EQ(oneByOne.summary.recordsRead, 11);
    EXPECT_EQ(oneByOne.summary.replaced, 7);
    EXPECT_EQ(oneByOne.summary.deleted, 2);
    EXPECT_EQ(oneByOne.summary.skipped, 2);
    QStringList keys;
    for (const QStringList& row : oneByOne.table) {
        keys << row[0] + u'|' + row[2] + u'|' + row[3];
    }
    keys.sort();
    // X is gone for every terminal; CD and Y hold their last records, AB its only one; nothing of a terminal stays.
    EXPECT_EQ(keys, QStringList({"<NULL>|AB    |ab", "<NULL>|CD    |cd", "<NULL>|Y     |y last"}));

    for (qsizetype batchBytes : kBatchSizes.mid(1)) {
        SCOPED_TRACE(batchBytes);
        const Outcome batched = importInBatches(GetParam(), lines, batchBytes);
        ASSERT_TRUE(batched.error.isEmpty()) << batched.error.toStdString();
        EXPECT_EQ(batched.summary.recordsRead, oneByOne.summary.recordsRead);
        EXPECT_EQ(batched.summary.replaced, oneByOne.summary.replaced);
        EXPECT_EQ(batched.summary.deleted, oneByOne.summary.deleted);
        EXPECT_EQ(batched.summary.skipped, oneByOne.summary.skipped);
        EXPECT_EQ(batched.table, oneByOne.table);
    }
}

// A record refused in the middle of a batch (an insert among several added together, or a rewrite in place) is
// named by its line, and the table stays exactly as it was. (The server deletes and inserts the rewritten row: there
// its insert is refused.)
TEST_P(HostImportBatch, ARefusedRecordLeavesTheTableAsItWas)
{
    const std::vector<QStringList> before = importInBatches(GetParam(), {}, 1).table;
    QStringList many;
    for (int line = 1; line <= 40; ++line) {
        many << sirmasLine("1", QStringLiteral("K%1").arg(100 - line), line == 25 ? "refused" : "fine");
    }
    many << sirmasLine("1", "AB", "ab");
    for (const char* operation : {"INSERT", "UPDATE"}) {
        for (qsizetype batchBytes : kBatchSizes) {
            SCOPED_TRACE(std::string(operation) + " " + std::to_string(batchBytes));
            QStringList lines = many;
            if (QLatin1String(operation) == QLatin1String("UPDATE")) {
                lines[24] = sirmasLine("1", "K75", "fine");
                lines.back() = sirmasLine("1", "AB", "refused"); // the imported "AB    " is rewritten in place
            }
            const int refusedLine = QLatin1String(operation) == QLatin1String("UPDATE") ? 41 : 25;
            const bool inserts =
                QLatin1String(operation) == QLatin1String("INSERT") || GetParam() == test::Backend::Server;
            const Outcome outcome = importInBatches(
                GetParam(), lines, batchBytes, inserts ? QStringLiteral("INSERT") : QStringLiteral("UPDATE"));
            EXPECT_TRUE(outcome.error.contains(QStringLiteral("SIRMAS.DAT, line %1: ").arg(refusedLine)))
                << outcome.error.toStdString();
            EXPECT_TRUE(outcome.error.contains(QStringLiteral("refused by test"))) << outcome.error.toStdString();
            EXPECT_EQ(outcome.table, before);
        }
    }
}

} // namespace
} // namespace kavelo::import
