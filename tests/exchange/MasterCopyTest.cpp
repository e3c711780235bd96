#include "exchange/FileDelete.h"
#include "exchange/MasterCopy.h"

#include "support/InjectedFileOps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

using kavelo::exchange::FileDelete;
using kavelo::exchange::FolderTree;
using kavelo::exchange::MasterCopy;
using kavelo::exchange::StagingResult;
using kavelo::test::InjectedFileOps;
using kavelo::test::readFile;
using kavelo::test::writeFile;

namespace {

const QStringList kAllExports = {QStringLiteral("BUNMAS.csv"),
                                 QStringLiteral("TENMAS.csv"),
                                 QStringLiteral("SIRMAS.csv"),
                                 QStringLiteral("TOKMAS.csv"),
                                 QStringLiteral("SHOMAS.csv"),
                                 QStringLiteral("JISYA.csv")};

class StagingTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        root = QDir(dir.path()).absolutePath();
        QDir().mkpath(root + QStringLiteral("/prog"));
        QDir().mkpath(rcv(QStringLiteral("0001")));
        QDir().mkpath(rcv(QStringLiteral("0002")));
    }

    QString prog(const QString& name) const { return root + QStringLiteral("/prog/") + name; }
    QString rcv(const QString& id) const { return root + QStringLiteral("/HT/") + id + QStringLiteral("/rcv/"); }

    QTemporaryDir dir;
    QString root;
    FolderTree tree{QDir(dir.path()).absolutePath() + QStringLiteral("/HT/"),
                    QDir(dir.path()).absolutePath() + QStringLiteral("/prog")};
};

TEST_F(StagingTest, StagesEveryExportInMasterOrderAndKeepsSources)
{
    for (const QString& name : kAllExports) {
        writeFile(rcv(QStringLiteral("0001")) + name, "new " + name.toLatin1());
        writeFile(prog(name), "older staging");
    }
    StagingResult result = MasterCopy(tree, 1);
    ASSERT_OK(result.status);
    EXPECT_EQ(result.staged, kAllExports);
    for (const QString& name : kAllExports) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(readFile(prog(name)), "new " + name.toLatin1());
        EXPECT_EQ(readFile(rcv(QStringLiteral("0001")) + name), "new " + name.toLatin1());
    }
    // Staged again, unchanged, at the next control file.
    StagingResult again = MasterCopy(tree, 1);
    ASSERT_OK(again.status);
    EXPECT_EQ(again.staged, kAllExports);
}

TEST_F(StagingTest, OnlyWaitingMastersAreStagedAndStaleOnesStay)
{
    // Terminal 1 staged everything earlier; terminal 2 offers only its customer master.
    for (const QString& name : kAllExports) {
        writeFile(prog(name), "terminal 1");
    }
    writeFile(rcv(QStringLiteral("0002")) + QStringLiteral("TOKMAS.csv"), "terminal 2");
    StagingResult result = MasterCopy(tree, 2);
    ASSERT_OK(result.status);
    EXPECT_EQ(result.staged, QStringList{QStringLiteral("TOKMAS.csv")});
    for (const QString& name : kAllExports) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(readFile(prog(name)), name == QLatin1String("TOKMAS.csv") ? "terminal 2" : "terminal 1");
    }
}

TEST_F(StagingTest, MissingReceiveFolderStagesNothingWithoutError)
{
    StagingResult result = MasterCopy(tree, 12345);
    ASSERT_OK(result.status);
    EXPECT_TRUE(result.staged.isEmpty());
}

TEST_F(StagingTest, FirstFailingCopyEndsStagingWithWhatWasStaged)
{
    for (const QString& name : kAllExports) {
        writeFile(rcv(QStringLiteral("0001")) + name, "new");
    }
    InjectedFileOps files;
    files.failOn(InjectedFileOps::Op::Copy, QStringLiteral("/prog/SIRMAS.csv"));
    StagingResult result = MasterCopy(tree, 1, files);
    ASSERT_FALSE(result.status.isOk());
    EXPECT_TRUE(result.status.message().contains(prog(QStringLiteral("SIRMAS.csv"))))
        << result.status.message().toStdString();
    EXPECT_EQ(result.staged, (QStringList{QStringLiteral("BUNMAS.csv"), QStringLiteral("TENMAS.csv")}));
    EXPECT_FALSE(QFile::exists(prog(QStringLiteral("TOKMAS.csv"))));
}

TEST_F(StagingTest, FileDeleteRemovesOnlyPlainNamesThatArePresent)
{
    writeFile(prog(QStringLiteral("OTHER.dat")), "x");
    ASSERT_OK(FileDelete(tree, QStringLiteral("OTHER.dat")));
    EXPECT_FALSE(QFile::exists(prog(QStringLiteral("OTHER.dat"))));
    // Absent: nothing to do, no error.
    ASSERT_OK(FileDelete(tree, QStringLiteral("OTHER.dat")));

    writeFile(prog(QStringLiteral("LOCKED.dat")), "x");
    QFile::setPermissions(prog(QStringLiteral("LOCKED.dat")), QFileDevice::ReadOwner);
    EXPECT_FALSE(FileDelete(tree, QStringLiteral("LOCKED.dat")).isOk());
    EXPECT_TRUE(QFile::exists(prog(QStringLiteral("LOCKED.dat"))));

    writeFile(root + QStringLiteral("/KEEP.dat"), "outside");
    for (const QString& name :
         {QStringLiteral("../KEEP.dat"), QStringLiteral("..\\KEEP.dat"), QStringLiteral(".."), QString()}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(FileDelete(tree, name).isOk());
    }
    EXPECT_TRUE(QFile::exists(root + QStringLiteral("/KEEP.dat")));
}

} // namespace
