#include "platform/Text.h"

#include "support/TestSupport.h"

namespace kavelo::platform {
namespace {

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
