#include "wire/ProtocolHeader.h"

#include "support/TestSupport.h"

namespace kavelo::wire {
namespace {

constexpr qint64 kMax = 1000;

struct RequestCase
{
    const char* line;
    bool ok;
    Command command;
};

TEST(ProtocolHeaderTest, ParsesRequestsStrictly)
{
    const RequestCase cases[] = {
        {"HELLO 1", true, Command::Hello},
        {"HELLO 9999", true, Command::Hello},
        {"HELLO 0012", true, Command::Hello},
        {"HELLO 12\r", true, Command::Hello},
        {"HELLO 0", false, Command::Hello},
        {"HELLO -1", false, Command::Hello},
        {"HELLO +1", false, Command::Hello},
        {"HELLO 10000", false, Command::Hello},
        {"HELLO 00001", false, Command::Hello},
        {"HELLO abc", false, Command::Hello},
        {"HELLO", false, Command::Hello},
        {"HELLO 1 2", true, Command::Hello}, // a key (a wrong one, but that is the server's to say)
        {"HELLO 1 key more", false, Command::Hello},
        {"HELLO  1", false, Command::Hello},
        {" HELLO 1", false, Command::Hello},
        {"HELLO 1 ", false, Command::Hello},
        {"hello 1", false, Command::Hello},
        {"HELLO\t1", false, Command::Hello},
        {"GET", true, Command::Get},
        {"GET x", false, Command::Get},
        {"GET deflate", true, Command::Get},
        {"GET DEFLATE", false, Command::Get},
        {"GET deflate x", false, Command::Get},
        {"BYE", true, Command::Bye},
        {"", false, Command::Bye},
        {"PUT S_HACH.dat 10 0123abcd", true, Command::Put},
        {"PUT S_HACH.dat 0 00000000", true, Command::Put},
        {"PUT S_HACH.dat 1000 0123ABCD", true, Command::Put},
        {"PUT S_HACH.dat 1001 0123abcd", false, Command::Put},                  // over the limit
        {"PUT S_HACH.dat 99999999999999999999 0123abcd", false, Command::Put},  // 20 digits, far over
        {"PUT S_HACH.dat 123456789012345678901 0123abcd", false, Command::Put}, // 21 digits
        {"PUT S_HACH.dat -1 0123abcd", false, Command::Put},
        {"PUT S_HACH.dat 10 0123abc", false, Command::Put},
        {"PUT S_HACH.dat 10 0123abcg", false, Command::Put},
        {"PUT S_HACH.dat 10", false, Command::Put},
        {"PUT ../KAVELO.ini 10 0123abcd", false, Command::Put},
        {"PUT a/b 10 0123abcd", false, Command::Put},
        {"PUT .. 10 0123abcd", false, Command::Put},
        {"PUT .hidden 10 0123abcd", false, Command::Put},
        {"PUT C:x 10 0123abcd", false, Command::Put},
        {"FILE a 1 00000000", false, Command::File}, // a server line, not a request
        {"OK", false, Command::Ok},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.line);
        platform::Result<Header> parsed = parseRequest(QByteArrayView(c.line), kMax);
        EXPECT_EQ(parsed.isOk(), c.ok) << (parsed.isOk() ? "" : parsed.status().message().toStdString());
        if (parsed.isOk() && c.ok) {
            EXPECT_EQ(parsed->command, c.command);
        }
    }
}

TEST(ProtocolHeaderTest, CarriesTheValues)
{
    platform::Result<Header> hello = parseRequest("HELLO 0012\r\n", kMax);
    ASSERT_OK(hello);
    EXPECT_EQ(hello->terminalNo, 12);
    EXPECT_TRUE(hello->key.isEmpty());
    platform::Result<Header> keyed = parseRequest("HELLO 3 L9GupBhANulcGHBxqvpU8r9M0pmuKKN9\n", kMax);
    ASSERT_OK(keyed);
    EXPECT_EQ(keyed->key, QByteArray("L9GupBhANulcGHBxqvpU8r9M0pmuKKN9"));
    EXPECT_EQ(helloLine(3, keyed->key), QByteArray("HELLO 3 L9GupBhANulcGHBxqvpU8r9M0pmuKKN9\n"));
    EXPECT_FALSE(parseRequest("HELLO 3 " + QByteArray(kMaxKeyLength + 1, 'k'), kMax).isOk());
    platform::Result<Header> put = parseRequest("PUT S_TANA.dat 1000 DEADbeef\n", kMax);
    ASSERT_OK(put);
    EXPECT_EQ(put->name, QStringLiteral("S_TANA.dat"));
    EXPECT_EQ(put->size, 1000);
    EXPECT_EQ(put->crc, 0xdeadbeefu);
}

TEST(ProtocolHeaderTest, RefusesNulAndNonAsciiInAHeader)
{
    EXPECT_FALSE(parseRequest(QByteArrayView("PUT a\0b 1 00000000", 18), kMax).isOk());
    EXPECT_FALSE(parseRequest(QByteArray("PUT \xe6\x97\xa5.dat 1 00000000"), kMax).isOk());
}

TEST(ProtocolHeaderTest, FileNamesFollowTheRule)
{
    EXPECT_TRUE(isValidFileName("CTRL.csv"));
    EXPECT_TRUE(isValidFileName("a-b_c.1"));
    EXPECT_TRUE(isValidFileName(QByteArray(64, 'x')));
    EXPECT_FALSE(isValidFileName(QByteArray(65, 'x')));
    EXPECT_FALSE(isValidFileName(""));
    EXPECT_FALSE(isValidFileName("a b"));
    EXPECT_FALSE(isValidFileName("a\\b"));
}

TEST(ProtocolHeaderTest, RepliesRoundTrip)
{
    platform::Result<Header> file = parseReply(fileLine(QStringLiteral("SHOMAS.csv"), 42, 0xabcdef01u), kMax);
    ASSERT_OK(file);
    EXPECT_EQ(file->command, Command::File);
    EXPECT_EQ(file->size, 42);
    EXPECT_EQ(file->crc, 0xabcdef01u);
    platform::Result<Header> zfile = parseReply(zfileLine(QStringLiteral("SHOMAS.csv"), 42, 0xabcdef01u, 17), kMax);
    ASSERT_OK(zfile);
    EXPECT_EQ(zfile->command, Command::ZFile);
    EXPECT_EQ(zfile->size, 42);
    EXPECT_EQ(zfile->zsize, 17);
    EXPECT_FALSE(parseReply("ZFILE a 1 00000000", kMax).isOk()); // no zsize
    EXPECT_TRUE(parseRequest("GET deflate", kMax)->deflate);
    EXPECT_FALSE(parseRequest("GET", kMax)->deflate);
    platform::Result<Header> end = parseReply(endLine(6), kMax);
    ASSERT_OK(end);
    EXPECT_EQ(end->size, 6);
    platform::Result<Header> err = parseReply(errLine(QStringLiteral("crc32 mismatch")), kMax);
    ASSERT_OK(err);
    EXPECT_EQ(err->command, Command::Err);
    EXPECT_EQ(err->text, QStringLiteral("crc32 mismatch"));
    EXPECT_EQ(okLine(QStringLiteral("KAVELO 1")), QByteArray("OK KAVELO 1\n"));
    EXPECT_EQ(putLine(QStringLiteral("a"), 5, 0x1u), QByteArray("PUT a 5 00000001\n"));
}

TEST(ProtocolHeaderTest, ErrLinesStayOneLineOfAscii)
{
    const QByteArray line = errLine(QStringLiteral("bad\nname 日本"));
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_TRUE(line.endsWith('\n'));
    for (char c : line.chopped(1)) {
        EXPECT_TRUE(c >= 0x20 && c <= 0x7e);
    }
}

TEST(ProtocolHeaderTest, CrcIsZlibCrc32)
{
    EXPECT_EQ(crc32Update(0, "123456789"), 0xcbf43926u);
    EXPECT_EQ(crc32Update(crc32Update(0, "1234"), "56789"), 0xcbf43926u);
}

} // namespace
} // namespace kavelo::wire
