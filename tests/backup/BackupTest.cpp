// Backups of a program folder while it is written, what verify finds in damaged ones, and restores.
#include "backup/BackupCheck.h"
#include "backup/BackupRestore.h"
#include "backup/BackupWriter.h"
#include "platform/Database.h"
#include "platform/FolderLock.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>

namespace kavelo::backup {
namespace {

using platform::Database;

qint64 rowCount(const QString& dbPath)
{
    auto db = Database::openSqlite(dbPath, Database::OpenMode::ReadOnly);
    EXPECT_OK(db);
    auto query = (*db)->prepare(QStringLiteral("SELECT count(*) FROM journal"));
    EXPECT_OK(query);
    EXPECT_OK((*query)->step());
    return (*query)->integer(0);
}

class BackupTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        auto db = Database::openSqlite(home.dbPath(), Database::OpenMode::ExistingOnly);
        ASSERT_OK(db);
        ASSERT_OK((*db)->exec(QStringLiteral("CREATE TABLE journal (n INTEGER)")));
        test::writeFile(home.backup(3) + QStringLiteral("20261201101010_S_HACH.dat"), "0001,4901,10\r\n");
        test::writeFile(home.snd(3) + QStringLiteral("S_HACH.dat"), "0001,4901,10\r\n");
    }

    Sources sources() const { return Sources{home.home(), home.dataRoot(), {home.dbPath()}, {}}; }

    // A program folder's settings, as far as a backup needs them: readable KAVELO.ini, the database.
    static platform::Result<Sources> readSources(const QString& folder)
    {
        if (!QFileInfo(QDir(folder).filePath(QStringLiteral("KAVELO.ini"))).isFile()) {
            return platform::Status::error(folder + QStringLiteral("/KAVELO.ini: settings file not found"));
        }
        return Sources{
            folder, folder + QStringLiteral("/HT/"), {folder + QStringLiteral("/HT/0000/MasterConv.db")}, {}};
    }

    platform::Result<BackupReport> backup(int keep = 0)
    {
        return writeBackup(sources(), BackupOptions{destination.path(), keep, QDateTime::currentDateTime(), {}});
    }

    platform::Result<RestoreReport> restore(const QString& from, const QString& to)
    {
        return restoreBackup(RestoreOptions{from, to, QDateTime::currentDateTime(), {}}, readSources);
    }

    test::ProgramFolder home;
    QTemporaryDir destination;
};

TEST_F(BackupTest, CopiesALiveDatabaseWholeWhileItIsWrittenAndEveryFileFiledBefore)
{
    // Rows committed but still only in the write-ahead log, then a writer that goes on during the backup, as a
    // poll would: a copy of the database file alone would lack the first and could catch the second half-written.
    // The database is larger than a step of the copy, so the writer makes it start again.
    auto writer = Database::openSqlite(home.dbPath(), Database::OpenMode::ExistingOnly);
    ASSERT_OK(writer);
    ASSERT_OK((*writer)->exec(QStringLiteral("CREATE TABLE filler (b BLOB); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                                             "SELECT i + 1 FROM n WHERE i < 12) INSERT INTO filler SELECT "
                                             "randomblob(1000000) FROM n")));
    ASSERT_OK((*writer)->exec(QStringLiteral("PRAGMA wal_autocheckpoint=0; INSERT INTO journal VALUES (1), (2), (3)")));
    std::atomic<bool> done{false};
    std::thread poll([&] {
        auto db = Database::openSqlite(home.dbPath(), Database::OpenMode::ExistingOnly);
        for (int n = 0; !done && db.isOk(); ++n) {
            static_cast<void>((*db)->exec(QStringLiteral("INSERT INTO journal VALUES (%1)").arg(n)));
        }
    });
    test::writeFile(home.path(QStringLiteral(".kavelo-upload-Ab12Cd")), "half an upload");
    test::writeFile(home.path(QStringLiteral("kavelo.lock")), QByteArray());

    auto report = backup();
    done = true;
    poll.join();
    ASSERT_OK(report);
    EXPECT_EQ(report->databases, 1);

    const CheckReport check = checkFolder(report->folder, readSources);
    EXPECT_TRUE(check.sound()) << check.problems.join(QLatin1Char('\n')).toStdString();
    const QString copy = report->folder + QStringLiteral("/program/");
    EXPECT_GE(rowCount(copy + QStringLiteral("HT/0000/MasterConv.db")), 3);
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("HT/0000/MasterConv.db-wal")));
    EXPECT_EQ(test::readFile(copy + QStringLiteral("HT/backup/0003/snd/20261201101010_S_HACH.dat")),
              QByteArray("0001,4901,10\r\n"));
    EXPECT_TRUE(QFileInfo(copy + QStringLiteral("HT/0005/rcv")).isDir()) << "empty folders are part of the tree";
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral(".kavelo-upload-Ab12Cd")));
    EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("kavelo.lock")));
}

