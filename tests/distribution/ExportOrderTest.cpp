#include "distribution/MasterUpdate.h"

#include "masters/Masters.h"
#include "support/TestSupport.h"

namespace kavelo::test {
namespace {

// The export reads the rows through the (terminal, key) index, whose order (trailing blanks ignored) is binary
// order only while no key holds a character below U+0020; with one, the export sorts the rows itself.
TEST(ExportOrderTest, KeysWithControlCharactersStillComeInBinaryOrder)
{
    ProgramFolder folder;
    const auto& m = masters::storeMaster();
    const distribution::UpdateContext context{folder.dbPath(), exchange::FolderTree(folder.dataRoot(), folder.home())};
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
    }
}

} // namespace
} // namespace kavelo::test
