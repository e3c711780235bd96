#include "platform/PinnedFile.h"

#include "platform/FileOps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <thread>
#include <vector>

namespace kavelo::platform {
namespace {

TEST(PinnedFileTest, KeepsTheBytesItOpenedAfterItsNameIsReplaced)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("SHOMAS.csv"));
    test::writeFile(path, "staged for terminal 3");
    Result<std::shared_ptr<const PinnedFile>> pinned = PinnedFile::open(path);
    ASSERT_OK(pinned);
    test::writeFile(path + QStringLiteral(".new"), "another terminal's");
    ASSERT_OK(FileOps::real().replace(path + QStringLiteral(".new"), path));

    EXPECT_EQ((*pinned)->size(), 21);
    EXPECT_EQ(*(*pinned)->read(0, 100), QByteArray("staged for terminal 3"));
    EXPECT_EQ(*(*pinned)->read(7, 3), QByteArray("for"));
    EXPECT_EQ(*(*pinned)->read(21, 10), QByteArray());
    EXPECT_EQ(*(*pinned)->read(500, 10), QByteArray());
}

TEST(PinnedFileTest, ReadersOnSeveralThreadsEachGetTheirOwnOffsets)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("big"));
    QByteArray content(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7 % 251);
    }
    test::writeFile(path, content);
    std::shared_ptr<const PinnedFile> file = *PinnedFile::open(path);
    std::vector<QByteArray> read(4);
    std::vector<std::thread> readers;
    for (size_t r = 0; r < read.size(); ++r) {
        readers.emplace_back([&, r] {
            for (qint64 offset = 0; offset < content.size(); offset += 4093) {
                read[r] += *file->read(offset, 4093);
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    for (const QByteArray& bytes : read) {
        EXPECT_TRUE(bytes == content);
    }
}

TEST(PinnedFileTest, AMissingFileNamesItsPath)
{
    Result<std::shared_ptr<const PinnedFile>> pinned = PinnedFile::open(QStringLiteral("/nonexistent/x.csv"));
    ASSERT_FALSE(pinned.isOk());
    EXPECT_TRUE(pinned.status().message().startsWith(QStringLiteral("/nonexistent/x.csv: cannot read: No such file")));
}

} // namespace
} // namespace kavelo::platform
