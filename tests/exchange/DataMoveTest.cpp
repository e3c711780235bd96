#include "exchange/DataMove.h"

#include "support/InjectedFileOps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

using kavelo::exchange::Clock;
using kavelo::exchange::DataMove;
using kavelo::exchange::FolderTree;
using kavelo::test::InjectedFileOps;
using kavelo::test::readFile;
using kavelo::test::writeFile;

namespace {

const QString kOrder = QStringLiteral("S_HACH.dat");

Clock fixedClock(int year, int month, int day, int hour, int minute, int second)
{
    return [=] { return QDateTime(QDate(year, month, day), QTime(hour, minute, second)); };
}

class DataMoveTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        root = QDir(dir.path()).absolutePath();
        QDir().mkpath(root + QStringLiteral("/prog"));
        for (const char* id : {"0007", "0012", "12345"}) {
            QDir().mkpath(root + QStringLiteral("/HT/%1/snd").arg(QLatin1String(id)));
            QDir().mkpath(root + QStringLiteral("/HT/backup/%1/snd").arg(QLatin1String(id)));
        }
    }

    QString prog(const QString& name) const { return root + QStringLiteral("/prog/") + name; }
    QString ht(const QString& relative) const { return root + QStringLiteral("/HT/") + relative; }

    QTemporaryDir dir;
    QString root;
    FolderTree tree{QDir(dir.path()).absolutePath() + QStringLiteral("/HT/"),
                    QDir(dir.path()).absolutePath() + QStringLiteral("/prog")};
};

TEST_F(DataMoveTest, CopiesToSendFolderAndMovesIntoBackupUnderTimeStamp)
{
    struct Case
    {
        qint64 terminal;
        QString id;
        QString name;
    };
    for (const Case& c : {Case{7, QStringLiteral("0007"), kOrder},
                          Case{12, QStringLiteral("0012"), kOrder},
                          Case{12345, QStringLiteral("12345"), QStringLiteral("S_TANA.dat")}}) {
        SCOPED_TRACE(c.id.toStdString());
        const QByteArray content = "upload of " + c.id.toLatin1() + "\r\n";
        writeFile(prog(c.name), content);
        ASSERT_OK(
            DataMove(tree, c.terminal, c.name, kavelo::platform::FileOps::real(), fixedClock(2026, 12, 7, 13, 10, 57)));
        EXPECT_EQ(readFile(ht(c.id + QStringLiteral("/snd/") + c.name)), content);
        EXPECT_EQ(readFile(ht(QStringLiteral("backup/") + c.id + QStringLiteral("/snd/20261207131057_") + c.name)),
                  content);
        EXPECT_FALSE(QFile::exists(prog(c.name)));
    }
}

TEST_F(DataMoveTest, LaterUploadReplacesSendCopyAndEarlierSurvivesOnlyInBackup)
{
    writeFile(prog(kOrder), "first");
    ASSERT_OK(DataMove(tree, 7, kOrder, kavelo::platform::FileOps::real(), fixedClock(2026, 1, 2, 3, 4, 5)));
    writeFile(prog(kOrder), "second");
    ASSERT_OK(DataMove(tree, 7, kOrder, kavelo::platform::FileOps::real(), fixedClock(2026, 1, 2, 3, 4, 6)));
    EXPECT_EQ(readFile(ht(QStringLiteral("0007/snd/S_HACH.dat"))), "second");
    EXPECT_EQ(readFile(ht(QStringLiteral("backup/0007/snd/20260102030405_S_HACH.dat"))), "first");
    EXPECT_EQ(readFile(ht(QStringLiteral("backup/0007/snd/20260102030406_S_HACH.dat"))), "second");
}

TEST_F(DataMoveTest, SameSecondUploadReplacesEarlierBackup)
{
    const Clock sameSecond = fixedClock(2026, 12, 7, 23, 59, 59);
    writeFile(prog(kOrder), "earlier");
    ASSERT_OK(DataMove(tree, 7, kOrder, kavelo::platform::FileOps::real(), sameSecond));
    writeFile(prog(kOrder), "later");
    ASSERT_OK(DataMove(tree, 7, kOrder, kavelo::platform::FileOps::real(), sameSecond));
    EXPECT_EQ(readFile(ht(QStringLiteral("backup/0007/snd/20261207235959_S_HACH.dat"))), "later");
    EXPECT_EQ(QDir(ht(QStringLiteral("backup/0007/snd"))).entryList(QDir::Files).size(), 1);
}

