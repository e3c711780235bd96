#include "batch/RowInserter.h"

#include "support/MasterTables.h"
#include "support/TestSupport.h"

namespace kavelo::batch {
namespace {

using platform::Database;
using platform::quoteIdentifier;
using platform::Status;

// Records of a file, line N at index N - 1: the terminal ID, the code (characters 2-5) and the flag bound.
class Records final : public NewRows
{
  public:
    Records(QStringList lines, QString file)
        : m_lines(std::move(lines))
        , m_file(std::move(file))
    {
    }
    size_t count() const override { return size_t(m_lines.size()); }
    Status bind(platform::Statement& statement, size_t row, int base) override
    {
        const QString& line = m_lines[qsizetype(row)];
        statement.bind(base + 1, QStringLiteral("0007"));
        statement.bind(base + 2, QStringView(line).mid(1, 4));
        statement.bind(base + 3, QStringView(line).left(1));
        return Status::ok();
    }
    Status refused(size_t row, const QString& reason) const override
    {
        return Status::lineError(m_file, qint64(row) + 1, reason);
    }
    Status added(size_t) override { return Status::ok(); }

  private:
    QStringList m_lines;
    QString m_file;
};

// New rows go into the table sixteen to a statement, the rest one by one, in the order given. A statement that
// fails has stored none of its rows: they are added one by one again, so that the error names the refused row's
// file and line, and the transaction is the caller's to roll back.
TEST(RowInserter, RowsGoInSeveralToAStatementAndARefusedOneIsNamedByItsLine)
{
    test::ProgramFolder folder;
    test::MasterTables tables(folder.dbPath());
    tables.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON BUNMAS WHEN NEW.\"有効区分\" = 'X' "
                               "BEGIN SELECT RAISE(ABORT, 'refused by test'); END;"));
    const QString file = folder.path(QStringLiteral("BUNMAS.dat"));
    auto db = Database::openSqlite(folder.dbPath(), Database::OpenMode::ExistingOnly);
    ASSERT_OK(db);
    auto inserter = RowInserter::prepare(**db,
                                         quoteIdentifier(QStringLiteral("BUNMAS")),
                                         {quoteIdentifier(QStringLiteral("端末ID")),
                                          quoteIdentifier(QStringLiteral("分類コード")),
                                          quoteIdentifier(QStringLiteral("有効区分"))});
    ASSERT_OK(inserter);
    for (int refusedLine : {0, 25, 40}) {
        SCOPED_TRACE(refusedLine);
        QStringList lines;
        for (int line = 1; line <= 40; ++line) {
            lines << (line == refusedLine ? QStringLiteral("X") : QStringLiteral("1")) +
                         QStringLiteral("%1").arg(100 - line, 4, 10, QLatin1Char('0'));
        }
        auto transaction = platform::Transaction::begin(**db);
        ASSERT_OK(transaction);
        Records rows(lines, file);
        const Status added = (*inserter)->add(rows);
        if (refusedLine == 0) {
            ASSERT_OK(added);
            ASSERT_OK((*transaction)->commit());
            std::vector<QStringList> stored =
                tables.rows(QStringLiteral("BUNMAS"), {QStringLiteral("分類コード")}, QStringLiteral("0007"));
            ASSERT_EQ(stored.size(), 40u);
            EXPECT_EQ(stored.front(), QStringList{QStringLiteral("0099")});
            EXPECT_EQ(stored.back(), QStringList{QStringLiteral("0060")});
            tables.exec(QStringLiteral("DELETE FROM BUNMAS"));
            continue;
        }
        ASSERT_FALSE(added.isOk());
        EXPECT_EQ(added.file(), file);
        EXPECT_EQ(added.line(), refusedLine);
        EXPECT_TRUE(added.reason().contains(QStringLiteral("refused by test"))) << added.message().toStdString();
        transaction->reset(); // rolled back
        EXPECT_EQ(tables.count(QStringLiteral("BUNMAS"), QStringLiteral("0007")), 0);
    }
}

} // namespace
} // namespace kavelo::batch
