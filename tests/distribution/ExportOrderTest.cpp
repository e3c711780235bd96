#include "distribution/MasterUpdate.h"

#include "masters/Masters.h"

#include <QDir>
#include "support/TestDatabase.h"
#include "support/TestSupport.h"

namespace kavelo::test {
namespace {

class ExportOrderTest : public BackendTest
{
};

INSTANTIATE_TEST_SUITE_P(, ExportOrderTest, kBothBackends, backendName);

// On SQLite, the export reads the rows through the (terminal, key) index, whose order (trailing blanks ignored) is
// binary order only while no key holds a character below U+0020; with one, the export sorts the rows itself.
TEST_P(ExportOrderTest, KeysWithControlCharactersStillComeInBinaryOrder)
{
    ProgramFolder folder;
    const std::unique_ptr<TestDatabase> tables = TestDatabase::make(GetParam(), folder.dbPath());
    ASSERT_TRUE(tables->ready());
    const auto& m = masters::storeMaster();
    const distribution::UpdateContext context{tables->location(),
                                              exchange::FolderTree(folder.dataRoot(), folder.home())};
    const QString updatePath = folder.rcv(7) + m.updateFileName();
    const QString exportPath = folder.rcv(7) + m.exportFileName();
    auto codes = [&] {
        QStringList out;
        for (const QString& line : readSjisLines(exportPath)) {
            out << line.section(u',', 0, 0);
        }
        return out;
    };

    struct Case
    {
        const char* name;
        QStringList keys;
        QStringList expected;
    };
    const Case cases[] = {
        {"blanks only", {"A!", "A", "B", "A "}, {"A", "A!", "B"}},
        // "A\t" sorts before "A" (stored "A  ") in binary order, after it with the blanks ignored.
        {"a tab", {"A!", "A\t", "A", "B"}, {"A\t", "A", "A!", "B"}},
    };
    const int terminal = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList lines;
        for (const QString& key : c.keys) {
            lines << record({{"1", 1}, {key, 3}, {"x", 15}});
        }
        writeFile(updatePath, sjisLines(lines));
        ASSERT_OK(distribution::UpdateTENMAS(context, terminal));
        EXPECT_EQ(codes(), c.expected);
        // Started again with the sort: the first attempt's temporary file is gone.
        EXPECT_EQ(QDir(folder.rcv(7)).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                  QStringList({m.exportFileName(), m.updateFileName()}));
    }
}

// An update never stores two keys of one terminal that differ only in trailing blanks (it finds the first one's
// row), but an older database (or another program) may hold them; the export still gives them in binary order, then
// in the order they were added.
TEST_P(ExportOrderTest, KeysDifferingOnlyInTrailingBlanksComeInBinaryOrder)
{
    ProgramFolder folder;
    const std::unique_ptr<TestDatabase> tables = TestDatabase::make(GetParam(), folder.dbPath());
    ASSERT_TRUE(tables->ready());
    const auto& m = masters::storeMaster();
    const distribution::UpdateContext context{tables->location(),
                                              exchange::FolderTree(folder.dataRoot(), folder.home())};
    for (auto [key, name] : {std::pair{"A  ", "two"},
                             std::pair{"A", "none"},
                             std::pair{"A ", "one"},
                             std::pair{"A", "none again"},
                             std::pair{"B", "b"},
                             std::pair{"0", "zero"}}) {
        tables->insert(m.name, QStringLiteral("0007"), {{"店舗コード", key}, {"店舗名漢字", name}});
    }
    tables->insert(m.name, QStringLiteral("0003"), {{"店舗コード", "A "}, {"店舗名漢字", "other terminal"}});
    writeFile(folder.rcv(7) + m.updateFileName(), sjisLines({record({{"1", 1}, {"C", 3}, {"c", 15}})}));
    ASSERT_OK(distribution::UpdateTENMAS(context, 7));
    QStringList names;
    for (const QString& line : readSjisLines(folder.rcv(7) + m.exportFileName())) {
        names << line.section(u',', 1, 1);
    }
    EXPECT_EQ(names, QStringList({"zero", "none", "none again", "one", "two", "b", "c"}));
}

} // namespace
} // namespace kavelo::test
