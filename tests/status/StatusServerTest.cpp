// The status server on loopback: what it answers, and that clients which stall, trickle or flood it are cut off
// while terminals are served in the same event loop.
#include "status/StatusServer.h"

#include "client/TerminalClient.h"
#include "status/StatusBoard.h"
#include "support/HttpProbe.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"
#include "transfer/TerminalServer.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

namespace kavelo::status {
namespace {

class StatusServerTest : public ::testing::Test
{
  protected:
    void start(StatusServerConfig config = {})
    {
        config.port = 0;
        config.deadlineMs = deadlineMs;
        config.maxConnections = 4;
        server = std::make_unique<StatusServer>(config, board, [] {
            LiveState live;
            live.version = QStringLiteral("1.0.0");
            live.listening = true;
            return live;
        });
        ASSERT_OK(server->listen());
        port = server->port();
    }

    int deadlineMs = 800;
    StatusBoard board;
    std::unique_ptr<StatusServer> server;
    quint16 port = 0;
};

TEST_F(StatusServerTest, AnswersItsThreePathsToGetAndHeadOnly)
{
    start();
    std::map<QByteArray, test::HttpReply> replies;
    test::runTerminal([&] {
        for (const QByteArray& path : {QByteArray("/"),
                                       QByteArray("/status"),
                                       QByteArray("/metrics"),
                                       QByteArray("/status?terminal=3"),
                                       QByteArray("/nope"),
                                       QByteArray("/../KAVELO.ini"),
                                       QByteArray("/status/../../etc/passwd")}) {
            replies[path] = test::httpGet(port, path);
        }
        replies["POST"] = test::httpExchange(port, "POST /status HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nhi");
        replies["DELETE"] = test::httpExchange(port, "DELETE / HTTP/1.1\r\nHost: x\r\n\r\n");
        replies["HEAD"] = test::httpExchange(port, "HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n", true);
    });
    EXPECT_EQ(replies["/"].status, 200);
    EXPECT_TRUE(replies["/"].head.contains("text/html; charset=utf-8"));
    EXPECT_TRUE(replies["/"].body.contains("KAVELO 稼働状況"));
    EXPECT_FALSE(replies["/"].body.contains("http://")) << "no resource from outside";
    EXPECT_EQ(replies["/status"].status, 200);
    EXPECT_EQ(replies["/metrics"].status, 200);
    EXPECT_EQ(replies["/status?terminal=3"].status, 200);
    for (const char* path : {"/nope", "/../KAVELO.ini", "/status/../../etc/passwd"}) {
        EXPECT_EQ(replies[path].status, 404) << path;
    }
    EXPECT_EQ(replies["POST"].status, 405);
    EXPECT_TRUE(replies["POST"].head.contains("Allow: GET, HEAD"));
    EXPECT_EQ(replies["DELETE"].status, 405);
    EXPECT_EQ(replies["HEAD"].status, 200);
    EXPECT_TRUE(
        replies["HEAD"].head.contains("Content-Length: " + QByteArray::number(replies["/metrics"].body.size())));
    EXPECT_TRUE(replies["HEAD"].extra.isEmpty()) << replies["HEAD"].extra.toStdString();
}

// Connections that read nothing, a request a byte at a time, a 1 MB header: each is cut off, a terminal is served
// meanwhile in the same event loop, and the page answers afterwards.
TEST_F(StatusServerTest, StalledTricklingAndFloodingClientsAreCutOff)
{
    start();
    QTemporaryDir folder;
    transfer::ServerConfig terminalConfig;
    terminalConfig.programFolder = folder.path();
    terminalConfig.listenPort = 0;
    transfer::TerminalServer terminals(terminalConfig, nullptr, nullptr);
    terminals.setListening(true);
    const auto terminalPort = static_cast<quint16>(terminals.PortNo());
    bool silentCut = false;
    bool trickleCut = false;
    bool floodCut = false;
    qint64 terminalMs = -1;
    test::HttpReply after;
    test::runTerminals({[&] {
                            QTcpSocket silent;
                            silent.connectToHost(QStringLiteral("127.0.0.1"), port);
                            silent.waitForConnected(2000);
                            silent.waitForDisconnected(deadlineMs * 4);
                            silentCut = silent.state() == QAbstractSocket::UnconnectedState;
                        },
                        [&] {
                            QTcpSocket trickle;
                            trickle.connectToHost(QStringLiteral("127.0.0.1"), port);
                            trickle.waitForConnected(2000);
                            const QByteArray request = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                            for (char c : request) {
                                if (trickle.state() != QAbstractSocket::ConnectedState) {
                                    break;
                                }
                                trickle.write(&c, 1);
                                trickle.waitForBytesWritten(200);
                                QThread::msleep(100);
                            }
                            trickleCut = trickle.state() == QAbstractSocket::UnconnectedState ||
                                         trickle.waitForDisconnected(deadlineMs * 2);
                        },
                        [&] {
                            QTcpSocket flood;
                            flood.connectToHost(QStringLiteral("127.0.0.1"), port);
                            flood.waitForConnected(2000);
                            QByteArray header = "GET / HTTP/1.1\r\nX-Junk: " + QByteArray(1024 * 1024, 'a');
                            flood.write(header);
                            while (flood.bytesToWrite() > 0 && flood.waitForBytesWritten(deadlineMs * 2)) {
                            }
                            floodCut = flood.waitForDisconnected(deadlineMs * 4) ||
                                       flood.state() == QAbstractSocket::UnconnectedState;
                        },
                        [&] {
                            QThread::msleep(100);
                            QElapsedTimer timer;
                            timer.start();
                            client::TerminalClient client(QStringLiteral("127.0.0.1"), terminalPort, 5000);
                            ASSERT_OK(client.connectAs(3));
                            ASSERT_OK(client.put(QStringLiteral("x.txt"), "served"));
                            ASSERT_OK(client.bye());
                            terminalMs = timer.elapsed();
                        }});
    test::runTerminal([&] { after = test::httpGet(port, "/status"); });
    EXPECT_TRUE(silentCut);
    EXPECT_TRUE(trickleCut);
    EXPECT_TRUE(floodCut);
    EXPECT_GE(terminalMs, 0);
    EXPECT_EQ(after.status, 200);
}

TEST_F(StatusServerTest, AddressesOutsideStatusAllowFromGetNothing)
{
    StatusServerConfig config;
    config.allowed = wire::parseAllowFrom(QStringLiteral("192.0.2.0/24"));
    start(config);
    test::HttpReply reply;
    test::runTerminal([&] { reply = test::httpGet(port, "/status"); });
    EXPECT_EQ(reply.status, 0);
}

TEST_F(StatusServerTest, APortInUseIsAnErrorNamingIt)
{
    start();
    StatusServerConfig taken;
    taken.port = port;
    StatusServer third(taken, board, [] { return LiveState{}; });
    const platform::Status bound = third.listen();
    ASSERT_FALSE(bound.isOk());
    EXPECT_TRUE(bound.message().contains(QString::number(port)));
}

} // namespace
} // namespace kavelo::status
