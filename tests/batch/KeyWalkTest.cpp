#include "batch/KeyWalk.h"

#include "support/MasterTables.h"
#include "support/TestSupport.h"

namespace kavelo::batch {
namespace {

using platform::Database;

const QString kT7 = QStringLiteral("0007");

// The rows of a batch's keys are found by walking the terminal's keys in order, searching again for a key far
// ahead: keys before, between, after and far apart from the stored ones, a key stored twice with different trailing
// blanks, and a key stored for another terminal only, each find what a search of that one key finds, in index
// order.
TEST(KeyWalk, WalkingTheKeysFindsWhatSearchingFinds)
{
    test::ProgramFolder folder;
    test::MasterTables tables(folder.dbPath());
    // Every other code from 0000 to 0398 (rowids 1 to 200), a second 0060 padded with blanks, and 0007 of
    // terminal 0003.
    tables.exec(QStringLiteral("INSERT INTO BUNMAS (\"端末ID\", \"分類コード\") "
                               "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 199) "
                               "SELECT '0007', printf('%04d', i * 2) FROM n"));
    tables.insert(QStringLiteral("BUNMAS"), kT7, {{QStringLiteral("分類コード"), QStringLiteral("0060  ")}});
    tables.insert(
        QStringLiteral("BUNMAS"), QStringLiteral("0003"), {{QStringLiteral("分類コード"), QStringLiteral("0007")}});

    auto db = Database::openSqlite(folder.dbPath(), Database::OpenMode::ExistingOnly);
    ASSERT_OK(db);
    auto walkStatement = (*db)->prepare(QStringLiteral(
        "SELECT \"分類コード\", rowid FROM BUNMAS WHERE \"端末ID\" = ?1 AND \"分類コード\" >= ?2 COLLATE RTRIM "
        "ORDER BY \"分類コード\" COLLATE RTRIM"));
    ASSERT_OK(walkStatement);
    auto search = (*db)->prepare(QStringLiteral(
        "SELECT rowid, \"分類コード\" = ?2 FROM BUNMAS WHERE \"端末ID\" = ?1 AND \"分類コード\" = ?2 COLLATE RTRIM "
        "ORDER BY \"分類コード\" COLLATE RTRIM, rowid"));
    ASSERT_OK(search);

    KeyWalk walk(**walkStatement, kT7);
    int found = 0;
    for (int code : {0, 1, 3, 5, 7, 8, 9, 10, 60, 61, 62, 120, 150, 200, 398, 400, 402, 999, 9998}) {
        const QByteArray key = QByteArray::number(code).rightJustified(4, '0');
        SCOPED_TRACE(key.toStdString());
        std::vector<KeyWalk::Entry> entries;
        auto walked = walk.find(std::string_view(key.constData(), size_t(key.size())), key, entries);
        ASSERT_OK(walked);
        ASSERT_EQ(*walked, entries.size());

        std::vector<std::pair<qint64, bool>> expected;
        (*search)->bind(1, kT7);
        (*search)->bindUtf8(2, key);
        for (auto row = (*search)->step(); row.isOk() && *row; row = (*search)->step()) {
            expected.emplace_back((*search)->integer(0), (*search)->integer(1) != 0);
        }
        (*search)->reset();
        ASSERT_EQ(entries.size(), expected.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].rowid, expected[i].first);
            EXPECT_EQ(entries[i].exact, expected[i].second);
        }
        found += static_cast<int>(entries.size());
    }
    walk.finish();
    // 0000, 0008, 0010, 0060 twice, 0062, 0120, 0150, 0200, 0398.
    EXPECT_EQ(found, 10);
}

} // namespace
} // namespace kavelo::batch
