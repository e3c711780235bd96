#include "platform/FileOps.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kavelo::platform {
namespace {

using test::readFile;
using test::writeFile;

class FileOpsTest : public ::testing::Test
{
  protected:
    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    void makeReadOnly(const QString& file) const
    {
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }

    FileOps& files = FileOps::real();
    QTemporaryDir m_dir;
};

TEST_F(FileOpsTest, CopyOverwritesAndLeavesTheSource)
{
    writeFile(path("a"), "new");
    writeFile(path("b"), "old content");
    ASSERT_OK(files.copy(path("a"), path("b")));
    EXPECT_EQ(readFile(path("b")), QByteArray("new"));
    EXPECT_EQ(readFile(path("a")), QByteArray("new"));
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("a"), QStringLiteral("b")})); // no temporary left
}

TEST_F(FileOpsTest, FailingCopyLeavesTheTargetAsItWas)
{
    writeFile(path("b"), "old");
    Status missingSource = files.copy(path("missing"), path("b"));
    ASSERT_FALSE(missingSource.isOk());
    EXPECT_TRUE(missingSource.message().contains(path("missing")));
    EXPECT_EQ(readFile(path("b")), QByteArray("old"));

    writeFile(path("a"), "new");
    Status missingFolder = files.copy(path("a"), path("nofolder/b"));
    ASSERT_FALSE(missingFolder.isOk());
    EXPECT_TRUE(missingFolder.message().contains(path("nofolder/b"))) << missingFolder.message().toStdString();
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST_F(FileOpsTest, ReadOnlyFilesAreNotForced)
{
    writeFile(path("ro"), "keep");
    makeReadOnly(path("ro"));
    Status removed = files.remove(path("ro"));
    ASSERT_FALSE(removed.isOk());
    EXPECT_TRUE(removed.message().contains(QStringLiteral("read-only")));
    writeFile(path("a"), "new");
    EXPECT_FALSE(files.copy(path("a"), path("ro")).isOk());
    EXPECT_TRUE(files.exists(path("ro")));
    QFile ro(path("ro"));
    ASSERT_TRUE(ro.open(QIODevice::ReadOnly));
    EXPECT_EQ(ro.readAll(), QByteArray("keep"));
}

TEST_F(FileOpsTest, MoveRefusesAnExistingTargetAndMissingSource)
{
    writeFile(path("a"), "A");
    writeFile(path("b"), "B");
    EXPECT_FALSE(files.move(path("a"), path("b")).isOk());
    EXPECT_EQ(readFile(path("b")), QByteArray("B"));
    ASSERT_OK(files.remove(path("b")));
    ASSERT_OK(files.move(path("a"), path("b")));
    EXPECT_FALSE(files.exists(path("a")));
    EXPECT_EQ(readFile(path("b")), QByteArray("A"));
    EXPECT_FALSE(files.move(path("a"), path("c")).isOk());
}

TEST_F(FileOpsTest, ExistsIsFalseForFolders)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("sub"));
    EXPECT_FALSE(files.exists(path("sub")));
    EXPECT_FALSE(files.exists(path("none")));
}

TEST_F(FileOpsTest, ANewFileIsVisibleOnlyOnceCommittedAndGoneIfNot)
{
    writeFile(path("S_HACH.dat"), "previous");
    Result<std::unique_ptr<NewFile>> upload = files.create(m_dir.path(), QStringLiteral(".kavelo-upload-XXXXXX"));
    ASSERT_OK(upload);
    ASSERT_OK((*upload)->write("new "));
    ASSERT_OK((*upload)->write("order"));
    EXPECT_EQ(readFile(path("S_HACH.dat")), QByteArray("previous"));
    ASSERT_OK((*upload)->commit(path("S_HACH.dat")));
    EXPECT_EQ(readFile(path("S_HACH.dat")), QByteArray("new order"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("S_HACH.dat")});

    Result<std::unique_ptr<NewFile>> abandoned = files.create(m_dir.path(), QStringLiteral(".kavelo-upload-XXXXXX"));
    ASSERT_OK(abandoned);
    ASSERT_OK((*abandoned)->write("half"));
    abandoned->reset();
    EXPECT_EQ(entries(), QStringList{QStringLiteral("S_HACH.dat")});

    Result<std::unique_ptr<NewFile>> noFolder = files.create(path("missing"), QStringLiteral(".kavelo-upload-XXXXXX"));
    ASSERT_FALSE(noFolder.isOk());
    EXPECT_TRUE(noFolder.status().message().contains(path("missing")));
}

} // namespace
} // namespace kavelo::platform
