#include "platform/Database.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace kavelo::platform {
namespace {

class DatabaseTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        auto db = Database::openSqlite(QDir(m_dir.path()).filePath(QStringLiteral("t.db")),
                                       Database::OpenMode::CreateIfMissing);
        ASSERT_OK(db);
        m_db = std::move(*db);
        ASSERT_OK(m_db->exec(QStringLiteral("CREATE TABLE t (\"端末ID\" TEXT, \"商品コード\" TEXT)")));
    }

    void insert(const QString& terminal, const QString& code)
    {
        auto stmt = m_db->prepare(QStringLiteral("INSERT INTO t VALUES (?1, ?2)"));
        ASSERT_OK(stmt);
        (*stmt)->bind(1, terminal);
        (*stmt)->bind(2, code);
        ASSERT_OK((*stmt)->step());
    }

    qint64 count(const QString& where = QStringLiteral("1"))
    {
        auto stmt = m_db->prepare(QStringLiteral("SELECT count(*) FROM t WHERE ") + where);
        EXPECT_TRUE(stmt.isOk());
        EXPECT_TRUE((*stmt)->step().isOk());
        return (*stmt)->integer(0);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_db;
};

TEST_F(DatabaseTest, ValuesAreBoundNotJoined)
{
    insert(QStringLiteral("0001"), QStringLiteral("O'Reilly'); DROP TABLE t; --"));
    insert(QStringLiteral("0001"), QStringLiteral(""));
    auto stmt = m_db->prepare(QStringLiteral("SELECT \"商品コード\", \"商品コード\" IS NULL FROM t ORDER BY rowid"));
    ASSERT_OK(stmt);
    ASSERT_TRUE(*(*stmt)->step());
    EXPECT_EQ((*stmt)->text(0), QStringLiteral("O'Reilly'); DROP TABLE t; --"));
    ASSERT_TRUE(*(*stmt)->step());
    EXPECT_EQ((*stmt)->text(0), QStringLiteral(""));
    EXPECT_EQ((*stmt)->integer(1), 0); // empty text is not NULL
}

// Text is bound through a buffer per parameter that grows with it, ASCII many units at a time: values of every
// length, with another character anywhere, must come back as bound through one reused statement.
TEST_F(DatabaseTest, BoundTextOfAnyLengthAndMixComesBackAsBound)
{
    auto stmt = m_db->prepare(QStringLiteral("INSERT INTO t VALUES (?1, ?2)"));
    ASSERT_OK(stmt);
    QStringList values;
    for (int length = 0; length <= 40; length += 3) {
        for (const QString& other : {QString(), QStringLiteral("é"), QStringLiteral("商"), QStringLiteral("😀")}) {
            for (int place = 0; place <= length; place += other.isEmpty() ? length + 1 : 5) {
                QString value;
                for (int i = 0; i < length; ++i) {
                    value += QChar(u'!' + (i * 11) % 94);
                }
                value.insert(place, other);
                values << value;
                (*stmt)->bind(1, QString::number(values.size()));
                (*stmt)->bind(2, value);
                ASSERT_OK((*stmt)->step());
                (*stmt)->reset();
            }
        }
    }
    auto read = m_db->prepare(QStringLiteral("SELECT \"商品コード\" FROM t ORDER BY rowid"));
    ASSERT_OK(read);
    for (const QString& value : values) {
        ASSERT_TRUE(*(*read)->step());
        EXPECT_EQ((*read)->text(0), value);
    }
}

TEST_F(DatabaseTest, RtrimCollationIgnoresTrailingBlanksOnly)
{
    insert(QStringLiteral("0001"), QStringLiteral("12345678     "));
    EXPECT_EQ(count(QStringLiteral("\"商品コード\" = '12345678' COLLATE RTRIM")), 1);
    EXPECT_EQ(count(QStringLiteral("\"商品コード\" = ' 12345678' COLLATE RTRIM")), 0);
    EXPECT_EQ(count(QStringLiteral("\"商品コード\" = '12345678' COLLATE BINARY")), 0);
}

