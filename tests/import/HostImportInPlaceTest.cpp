// A replacement rewrites one of the key's rows in place (an imported one, a terminal's, one stored padded). Whatever
// path a record takes, the table must end up as deleting every row of the key and inserting the record would leave
// it.

#include "import/HostImport.h"

#include "masters/Masters.h"
#include "platform/Database.h"
#include "support/TestSupport.h"

#include <QStringList>

#include <optional>
#include <vector>

namespace kavelo::import {
namespace {

using masters::MasterDefinition;
using platform::Database;
using platform::quoteIdentifier;
using platform::Result;

// One row: the terminal ID and the master's columns in table order, NULL as std::nullopt.
using Row = std::vector<std::optional<QString>>;

const MasterDefinition& bunmas()
{
    return masters::classificationMaster();
}

std::unique_ptr<Database> open(const QString& path)
{
    auto database = Database::openSqlite(path, Database::OpenMode::ExistingOnly);
    EXPECT_TRUE(database.isOk()) << database.status().message().toStdString();
    return database.isOk() ? std::move(*database) : nullptr;
}

QString columnList(const MasterDefinition& master)
{
    QStringList columns{quoteIdentifier(masters::kTerminalIdColumn)};
    for (const QString& column : master.columns) {
        columns << quoteIdentifier(column);
    }
    return columns.join(QStringLiteral(", "));
}

void insertRow(Database& database, const MasterDefinition& master, const Row& row)
{
    QStringList marks;
    for (size_t i = 1; i <= row.size(); ++i) {
        marks << QStringLiteral("?%1").arg(i);
    }
    auto insert = database.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                       .arg(quoteIdentifier(master.name), columnList(master), marks.join(u',')));
    ASSERT_OK(insert);
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i]) {
            (*insert)->bind(static_cast<int>(i) + 1, *row[i]);
        } else {
            (*insert)->bindNull(static_cast<int>(i) + 1);
        }
    }
    ASSERT_OK((*insert)->step());
}

// The table's rows in an order of their content alone: rowids are no part of the result.
std::vector<Row> contentOf(Database& database, const MasterDefinition& master)
{
    std::vector<Row> rows;
    const QString columns = columnList(master);
    auto query =
        database.prepare(QStringLiteral("SELECT %1 FROM %2 ORDER BY %1").arg(columns, quoteIdentifier(master.name)));
    EXPECT_OK(query);
    if (!query.isOk()) {
        return rows;
    }
    const int count = static_cast<int>(master.columns.size()) + 1;
    for (;;) {
        Result<bool> stepped = (*query)->step();
        EXPECT_OK(stepped);
        if (!stepped.isOk() || !*stepped) {
            break;
        }
        Row row;
        for (int i = 0; i < count; ++i) {
            row.push_back((*query)->isNull(i) ? std::nullopt : std::optional<QString>((*query)->text(i)));
        }
        rows.push_back(row);
    }
    return rows;
}

// A classification row: terminal ID, 有効区分, 分類コード, 分類漢字名, 消費税区分, 消費税率, 分類カナ名, filler.
Row bunmasRow(std::optional<QString> terminal,
              const QString& code,
              const QString& name,
              std::optional<QString> filler = QStringLiteral("F"),
              const QString& flag = QStringLiteral("1"))
{
    return {terminal, flag, code, name, QStringLiteral("1"), QStringLiteral("008"), QStringLiteral("ｶﾅ"), filler};
}

QString bunmasLine(const QString& flag, const QString& code, const QString& name)
{
    return test::record({{flag, 1},
                         {code, 4},
                         {name, 20},
                         {QStringLiteral("1"), 1},
                         {QStringLiteral("008"), 3},
                         {QStringLiteral("ｶﾅ"), 10}});
}

// The classification master's host record carries every column; the same table imported from records without the
// filler shows that a rewritten row loses the values the record has none for, as a deleted and inserted one would.
MasterDefinition withoutFiller()
{
    MasterDefinition master = bunmas();
    master.importFields.pop_back();
    return master;
}

