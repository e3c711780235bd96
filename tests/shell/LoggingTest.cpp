#include "shell/Logging.h"

#include "platform/Log.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace kavelo::shell {
namespace {

class LoggingTest : public ::testing::Test
{
  protected:
    void SetUp() override { installLogHandler(log(), false); }
    void TearDown() override
    {
        setLogRotation(10 * 1024 * 1024, 5);
        qInstallMessageHandler(nullptr);
    }
    QString log(const QString& suffix = {}) const
    {
        return QDir(m_dir.path()).filePath(QStringLiteral("kavelo.log") + suffix);
    }
    QList<QByteArray> lines(const QString& path) const
    {
        QByteArray content = test::readFile(path);
        EXPECT_TRUE(content.isEmpty() || content.endsWith('\n')) << path.toStdString();
        content.chop(1);
        return content.isEmpty() ? QList<QByteArray>() : content.split('\n');
    }

    QTemporaryDir m_dir;
};

TEST_F(LoggingTest, RotatesBySizeKeepingWholeLinesAndTheNewestGenerations)
{
    setLogRotation(400, 2);
    for (int n = 0; n < 40; ++n) {
        qCInfo(lcShell).noquote() << QStringLiteral("line %1").arg(n, 3, 10, QLatin1Char('0'));
    }
    EXPECT_FALSE(QFile::exists(log(QStringLiteral(".3"))));
    // Oldest first: .2, .1, the log. Together they hold the newest lines in order, each line whole.
    QList<QByteArray> all;
    for (const QString& suffix : {QStringLiteral(".2"), QStringLiteral(".1"), QString()}) {
        EXPECT_LE(QFileInfo(log(suffix)).size(), 400) << suffix.toStdString();
        const QList<QByteArray> part = lines(log(suffix));
        EXPECT_FALSE(part.isEmpty()) << suffix.toStdString();
        all += part;
    }
    ASSERT_GT(all.size(), 6);
    const int first = all.first().right(3).toInt();
    for (int i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(
            all[i].endsWith(QByteArray("kavelo.shell: line ") + QByteArray::number(first + i).rightJustified(3, '0')))
            << all[i].toStdString();
    }
    EXPECT_EQ(first + all.size(), 40);

    // A line longer than the limit fills a log of its own; generations beyond a smaller LogKeep go.
    setLogRotation(400, 1);
    const QString longLine(600, QLatin1Char('x'));
    qCInfo(lcShell).noquote() << longLine;
    EXPECT_EQ(lines(log()).size(), 1);
    EXPECT_TRUE(lines(log()).first().endsWith(longLine.toLatin1()));
    EXPECT_FALSE(QFile::exists(log(QStringLiteral(".2"))));
}

TEST_F(LoggingTest, FollowsARotationMadeByAnotherProcessAndCreatesTheLogWithTheUmasksMode)
{
    qCInfo(lcShell) << "before";
    ASSERT_TRUE(QFile::rename(log(), log(QStringLiteral(".1"))));
    const mode_t old = ::umask(027);
    qCInfo(lcShell) << "after";
    ::umask(old);
    ASSERT_EQ(lines(log()).size(), 1);
    EXPECT_TRUE(lines(log()).first().endsWith("after"));
    EXPECT_EQ(QFile::permissions(log()),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser |
                  QFileDevice::ReadGroup);
}

} // namespace
} // namespace kavelo::shell
