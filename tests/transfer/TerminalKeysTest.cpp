#include "transfer/TerminalKeys.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace kavelo::transfer {
namespace {

TEST(TerminalKeysTest, OnlyAHashIsStoredAndAnEnrolmentReplacesTheOlderKey)
{
    QTemporaryDir home;
    TerminalKeys keys;
    platform::Result<QString> first = keys.enroll(3, QDateTime::currentDateTime());
    ASSERT_OK(first);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{32}$")).match(*first).hasMatch())
        << first->toStdString();
    platform::Result<QString> other = keys.enroll(4, QDateTime::currentDateTime());
    ASSERT_OK(keys.write(home.path()));

    const QString path = TerminalKeys::path(home.path());
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const QByteArray stored = test::readFile(path);
    EXPECT_FALSE(stored.contains(first->toLatin1()));
    EXPECT_FALSE(stored.contains(other->toLatin1()));

    platform::Result<TerminalKeys> read = TerminalKeys::read(home.path());
    ASSERT_OK(read);
    EXPECT_EQ(read->match(3, first->toLatin1()), KeyMatch::Right);
    EXPECT_EQ(read->match(4, first->toLatin1()), KeyMatch::OtherTerminal);
    EXPECT_EQ(read->match(3, "guess"), KeyMatch::Unknown);
    EXPECT_EQ(read->match(3, QByteArray()), KeyMatch::Unknown);

    platform::Result<QString> again = read->enroll(3, QDateTime::currentDateTime());
    EXPECT_EQ(read->match(3, first->toLatin1()), KeyMatch::Unknown);
    EXPECT_EQ(read->match(3, again->toLatin1()), KeyMatch::Right);
    EXPECT_TRUE(read->revoke(3));
    EXPECT_FALSE(read->revoke(3));
    EXPECT_EQ(read->match(3, again->toLatin1()), KeyMatch::Unknown);
    EXPECT_TRUE(read->isEnrolled(4));
}

TEST(TerminalKeysTest, AMissingFileIsNoKeysAndABrokenOneNamesItsLine)
{
    QTemporaryDir home;
    platform::Result<TerminalKeys> none = TerminalKeys::read(home.path());
    ASSERT_OK(none);
    EXPECT_TRUE(none->keys().isEmpty());

    test::writeFile(TerminalKeys::path(home.path()),
                    "# comment\n\n3 2026-12-09T10:00:00Z " + QByteArray(64, 'a') + "\n10000 2026-12-09T10:00:00Z " +
                        QByteArray(64, 'a') + "\n");
    platform::Result<TerminalKeys> broken = TerminalKeys::read(home.path());
    ASSERT_FALSE(broken.isOk());
    EXPECT_TRUE(broken.status().message().contains(QStringLiteral("terminal-keys.txt, line 4")))
        << broken.status().message().toStdString();
}

TEST(TerminalKeysTest, LastUsesGoThroughTheirFile)
{
    QTemporaryDir home;
    const QDateTime at = QDateTime::currentDateTime().addSecs(-5);
    ASSERT_OK(writeKeyUse(home.path(), {{3, KeyUse{at, kUsedOverHttps}}, {12, KeyUse{at, kUsedOverV1}}}));
    platform::Result<QMap<int, KeyUse>> read = readKeyUse(home.path());
    ASSERT_OK(read);
    ASSERT_EQ(read->size(), 2);
    EXPECT_EQ(read->value(3).protocol, kUsedOverHttps);
    EXPECT_EQ(read->value(12).at.toSecsSinceEpoch(), at.toSecsSinceEpoch());
}

} // namespace
} // namespace kavelo::transfer
