// Protocol v1's HELLO with the terminal's key: what the server requires, what it refuses, whom it holds off.
#include "client/TerminalClient.h"
#include "transfer/TerminalKeys.h"
#include "transfer/TerminalServer.h"

#include "support/EventWait.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

namespace kavelo::transfer {
namespace {

using client::TerminalClient;

class HelloKeyTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        key3 = *keys.enroll(3, QDateTime::currentDateTime());
        key4 = *keys.enroll(4, QDateTime::currentDateTime());
        ASSERT_OK(keys.write(folder.path()));
    }

    void start(bool requireKeys)
    {
        ServerConfig config;
        config.programFolder = folder.path();
        config.listenPort = 0;
        config.requireTerminalKeys = requireKeys;
        server = std::make_unique<TerminalServer>(config, nullptr, nullptr);
        server->setListening(true);
        ASSERT_TRUE(server->Listening());
        port = static_cast<quint16>(server->PortNo());
    }

    // The server's answer to one HELLO on a connection of its own.
    QString hello(int terminal, const QString& key)
    {
        QString answer;
        test::runTerminal([&] {
            TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
            platform::Status said = client.connectAs(terminal, key.toLatin1());
            answer = said.isOk() ? QStringLiteral("OK") : said.message();
        });
        return answer;
    }

    QTemporaryDir folder;
    TerminalKeys keys;
    QString key3;
    QString key4;
    std::unique_ptr<TerminalServer> server;
    quint16 port = 0;
};

TEST_F(HelloKeyTest, WithRequireTerminalKeysAHelloOverTcpNeedsTheTerminalsOwnKey)
{
    start(true);
    EXPECT_EQ(hello(3, QString()), QStringLiteral("HELLO refused: ERR terminal 3 must give its key (HELLO 3 <key>)"));
    EXPECT_EQ(hello(3, key3), QStringLiteral("OK"));
    EXPECT_EQ(hello(3, key4), QStringLiteral("HELLO refused: ERR that key is not terminal 3's"));
    EXPECT_EQ(hello(3, QStringLiteral("guessed")), QStringLiteral("HELLO refused: ERR wrong key for terminal 3"));
    EXPECT_EQ(hello(5, QString()), QStringLiteral("HELLO refused: ERR terminal 5 must give its key (HELLO 5 <key>)"));
    test::spin(50);
    ASSERT_OK(readKeyUse(folder.path())); // written only now and then
    EXPECT_EQ(server->keyRing().lastUses().value(3).protocol, kUsedOverV1);
}

// Without its key nobody takes an enrolled terminal's session over; with it, the terminal reconnects at once.
TEST_F(HelloKeyTest, OnlyTheKeyTakesAnEnrolledTerminalsSessionOver)
{
    start(false);
    QString keyless;
    QString owner;
    QString keyed;
    test::runTerminal([&] {
        TerminalClient first(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(first.connectAs(3, key3.toLatin1()));
        TerminalClient intruder(QStringLiteral("127.0.0.1"), port, 5000);
        platform::Status refused = intruder.connectAs(3);
        keyless = refused.message();
        owner = first.put(QStringLiteral("x.txt"), "still mine").isOk() ? QStringLiteral("OK") : QStringLiteral("cut");
        TerminalClient again(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(again.connectAs(3, key3.toLatin1()));
        keyed = QString::fromLatin1(*first.readLine());
    });
    EXPECT_EQ(keyless,
              QStringLiteral("HELLO refused: ERR terminal 3 is connected; only its key takes its session over"));
    EXPECT_EQ(owner, QStringLiteral("OK"));
    EXPECT_EQ(keyed, QStringLiteral("ERR terminal 3 connected again"));
    // A terminal that is not enrolled keeps the reconnect rule as it was.
    EXPECT_EQ(hello(7, QString()), QStringLiteral("OK"));
}

TEST_F(HelloKeyTest, TenWrongKeysHoldTheAddressOffEvenWithTheRightKey)
{
    start(false);
    for (int i = 0; i < KeyGuard::kMaxFailures; ++i) {
        EXPECT_EQ(hello(3, QStringLiteral("guess%1").arg(i)),
                  QStringLiteral("HELLO refused: ERR wrong key for terminal 3"));
    }
    EXPECT_TRUE(hello(3, key3).startsWith(QStringLiteral("HELLO refused: ERR too many wrong keys from this address")));
    EXPECT_TRUE(hello(9, QString()).startsWith(QStringLiteral("HELLO refused: ERR too many wrong keys")));
    EXPECT_EQ(server->keyGuard().failures(), KeyGuard::kMaxFailures);
    ASSERT_EQ(server->keyGuard().heldOff(QDateTime::currentDateTime()).size(), 1);
}

TEST_F(HelloKeyTest, ARevokedKeysSessionEndsWithinTwoSeconds)
{
    start(false);
    QString ended;
    std::atomic<bool> connected(false);
    test::runTerminals({[&] {
                            TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
                            ASSERT_OK(client.connectAs(4, key4.toLatin1()));
                            connected = true;
                            platform::Result<QByteArray> line = client.readLine();
                            ended = line.isOk() ? QString::fromLatin1(*line) : line.status().message();
                        },
                        [&] {
                            while (!connected) {
                                QThread::msleep(5);
                            }
                            TerminalKeys revoked = *TerminalKeys::read(folder.path());
                            revoked.revoke(4);
                            ASSERT_OK(revoked.write(folder.path()));
                        }},
                       4000);
    EXPECT_EQ(ended, QStringLiteral("ERR the key of terminal 4 changed"));
    EXPECT_FALSE(server->keyRing().isEnrolled(4));
}

} // namespace
} // namespace kavelo::transfer