TEST_F(DataMoveTest, DataRootWithoutSeparatorRunsIntoTerminalId)
{
    const FolderTree bare(root + QStringLiteral("/HT"), root + QStringLiteral("/prog"));
    writeFile(prog(kOrder), "data");
    kavelo::platform::Status missing = DataMove(bare, 7, kOrder);
    ASSERT_FALSE(missing.isOk());
    EXPECT_TRUE(missing.message().contains(root + QStringLiteral("/HT0007/snd/S_HACH.dat")))
        << missing.message().toStdString();
    EXPECT_EQ(readFile(prog(kOrder)), "data");

    QDir().mkpath(root + QStringLiteral("/HT0007/snd"));
    QDir().mkpath(root + QStringLiteral("/HTbackup/0007/snd"));
    ASSERT_OK(DataMove(bare, 7, kOrder, kavelo::platform::FileOps::real(), fixedClock(2026, 1, 2, 3, 4, 5)));
    EXPECT_EQ(readFile(root + QStringLiteral("/HT0007/snd/S_HACH.dat")), "data");
    EXPECT_EQ(readFile(root + QStringLiteral("/HTbackup/0007/snd/20260102030405_S_HACH.dat")), "data");
}

TEST_F(DataMoveTest, FailingCopyKeepsPreviousSendCopyAndSource)
{
    writeFile(ht(QStringLiteral("0007/snd/S_HACH.dat")), "previous upload");
    writeFile(prog(kOrder), "new upload");
    InjectedFileOps files;
    files.failOn(InjectedFileOps::Op::Copy, QStringLiteral("/snd/S_HACH.dat"));
    kavelo::platform::Status status = DataMove(tree, 7, kOrder, files);
    ASSERT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(QStringLiteral("0007/snd/S_HACH.dat"))) << status.message().toStdString();
    EXPECT_EQ(readFile(ht(QStringLiteral("0007/snd/S_HACH.dat"))), "previous upload");
    EXPECT_EQ(readFile(prog(kOrder)), "new upload");
    EXPECT_TRUE(QDir(ht(QStringLiteral("backup/0007/snd"))).isEmpty());
}

TEST_F(DataMoveTest, MissingSourceLeavesSendCopy)
{
    writeFile(ht(QStringLiteral("0007/snd/S_HACH.dat")), "previous upload");
    kavelo::platform::Status status = DataMove(tree, 7, kOrder);
    ASSERT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(prog(kOrder))) << status.message().toStdString();
    EXPECT_EQ(readFile(ht(QStringLiteral("0007/snd/S_HACH.dat"))), "previous upload");
}

TEST_F(DataMoveTest, FailingBackupLeavesSourceInProgramFolder)
{
    writeFile(prog(kOrder), "new upload");
    {
        SCOPED_TRACE("move into the backup tree fails");
        InjectedFileOps files;
        files.failOn(InjectedFileOps::Op::Move, QStringLiteral("_S_HACH.dat"));
        ASSERT_FALSE(DataMove(tree, 7, kOrder, files).isOk());
        EXPECT_EQ(readFile(ht(QStringLiteral("0007/snd/S_HACH.dat"))), "new upload");
        EXPECT_EQ(readFile(prog(kOrder)), "new upload");
    }
    {
        SCOPED_TRACE("missing folder in the backup tree");
        QDir(ht(QStringLiteral("backup/0012"))).removeRecursively();
        ASSERT_FALSE(DataMove(tree, 12, kOrder).isOk());
        EXPECT_EQ(readFile(ht(QStringLiteral("0012/snd/S_HACH.dat"))), "new upload");
        EXPECT_EQ(readFile(prog(kOrder)), "new upload");
    }
}

TEST_F(DataMoveTest, ReadOnlyFilesAreRefusedNotForced)
{
    const Clock clock = fixedClock(2026, 5, 6, 7, 8, 9);
    const QString sendCopy = ht(QStringLiteral("0007/snd/S_HACH.dat"));
    const QString backup = ht(QStringLiteral("backup/0007/snd/20260506070809_S_HACH.dat"));
    writeFile(prog(kOrder), "new upload");
    writeFile(sendCopy, "read-only send copy");
    QFile::setPermissions(sendCopy, QFileDevice::ReadOwner);
    ASSERT_FALSE(DataMove(tree, 7, kOrder, kavelo::platform::FileOps::real(), clock).isOk());
    EXPECT_EQ(readFile(sendCopy), "read-only send copy");
    EXPECT_EQ(readFile(prog(kOrder)), "new upload");

    QFile::setPermissions(sendCopy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    writeFile(backup, "read-only backup");
    QFile::setPermissions(backup, QFileDevice::ReadOwner);
    ASSERT_FALSE(DataMove(tree, 7, kOrder, kavelo::platform::FileOps::real(), clock).isOk());
    EXPECT_EQ(readFile(backup), "read-only backup");
    EXPECT_EQ(readFile(prog(kOrder)), "new upload");
    QFile::setPermissions(backup, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace
