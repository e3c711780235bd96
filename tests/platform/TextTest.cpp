#include "platform/Text.h"

#include "support/TestSupport.h"

namespace kavelo::platform {
namespace {

TEST(Text, SliceCountsCharactersNotBytes)
{
    struct Case
    {
        QString line;
        int start;
        int length;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("1ABCD"), 2, 4, QStringLiteral("ABCD")},
        {QStringLiteral("1表ソ①㈱Z"), 2, 4, QStringLiteral("表ソ①㈱")}, // double-byte characters are one position each
        {QStringLiteral("1ｱｲｳ"), 2, 2, QStringLiteral("ｱｲ")},
        {QStringLiteral("1AB"), 2, 4, QStringLiteral("AB")}, // the line ends inside the run
        {QStringLiteral("1AB"), 4, 4, QStringLiteral("")},   // the line is shorter than the start
        {QStringLiteral("1AB"), 3, 1, QStringLiteral("B")},
        {QStringLiteral(""), 1, 1, QStringLiteral("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString() + " @" + std::to_string(c.start));
        QString sliced = Slice(c.line, c.start, c.length);
        EXPECT_EQ(sliced, c.expected);
        EXPECT_FALSE(sliced.isNull()); // a field beyond the end is empty text, never NULL
    }
}

TEST(Text, TrimRemovesOnlyAsciiBlanks)
{
    EXPECT_EQ(Trim(u"  ABC  "), QStringLiteral("ABC"));
    EXPECT_EQ(Trim(u"\u3000ABC\u3000"), QStringLiteral("\u3000ABC\u3000"));
    EXPECT_EQ(Trim(u"\tABC\t"), QStringLiteral("\tABC\t"));
    EXPECT_EQ(Trim(u"A B"), QStringLiteral("A B"));
    EXPECT_EQ(Trim(u"    "), QStringLiteral(""));
    EXPECT_FALSE(Trim(u"   ").isNull());
    EXPECT_EQ(TrimTrailing(u" AB  ").toString(), QStringLiteral(" AB"));
}

TEST(Text, ReplaceCommasKeepsLengthAndEverythingElse)
{
    EXPECT_EQ(ReplaceCommas(QStringLiteral("A,B，C,")), QStringLiteral("A.B．C."));
    EXPECT_EQ(ReplaceCommas(QStringLiteral("、。.．")), QStringLiteral("、。.．"));
    EXPECT_EQ(ReplaceCommas(QString()), QString());
}

TEST(Text, ZeroPadPadsToWidthAndNeverCuts)
{
    EXPECT_EQ(ZeroPad(4, 1), QStringLiteral("0001"));
    EXPECT_EQ(ZeroPad(4, 7), QStringLiteral("0007"));
    EXPECT_EQ(ZeroPad(4, 11), QStringLiteral("0011"));
    EXPECT_EQ(ZeroPad(4, 12), QStringLiteral("0012"));
    EXPECT_EQ(ZeroPad(4, 1234), QStringLiteral("1234"));
    EXPECT_EQ(ZeroPad(4, 12345), QStringLiteral("12345"));
    EXPECT_EQ(ZeroPad(4, -5), QStringLiteral("00-5"));
    EXPECT_EQ(ZeroPad(4, QString()), QStringLiteral("0000"));
    EXPECT_EQ(ZeroPad(4, QStringLiteral("0001")), QStringLiteral("0001"));
}

} // namespace
} // namespace kavelo::platform
