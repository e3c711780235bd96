#include "transfer/KeyGuard.h"

#include "support/TestSupport.h"

namespace kavelo::transfer {
namespace {

const QHostAddress kGuesser(QStringLiteral("192.168.10.66"));
const QHostAddress kTerminal(QStringLiteral("192.168.10.21"));

TEST(KeyGuardTest, TenWrongKeysWithinTenMinutesHoldTheAddressOffForTen)
{
    KeyGuard guard;
    const QDateTime start = QDateTime::currentDateTime();
    for (int i = 0; i < KeyGuard::kMaxFailures - 1; ++i) {
        EXPECT_FALSE(guard.failed(kGuesser, start.addSecs(i * 60)));
    }
    EXPECT_EQ(guard.heldOffFor(kGuesser, start.addSecs(540)), 0);
    const QDateTime tenth = start.addSecs(599);
    EXPECT_TRUE(guard.failed(kGuesser, tenth));
    EXPECT_EQ(guard.heldOffFor(kGuesser, tenth), 600);
    // The same address as an IPv4-mapped IPv6 address is the same guesser; another address is not affected.
    EXPECT_GT(guard.heldOffFor(QHostAddress(QStringLiteral("::ffff:192.168.10.66")), tenth.addSecs(1)), 0);
    EXPECT_EQ(guard.heldOffFor(kTerminal, tenth), 0);
    // Failing on while held off does not make it longer.
    EXPECT_FALSE(guard.failed(kGuesser, tenth.addSecs(300)));
    EXPECT_EQ(guard.heldOffFor(kGuesser, tenth.addSecs(599)), 1);
    EXPECT_EQ(guard.heldOffFor(kGuesser, tenth.addSecs(600)), 0);
    ASSERT_EQ(guard.heldOff(tenth.addSecs(10)).size(), 1);
    EXPECT_EQ(guard.heldOff(tenth.addSecs(10)).first().address, kGuesser);
    EXPECT_EQ(guard.failures(), KeyGuard::kMaxFailures + 1);
}

TEST(KeyGuardTest, FailuresOlderThanTheWindowNoLongerCount)
{
    KeyGuard guard;
    const QDateTime start = QDateTime::currentDateTime();
    for (int i = 0; i < 20; ++i) {
        // One every 67 seconds: never ten within ten minutes.
        EXPECT_FALSE(guard.failed(kGuesser, start.addSecs(i * 67)));
    }
    EXPECT_TRUE(guard.heldOff(start.addSecs(20 * 67)).isEmpty());
}

TEST(KeyGuardTest, ManyAddressesCostABoundedMemory)
{
    KeyGuard guard;
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 9; ++i) {
        guard.failed(kGuesser, now);
    }
    for (quint32 i = 0; i < KeyGuard::kMaxAddresses + 100; ++i) {
        guard.failed(QHostAddress(0x0a000000u + i), now.addSecs(1));
    }
    // The guesser's nine failures were forgotten first (its last failure is the oldest): one more holds nothing.
    EXPECT_FALSE(guard.failed(kGuesser, now.addSecs(2)));
}

} // namespace
} // namespace kavelo::transfer
