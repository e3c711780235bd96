// The backup tree's retention: only KAVELO's own names, only older than BackupKeepDays, never a read-only file.
#include "exchange/BackupRetention.h"
#include "support/InjectedFileOps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

namespace kavelo::exchange {
namespace {

TEST(BackupRetention, RemovesOnlyKavelosOwnOldUploadsAndFindsEachTerminalsNewest)
{
    test::ProgramFolder home;
    const FolderTree tree(home.dataRoot(), home.home());
    const QDateTime now(QDate(2026, 12, 9), QTime(12, 0));
    struct Case
    {
        QString path;
        bool removed;
    };
    const Case cases[] = {
        {home.backup(3) + QStringLiteral("20261001090000_S_HACH.dat"), true},  // 69 days old
        {home.backup(3) + QStringLiteral("20261010115959_S_TANA.dat"), true},  // a second beyond 60 days
        {home.backup(3) + QStringLiteral("20261010120000_S_TANA.dat"), false}, // exactly 60 days
        {home.backup(3) + QStringLiteral("20261208180000_S_HACH.dat"), false},
        {home.backup(4) + QStringLiteral("20260101000000_S_HACH.dat.bak"), false}, // names that are not KAVELO's
        {home.backup(4) + QStringLiteral("2026010100000_S_HACH.dat"), false},
        {home.backup(4) + QStringLiteral("20261399000000_S_HACH.dat"), false},
        {home.backup(4) + QStringLiteral("20260101000000_CTRL.csv"), false},
        {home.backup(4) + QStringLiteral("notes.txt"), false},
        {home.dataRoot() + QStringLiteral("backup/misc/snd/20260101000000_S_HACH.dat"), false},
        {home.backup(5) + QStringLiteral("20260101000000_S_TANA.dat"), false}, // read-only: not forced
    };
    for (const Case& c : cases) {
        QDir().mkpath(QFileInfo(c.path).absolutePath());
        test::writeFile(c.path, "0001,4901,10\r\n");
    }
    QFile::setPermissions(cases[10].path, QFileDevice::ReadOwner);

    EXPECT_EQ(pruneBackupTree(tree, 0, now).removed, 0) << "0 keeps everything";
    const std::map<int, QDateTime> newest = newestBackups(tree);
    EXPECT_EQ(newest.at(3), QDateTime(QDate(2026, 12, 8), QTime(18, 0)));
    EXPECT_EQ(newest.at(5), QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
    EXPECT_EQ(newest.count(4), 0u);

    const RetentionOutcome outcome = pruneBackupTree(tree, 60, now);
    EXPECT_EQ(outcome.removed, 2);
    EXPECT_EQ(outcome.bytes, 2 * 14);
    EXPECT_EQ(outcome.failed, 1);
    ASSERT_EQ(outcome.failures.size(), 1);
    EXPECT_TRUE(outcome.failures.front().contains(QStringLiteral("read-only")));
    for (const Case& c : cases) {
        EXPECT_EQ(QFileInfo::exists(c.path), !c.removed) << c.path.toStdString();
    }
}

} // namespace
} // namespace kavelo::exchange