TEST(HostImportInPlace, EveryShapeOfTheKeysRowsEndsAsDeleteThenInsert)
{
    for (const bool full : {true, false}) {
        SCOPED_TRACE(full ? "every column imported" : "filler not imported");
        const MasterDefinition master = full ? bunmas() : withoutFiller();
        test::ProgramFolder folder;
        const std::optional<QString> imported;
        const QString terminal = QStringLiteral("0001");
        {
            auto database = open(folder.dbPath());
            ASSERT_TRUE(database);
            // One imported row with a value in a column the host file has none for.
            insertRow(*database, bunmas(), bunmasRow(imported, QStringLiteral("0001"), QStringLiteral("old")));
            // One imported row whose key has a trailing blank: the record stores the key without it.
            insertRow(*database, bunmas(), bunmasRow(imported, QStringLiteral("0002 "), QStringLiteral("old")));
            // Two imported rows and a terminal's, one of them stored padded.
            insertRow(*database, bunmas(), bunmasRow(imported, QStringLiteral("0003"), QStringLiteral("old a")));
            insertRow(*database, bunmas(), bunmasRow(terminal, QStringLiteral("0003  "), QStringLiteral("terminal")));
            insertRow(*database, bunmas(), bunmasRow(imported, QStringLiteral("0003"), QStringLiteral("old b")));
            // A terminal's row alone, and one stored padded.
            insertRow(*database, bunmas(), bunmasRow(terminal, QStringLiteral("0004"), QStringLiteral("terminal")));
            insertRow(*database, bunmas(), bunmasRow(terminal, QStringLiteral("0007  "), QStringLiteral("terminal")));
            // Deleted by flag 3 after a rewrite in the same file.
            insertRow(*database, bunmas(), bunmasRow(imported, QStringLiteral("0005"), QStringLiteral("old")));
            // Untouched.
            insertRow(*database, bunmas(), bunmasRow(terminal, QStringLiteral("0009"), QStringLiteral("kept")));
        }
        test::writeFile(folder.importDir() + bunmas().hostFileName(),
                        test::sjisLines({
                            bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("new 1")),
                            bunmasLine(QStringLiteral("2"), QStringLiteral("0002"), QStringLiteral("new 2")),
                            bunmasLine(QStringLiteral("1"), QStringLiteral("0003"), QStringLiteral("new 3")),
                            bunmasLine(QStringLiteral("1"), QStringLiteral("0004"), QStringLiteral("new 4")),
                            bunmasLine(QStringLiteral("1"), QStringLiteral("0005"), QStringLiteral("new 5")),
                            bunmasLine(QStringLiteral("3"), QStringLiteral("0005"), QString()),
                            bunmasLine(QStringLiteral("1"), QStringLiteral("0001"), QStringLiteral("newer 1")),
                            bunmasLine(QStringLiteral("1"), QStringLiteral("0006"), QStringLiteral("new 6")),
                            bunmasLine(QStringLiteral("2"), QStringLiteral("0007"), QStringLiteral("new 7")),
                        }));

        Result<ImportSummary> summary = importMaster(master, {folder.dbPath(), folder.importDir()});
        ASSERT_OK(summary);
        EXPECT_EQ(summary->replaced, 8);
        EXPECT_EQ(summary->deleted, 1);

        // Rows the import wrote: the host file's values and NULL for the terminal ID; the filler is empty text (the
        // line ends before it) or NULL (no value for it), in rows rewritten and inserted alike.
        const std::optional<QString> filler = full ? std::optional<QString>(QString()) : std::nullopt;
        auto written = [&](const QString& code, const QString& name, const QString& flag = QStringLiteral("1")) {
            return bunmasRow(imported, code, name, filler, flag);
        };
        // In the order of contentOf: the terminal ID (NULL first), then the flag, then the code.
        std::vector<Row> expected = {
            written(QStringLiteral("0001"), QStringLiteral("newer 1")),
            written(QStringLiteral("0003"), QStringLiteral("new 3")),
            written(QStringLiteral("0004"), QStringLiteral("new 4")),
            written(QStringLiteral("0006"), QStringLiteral("new 6")),
            written(QStringLiteral("0002"), QStringLiteral("new 2"), QStringLiteral("2")),
            written(QStringLiteral("0007"), QStringLiteral("new 7"), QStringLiteral("2")),
            bunmasRow(terminal, QStringLiteral("0009"), QStringLiteral("kept")),
        };
        auto database = open(folder.dbPath());
        ASSERT_TRUE(database);
        EXPECT_EQ(contentOf(*database, bunmas()), expected);
    }
}

} // namespace
} // namespace kavelo::import