TEST_F(DatabaseTest, TransactionRollsBackUnlessCommitted)
{
    {
        auto tx = Transaction::begin(*m_db);
        ASSERT_OK(tx);
        insert(QStringLiteral("0001"), QStringLiteral("A"));
    }
    EXPECT_EQ(count(), 0);
    EXPECT_FALSE(m_db->inTransaction());
    auto tx = Transaction::begin(*m_db);
    ASSERT_OK(tx);
    EXPECT_TRUE(m_db->inTransaction());
    insert(QStringLiteral("0001"), QStringLiteral("A"));
    ASSERT_OK((*tx)->commit());
    EXPECT_FALSE(m_db->inTransaction());
    EXPECT_EQ(count(), 1);
}

TEST_F(DatabaseTest, MissingOrForeignFilesAreClearErrors)
{
    const QString missing = QDir(m_dir.path()).filePath(QStringLiteral("none.db"));
    auto notFound = Database::openSqlite(missing, Database::OpenMode::ExistingOnly);
    ASSERT_FALSE(notFound.isOk());
    EXPECT_TRUE(notFound.status().message().contains(missing));
    EXPECT_FALSE(QFile::exists(missing));

    const QString junk = QDir(m_dir.path()).filePath(QStringLiteral("junk.db"));
    test::writeFile(junk, QByteArray(4096, 'x'));
    auto notADatabase = Database::openSqlite(junk, Database::OpenMode::ExistingOnly);
    ASSERT_FALSE(notADatabase.isOk());
    EXPECT_TRUE(notADatabase.status().message().contains(junk)) << notADatabase.status().message().toStdString();

    // A server's URI is no file: refused without being named (it may carry a password), and nothing is created.
    auto uri = Database::openSqlite(QStringLiteral("postgresql://store12:s3cret@db/kavelo"),
                                    Database::OpenMode::CreateIfMissing);
    ASSERT_FALSE(uri.isOk());
    EXPECT_TRUE(uri.status().message().contains(QStringLiteral("PostgreSQL URI")))
        << uri.status().message().toStdString();
    EXPECT_FALSE(uri.status().message().contains(QStringLiteral("s3cret")));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("postgresql:")));
}

TEST(QuoteIdentifier, DoublesEmbeddedQuotes)
{
    EXPECT_EQ(quoteIdentifier(u"端末ID"), QStringLiteral("\"端末ID\""));
    EXPECT_EQ(quoteIdentifier(u"a\"b"), QStringLiteral("\"a\"\"b\""));
}

// csv_line joins a row's values for an export line: blanks dropped only where asked and only U+0020, NULL as an
// empty field, numbers as their text, and the text read without a copy comes out whole (not cut at a NUL).
TEST_F(DatabaseTest, CsvLineJoinsValuesTrimmingOnlyWhereAsked)
{
    ASSERT_OK(m_db->exec(QStringLiteral("CREATE TABLE v (a, b, c, d, e)")));
    auto insertRow = m_db->prepare(QStringLiteral("INSERT INTO v VALUES (?1, ?2, NULL, 42, ?3)"));
    ASSERT_OK(insertRow);
    (*insertRow)->bind(1, u"  漢字 ");
    (*insertRow)->bind(2, u" x\t ");
    (*insertRow)->bind(3, u"   ");
    ASSERT_OK((*insertRow)->step());

    constexpr CsvForm kT = CsvForm::Trimmed;
    constexpr CsvForm kS = CsvForm::AsStored;
    struct Case
    {
        std::vector<CsvForm> forms;
        const char* expected;
    };
    for (const Case& c : {Case{{kT, kT, kT, kT, kT}, "漢字,x\t,,42,"},
                          Case{{kS, kS, kS, kS, kS}, "  漢字 , x\t ,,42,   "},
                          Case{{kT, kS}, "漢字, x\t ,,42,   "},
                          Case{{}, "  漢字 , x\t ,,42,   "}}) {
        SCOPED_TRACE(c.expected);
        ASSERT_OK(m_db->defineCsvLine(QStringLiteral("csv_line"), c.forms));
        auto line = m_db->prepare(QStringLiteral("SELECT csv_line(a, b, c, d, e) FROM v"));
        ASSERT_OK(line);
        Result<bool> row = (*line)->step();
        ASSERT_TRUE(row.isOk() && *row);
        EXPECT_EQ((*line)->text(0), QString::fromUtf8(c.expected));
        EXPECT_EQ(QString::fromUtf8((*line)->utf8(0)), QString::fromUtf8(c.expected));
    }
}

} // namespace
} // namespace kavelo::platform
