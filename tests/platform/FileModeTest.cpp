// What the system's files look like to other accounts, and what a failing disk says.

#include "platform/Database.h"
#include "platform/FileMode.h"
#include "platform/FileOps.h"
#include "platform/SystemError.h"
#include "platform/TextCodec.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavelo::platform {
namespace {

using test::writeFile;

unsigned modeOf(const QString& path)
{
    struct stat info = {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

class UmaskScope
{
  public:
    explicit UmaskScope(mode_t mask)
        : m_old(::umask(mask))
    {
    }
    ~UmaskScope() { ::umask(m_old); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

  private:
    mode_t m_old;
};

TEST(FileMode, EveryCreatedFileFollowsTheUmaskNotATemporaryFilesMode)
{
    for (const auto& [mask, expected] : {std::pair{mode_t(022), 0644u}, std::pair{mode_t(027), 0640u}}) {
        SCOPED_TRACE(mask);
        QTemporaryDir dir;
        const QDir d(dir.path());
        writeFile(d.filePath("upload"), "data");
        QFile::setPermissions(d.filePath("upload"), QFileDevice::ReadOwner | QFileDevice::WriteOwner); // 0600
        writeFile(d.filePath("readonly"), "data");
        QFile::setPermissions(d.filePath("readonly"), QFileDevice::ReadOwner);
        const UmaskScope scope(mask);
        EXPECT_EQ(ordinaryFileMode(), expected);

        ASSERT_OK(FileOps::real().copy(d.filePath("upload"), d.filePath("send-copy")));
        EXPECT_EQ(modeOf(d.filePath("send-copy")), expected);
        ASSERT_OK(FileOps::real().copy(d.filePath("readonly"), d.filePath("readonly-copy")));
        EXPECT_EQ(modeOf(d.filePath("readonly-copy")), expected & 0444u);

        auto writer = ShiftJisLineWriter::create(d.filePath("SHOMAS.csv"));
        ASSERT_OK(writer);
        ASSERT_OK((*writer)->writeLine(QStringLiteral("line")));
        ASSERT_OK((*writer)->commit());
        EXPECT_EQ(modeOf(d.filePath("SHOMAS.csv")), expected);

        {
            auto db = Database::openSqlite(d.filePath("MasterConv.db"), Database::OpenMode::CreateIfMissing);
            ASSERT_OK(db);
            ASSERT_OK((*db)->exec(QStringLiteral("CREATE TABLE t (x)")));
            EXPECT_EQ(modeOf(d.filePath("MasterConv.db")), expected);
            EXPECT_EQ(modeOf(d.filePath("MasterConv.db-wal")), expected);
        }

        QTemporaryFile temporary(d.filePath("upload.XXXXXX"));
        ASSERT_OK(openTemporary(temporary));
        EXPECT_EQ(modeOf(temporary.fileName()), expected);
    }
}

TEST(SystemError, ReasonsAreTheSystemsWordsInAscii)
{
    EXPECT_EQ(systemReason(ENOSPC), QStringLiteral("No space left on device"));
    EXPECT_EQ(systemReason(EROFS), QStringLiteral("Read-only file system"));

    // /dev/full refuses every write with ENOSPC, as a full disk does.
    QFile full(QStringLiteral("/dev/full"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const Status refused = writeAll(full, QByteArray(100000, 'x'), QStringLiteral("/send/S_HACH.dat"));
    EXPECT_EQ(refused.message(), QStringLiteral("/send/S_HACH.dat: write failed: No space left on device"));
    EXPECT_EQ(fileReason(full), QStringLiteral("No space left on device"));

    QFile missing(QStringLiteral("/nonexistent/folder/file"));
    ASSERT_FALSE(missing.open(QIODevice::ReadOnly));
    EXPECT_EQ(fileReason(missing), QStringLiteral("No such file or directory"));
}

// A small tmpfs mounted in a mount namespace of this thread's own, so that nothing outside the test sees it and a
// crashed test leaves no mount behind. Needs root with CAP_SYS_ADMIN (not given in every container).
class SmallTmpfs
{
  public:
    explicit SmallTmpfs(const QString& where)
        : m_where(QFile::encodeName(where))
    {
        m_home = ::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (m_home < 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", m_where.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
            m_failure = QString::fromLatin1(std::strerror(errno));
        }
    }
    ~SmallTmpfs()
    {
        if (m_failure.isEmpty()) {
            ::umount2(m_where.constData(), MNT_DETACH);
        }
        if (m_home >= 0) {
            [[maybe_unused]] const int back = ::setns(m_home, CLONE_NEWNS);
            ::close(m_home);
        }
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    const QString& failure() const { return m_failure; }

  private:
    QByteArray m_where;
    int m_home = -1;
    QString m_failure;
};

TEST(SystemError, AFullDiskIsNamedAndLeavesTheFilesAsTheyWere)
{
    QTemporaryDir outside;
    QTemporaryDir mountPoint;
    const QString source = QDir(outside.path()).filePath(QStringLiteral("S_HACH.dat"));
    writeFile(source, QByteArray(200000, '1'));
    const SmallTmpfs tmpfs(mountPoint.path());
    if (!tmpfs.failure().isEmpty()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << tmpfs.failure().toStdString()
                     << "); SystemError.ReasonsAreTheSystemsWordsInAscii covers the text with /dev/full";
    }
    const QDir full(mountPoint.path());
    writeFile(full.filePath("S_HACH.dat"), "previous upload");

    const Status copied = FileOps::real().copy(source, full.filePath("S_HACH.dat"));
    EXPECT_TRUE(copied.message().contains(QStringLiteral("No space left on device"))) << copied.message().toStdString();
    EXPECT_EQ(test::readFile(full.filePath("S_HACH.dat")), QByteArray("previous upload"));

    auto writer = ShiftJisLineWriter::create(full.filePath("SHOMAS.csv"));
    ASSERT_OK(writer);
    Status written = Status::ok();
    for (int line = 0; line < 10000 && written.isOk(); ++line) {
        written = (*writer)->writeLine(QString(60, QLatin1Char('x')));
    }
    if (written.isOk()) {
        written = (*writer)->commit();
    }
    EXPECT_TRUE(written.message().contains(QStringLiteral("SHOMAS.csv: write failed: No space left on device")))
        << written.message().toStdString();
    writer->reset();

    {
        auto db = Database::openSqlite(full.filePath("MasterConv.db"), Database::OpenMode::CreateIfMissing);
        ASSERT_OK(db);
        const Status filled = (*db)->exec(
            QStringLiteral("CREATE TABLE t (x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                           "i < 1000) INSERT INTO t SELECT randomblob(1000) FROM n"));
        EXPECT_TRUE(filled.message().contains(QStringLiteral("No space left on device")))
            << filled.message().toStdString();
    }
    // Nothing half-written is left beside the files.
    EXPECT_EQ(full.entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("S_HACH")),
              QStringList{QStringLiteral("S_HACH.dat")});
    EXPECT_FALSE(QFile::exists(full.filePath("SHOMAS.csv")));
}

} // namespace
} // namespace kavelo::platform
