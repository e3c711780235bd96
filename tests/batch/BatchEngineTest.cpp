// The batch engine on its own: lines held, sorted by key and handed over a batch at a time.

#include "batch/BatchUser.h"

#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <map>
#include <string>

namespace kavelo::batch {
namespace {

using platform::Status;
using test::record;

// A user as plain as the engine allows: the key is positions 2 to 7 of the line as cut (a short line gives a key
// without its trailing blanks), an empty line is passed over, and the last line of each key is the one kept.
class LastLineWins final : public BatchUser
{
  public:
    std::optional<Admitted> admit(QStringView line) override
    {
        if (line.isEmpty()) {
            return std::nullopt;
        }
        return Admitted{line.mid(1, 6)};
    }

    Status apply(LineBatch& batch) override
    {
        batch.sortByKey();
        ++batches;
        std::string previous;
        for (size_t first = 0; first < batch.size();) {
            const size_t end = batch.keyEnd(first);
            const std::string key(batch.comparedKey(first));
            EXPECT_TRUE(first == 0 || previous < key) << key; // the runs come in key order
            previous = key;
            for (size_t line = first + 1; line < end; ++line) {
                EXPECT_EQ(batch.comparedKey(line), key);
                EXPECT_LT(batch.lineNumber(line - 1), batch.lineNumber(line)); // a key's lines in file order
            }
            const std::optional<QStringView> last = batch.text(end - 1);
            EXPECT_TRUE(last.has_value());
            kept[key] = last ? last->toString() : QString();
            first = end;
        }
        return Status::ok();
    }

    std::map<std::string, QString> kept;
    int batches = 0;
};

class BatchEngineTest : public ::testing::Test
{
  protected:
    Status applyAll(LastLineWins& user,
                    qsizetype capacity,
                    const std::stop_token& stop = {},
                    const std::function<void()>& applied = {})
    {
        auto reader = platform::ShiftJisLineReader::open(path);
        EXPECT_OK(reader);
        if (!reader.isOk()) {
            return reader.status();
        }
        LineBatch batch(capacity);
        return applyInBatches(**reader, batch, user, stop, applied);
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lines.dat"));
    // Repeated keys, a key on a short line and in a full record ("CD" and "CD    "), and an empty line.
    const QStringList lines = {
        record({{"1", 1}, {"X", 6}, {"x first", 20}}),
        "1CD",
        record({{"1", 1}, {"AB", 6}, {"ab", 20}}),
        "",
        record({{"2", 1}, {"X", 6}, {"x second", 20}}),
        "1X",
        record({{"1", 1}, {"Y", 6}, {"y", 20}}),
        record({{"1", 1}, {"A", 6}, {"a", 20}}),
        record({{"3", 1}, {"X", 6}, {"x last", 20}}),
        record({{"1", 1}, {"CD", 6}, {"cd", 20}}),
        "1Y",
    };
};

// A batch of one line (a capacity of one byte), of a few, and of the whole file: each keeps the line of each key
// that applying the lines one by one in file order keeps.
TEST_F(BatchEngineTest, BatchesOfOneOfAFewAndOfTheWholeFileKeepWhatLineByLineKeeps)
{
    test::writeFile(path, test::sjisLines(lines));
    const std::map<std::string, QString> lineByLine = {
        {"A", lines[7]}, {"AB", lines[2]}, {"CD", lines[9]}, {"X", lines[8]}, {"Y", lines[10]}};
    for (qsizetype capacity : {qsizetype(1), qsizetype(60), qsizetype(24) * 1024 * 1024}) {
        SCOPED_TRACE(capacity);
        LastLineWins user;
        ASSERT_OK(applyAll(user, capacity));
        EXPECT_EQ(user.kept, lineByLine);
        if (capacity == 1) {
            EXPECT_EQ(user.batches, 10); // every line but the empty one
        } else if (capacity == 60) {
            EXPECT_GT(user.batches, 1);
            EXPECT_LT(user.batches, 10);
        } else {
            EXPECT_EQ(user.batches, 1);
        }
    }
}

// Asked to stop, the engine reads no further line: the batches applied so far are the caller's to roll back.
TEST_F(BatchEngineTest, AStopEndsTheFileBeforeItsNextLine)
{
    test::writeFile(path, test::sjisLines(lines));
    std::stop_source stop;
    LastLineWins user;
    const Status stopped = applyAll(user, 1, stop.get_token(), [&stop] { stop.request_stop(); });
    ASSERT_FALSE(stopped.isOk());
    EXPECT_EQ(stopped.message(), path + QStringLiteral(": the program is ending; nothing of this file is stored"));
    EXPECT_EQ(user.batches, 1);
}

} // namespace
} // namespace kavelo::batch
