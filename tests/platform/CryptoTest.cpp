#include "platform/Crypto.h"

#include "support/TestSupport.h"

namespace kavelo::platform {
namespace {

TEST(CryptoTest, Sha256InPiecesIsTheDigestOfTheWhole)
{
    // FIPS 180-2, appendix B.1.
    EXPECT_EQ(hexText(sha256("abc")),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    Sha256 pieces;
    pieces.add("a");
    pieces.add("");
    pieces.add("bc");
    EXPECT_EQ(pieces.finish(), sha256("abc"));
}

TEST(CryptoTest, ComparisonNeedsTheSameBytesAndSize)
{
    EXPECT_TRUE(equalInConstantTime("same", "same"));
    EXPECT_FALSE(equalInConstantTime("same", "sane"));
    EXPECT_FALSE(equalInConstantTime("same", "same!"));
    EXPECT_TRUE(equalInConstantTime("", ""));
}

TEST(CryptoTest, RandomBytesAreFreshEachTime)
{
    Result<QByteArray> first = randomBytes(16);
    Result<QByteArray> second = randomBytes(16);
    ASSERT_OK(first);
    ASSERT_OK(second);
    EXPECT_EQ(first->size(), 16);
    EXPECT_NE(*first, *second);
}

} // namespace
} // namespace kavelo::platform