TEST_F(BackupTest, AFailingBackupLeavesNothingThatPassesForABackup)
{
    // A destination that fills up: no file there may grow past 64 KiB, and the database is larger.
    struct rlimit before = {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto failed = backup();
    setrlimit(RLIMIT_FSIZE, &before);
    ASSERT_FALSE(failed.isOk());
    EXPECT_TRUE(failed.status().message().contains(QStringLiteral("MasterConv.db")))
        << failed.status().message().toStdString();
    QStringList left = QDir(destination.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    left.removeAll(QStringLiteral(".kavelo-backup.lock"));
    EXPECT_TRUE(left.isEmpty()) << left.join(QLatin1Char(' ')).toStdString();

    // One cut off by a crash has no manifest: verify refuses it, and the next backup clears it away.
    auto whole = backup();
    ASSERT_OK(whole);
    const QString cutOff = destination.path() + QStringLiteral("/.kavelo-20261209-020000-99.partial");
    ASSERT_TRUE(QDir().rename(whole->folder, cutOff));
    QFile::remove(cutOff + QStringLiteral("/manifest.json"));
    EXPECT_FALSE(checkFolder(cutOff, readSources).sound());
    ASSERT_OK(backup());
    EXPECT_FALSE(QFileInfo::exists(cutOff));
}

TEST_F(BackupTest, VerifyNamesEachDamagedFileAndADamagedDatabase)
{
    auto report = backup();
    ASSERT_OK(report);
    const QString copy = report->folder + QStringLiteral("/program/");
    test::writeFile(copy + QStringLiteral("HT/snd-extra.dat"), "not listed, not wrong");
    test::writeFile(copy + QStringLiteral("HT/0003/snd/S_HACH.dat"), "0001,4901,99\r\n"); // same size, other bytes
    QFile::remove(copy + QStringLiteral("HT/backup/0003/snd/20261201101010_S_HACH.dat"));
    CheckReport check = checkFolder(report->folder, readSources);
    EXPECT_EQ(check.problems.size(), 2) << check.problems.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(check.problems.join(QLatin1Char('\n')).contains(QStringLiteral("S_HACH.dat: its content differs")));
    EXPECT_TRUE(
        check.problems.join(QLatin1Char('\n')).contains(QStringLiteral("20261201101010_S_HACH.dat: cannot open")));

    // A page of the database overwritten in a program folder: only SQLite's own check can tell.
    QFile db(home.dbPath());
    ASSERT_TRUE(db.open(QIODevice::ReadWrite));
    db.seek(16384); // the head of page 2, a table's root
    db.write(QByteArray(4000, '\x5a'));
    db.close();
    check = checkFolder(home.home(), readSources);
    ASSERT_FALSE(check.sound());
    EXPECT_TRUE(check.problems.first().contains(QStringLiteral("MasterConv.db")))
        << check.problems.first().toStdString();
}

TEST_F(BackupTest, RestorePutsTheBackupInPlaceAndKeepsTheOldFolderAside)
{
    ::chmod(QFile::encodeName(home.rcv(4)).constData(), 0775); // writable for the host's collector
    auto report = backup();
    ASSERT_OK(report);
    test::writeFile(home.snd(3) + QStringLiteral("S_TANA.dat"), "after the backup");
    auto db = Database::openSqlite(home.dbPath(), Database::OpenMode::ExistingOnly);
    ASSERT_OK(db);
    ASSERT_OK((*db)->exec(QStringLiteral("INSERT INTO journal VALUES (42)")));
    db->reset();

    auto restored = restore(report->folder, home.home());
    ASSERT_OK(restored);
    ASSERT_EQ(restored->keptAside.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(home.snd(3) + QStringLiteral("S_TANA.dat")));
    EXPECT_EQ(rowCount(home.dbPath()), 0);
    EXPECT_EQ(QFileInfo(home.rcv(4)).permissions() & QFileDevice::WriteGroup, QFileDevice::WriteGroup);
    EXPECT_TRUE(QFileInfo::exists(restored->keptAside.front() + QStringLiteral("/HT/0003/snd/S_TANA.dat")));
    EXPECT_TRUE(checkFolder(home.home(), readSources).sound());
    QDir(restored->keptAside.front()).removeRecursively();
}

TEST_F(BackupTest, RestoreRefusesAFolderInUseAndAnUnsoundBackupTouchingNothing)
{
    auto report = backup();
    ASSERT_OK(report);
    test::writeFile(home.snd(3) + QStringLiteral("S_TANA.dat"), "kept");
    {
        auto lock = platform::FolderLock::open(home.home()); // as the running service holds it
        ASSERT_OK(lock);
        ASSERT_TRUE((*lock)->tryLock(platform::FolderLock::Mode::Shared));
        auto refused = restore(report->folder, home.home());
        ASSERT_FALSE(refused.isOk());
        EXPECT_TRUE(refused.status().message().contains(QStringLiteral("in use by KAVELO")));
    }
    test::writeFile(report->folder + QStringLiteral("/program/KAVELO.ini"), "DBname=elsewhere\r\n");
    auto unsound = restore(report->folder, home.home());
    ASSERT_FALSE(unsound.isOk());
    EXPECT_TRUE(unsound.status().message().contains(QStringLiteral("not a sound backup")));
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_TANA.dat")), QByteArray("kept"));
    const QStringList beside = QDir(QFileInfo(home.home()).absolutePath())
                                   .entryList({QFileInfo(home.home()).fileName() + QStringLiteral(".*")});
    EXPECT_TRUE(beside.isEmpty()) << beside.join(QLatin1Char(' ')).toStdString();
}

TEST_F(BackupTest, DataOutsideTheProgramFolderIsBackedUpAndRestoredOnlyToItsOwnPlace)
{
    QTemporaryDir data;
    const QString root = data.path() + QStringLiteral("/HT/");
    QDir().mkpath(root + QStringLiteral("backup/0007/snd"));
    QDir().mkpath(root + QStringLiteral("0007/snd"));
    QDir().mkpath(root + QStringLiteral("other"));
    test::writeFile(root + QStringLiteral("backup/0007/snd/20261201101010_S_TANA.dat"), "stock");
    test::writeFile(root + QStringLiteral("other/not-ours.txt"), "x");
    Sources outside = sources();
    outside.dataRoot = root;
    auto report = writeBackup(outside, BackupOptions{destination.path(), 0, QDateTime::currentDateTime(), {}});
    ASSERT_OK(report);
    auto manifest = Manifest::read(report->folder);
    ASSERT_OK(manifest);
    QStringList sourcesBackedUp;
    for (const ManifestItem& item : manifest->items) {
        sourcesBackedUp << item.source;
    }
    EXPECT_EQ(sourcesBackedUp,
              (QStringList{home.home(), root + QStringLiteral("0007"), root + QStringLiteral("backup")}));

    QTemporaryDir elsewhere;
    auto moved = restore(report->folder, elsewhere.path() + QStringLiteral("/home"));
    ASSERT_OK(moved);
    EXPECT_EQ(moved->notRestored.size(), 2);
    QFile::remove(root + QStringLiteral("backup/0007/snd/20261201101010_S_TANA.dat"));
    auto inPlace = restore(report->folder, home.home());
    ASSERT_OK(inPlace);
    EXPECT_EQ(test::readFile(root + QStringLiteral("backup/0007/snd/20261201101010_S_TANA.dat")), QByteArray("stock"));
    ASSERT_EQ(inPlace->keptAside.size(), 3);
    QDir(inPlace->keptAside.front()).removeRecursively();
}

TEST_F(BackupTest, KeepsTheNewestCopiesAndRefusesADestinationInsideTheProgramFolder)
{
    QStringList folders;
    for (int i = 0; i < 3; ++i) {
        auto report = backup(2);
        ASSERT_OK(report);
        folders << QFileInfo(report->folder).fileName();
    }
    EXPECT_EQ(QDir(destination.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), folders.mid(1));

    auto inside = writeBackup(
        sources(), BackupOptions{home.path(QStringLiteral("HT/backups")), 0, QDateTime::currentDateTime(), {}});
    ASSERT_FALSE(inside.isOk());
    EXPECT_FALSE(QFileInfo::exists(home.path(QStringLiteral("HT/backups"))));
}

} // namespace
} // namespace kavelo::backup
