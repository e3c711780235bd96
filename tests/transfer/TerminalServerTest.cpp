#include "transfer/TerminalServer.h"

#include "client/TerminalClient.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTcpServer>
#include <QMutex>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

namespace kavelo::transfer {
namespace {

using client::TerminalClient;
using platform::Status;
using wire::isAllowed;
using wire::kPortIp;
using wire::kReceiving;
using wire::parseAllowFrom;
using wire::putLine;
using wire::Subnet;

TEST(AllowFromTest, DefaultIsLoopbackAndPrivateRanges)
{
    const QList<Subnet> allowed = parseAllowFrom(QString());
    struct Case
    {
        const char* address;
        bool allowed;
    };
    const Case cases[] = {
        {"127.0.0.1", true},
        {"127.255.1.2", true},
        {"::1", true},
        {"10.1.2.3", true},
        {"172.16.0.1", true},
        {"172.31.255.255", true},
        {"172.32.0.1", false},
        {"192.168.1.20", true},
        {"192.169.0.1", false},
        {"8.8.8.8", false},
        {"fd00::1", true},
        {"fe80::1", true},
        {"2001:db8::1", false},
        {"::ffff:192.168.1.5", true},
        {"::ffff:8.8.8.8", false},
        {"::ffff:127.0.0.1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(isAllowed(QHostAddress(QString::fromLatin1(c.address)), allowed), c.allowed);
    }
}

TEST(AllowFromTest, ExplicitListAndBadEntries)
{
    QStringList invalid;
    const QList<Subnet> allowed =
        parseAllowFrom(QStringLiteral(" 192.0.2.7 , 198.51.100.0/24,nonsense,10.0.0.0/99"), &invalid);
    EXPECT_EQ(allowed.size(), 2);
    EXPECT_EQ(invalid, (QStringList{QStringLiteral("nonsense"), QStringLiteral("10.0.0.0/99")}));
    EXPECT_TRUE(isAllowed(QHostAddress(QStringLiteral("192.0.2.7")), allowed));
    EXPECT_FALSE(isAllowed(QHostAddress(QStringLiteral("192.0.2.8")), allowed));
    EXPECT_TRUE(isAllowed(QHostAddress(QStringLiteral("198.51.100.200")), allowed));
    EXPECT_FALSE(isAllowed(QHostAddress(QStringLiteral("127.0.0.1")), allowed));
}

// The built-in server alone, on loopback port 0, recording its events.
class TerminalServerTest : public ::testing::Test
{
  protected:
    void SetUp() override { start(); }

    void start(ServerConfig overrides = {})
    {
        ServerConfig config = overrides;
        config.programFolder = folder.path();
        config.listenPort = 0;
        events.clear();
        server =
            std::make_unique<TerminalServer>(config, nullptr, [this](const QString& message) { reports << message; });
        QObject::connect(server.get(), &CommServer::ListenStarted, [this] { events << QStringLiteral("started"); });
        QObject::connect(server.get(), &CommServer::ListenStopped, [this] { events << QStringLiteral("stopped"); });
        QObject::connect(server.get(),
                         &CommServer::TransferStatus,
                         [this](qint16 kind, const QString& name, const QVariant&, const QVariant&) {
                             events << QStringLiteral("%1 %2 t%3").arg(kind).arg(name).arg(server->TerminalNo());
                         });
        server->setListening(true);
        ASSERT_TRUE(server->Listening());
        port = static_cast<quint16>(server->PortNo());
    }

    QStringList programFiles() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir folder;
    std::unique_ptr<TerminalServer> server;
    quint16 port = 0;
    QStringList events;
    QStringList reports;
};

TEST_F(TerminalServerTest, PropertiesWhileListening)
{
    EXPECT_EQ(server->PortKind(), kPortIp);
    EXPECT_EQ(server->IPAddress(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(events, QStringList{QStringLiteral("started")});
    server->setListening(true); // already listening: nothing
    EXPECT_EQ(events.size(), 1);
}

TEST_F(TerminalServerTest, ListeningRemovesUnfinishedUploadsOfAnEarlierRun)
{
    server->setListening(false);
    test::writeFile(folder.filePath(QStringLiteral(".kavelo-upload-Ab12Cd")), "half");
    test::writeFile(folder.filePath(QStringLiteral("S_HACH.dat")), "kept");
    server->setListening(true);
    EXPECT_EQ(programFiles(), QStringList{QStringLiteral("S_HACH.dat")});
}

TEST_F(TerminalServerTest, ABindFailureRaisesNothingAndIsReported)
{
    ServerConfig config;
    config.programFolder = folder.path();
    config.listenPort = port; // taken by the first server
    TerminalServer second(config, nullptr, [this](const QString& message) { reports << message; });
    bool started = false;
    QObject::connect(&second, &CommServer::ListenStarted, [&started] { started = true; });
    second.setListening(true);
    EXPECT_FALSE(second.Listening());
    EXPECT_FALSE(started);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports.first().contains(QString::number(port)));
}

// The port still held by an instance that is stopping, an address not up yet at boot: the server is not deaf for
// good, it binds as soon as it can, and says so once.
TEST_F(TerminalServerTest, AnAddressThatCannotBeBoundIsTriedAgainUntilItCan)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    ServerConfig config;
    config.programFolder = folder.path();
    config.listenPort = holder.serverPort();
    config.retryMs = 100;
    TerminalServer waiting(config, nullptr, [this](const QString& message) { reports << message; });
    int started = 0;
    QObject::connect(&waiting, &CommServer::ListenStarted, [&started] { ++started; });
    waiting.setListening(true);
    EXPECT_FALSE(waiting.Listening());
    test::spin(350);
    EXPECT_EQ(reports.size(), 1); // not every few seconds
    holder.close();
    test::spin(350);
    EXPECT_TRUE(waiting.Listening());
    EXPECT_EQ(started, 1);
    EXPECT_EQ(waiting.PortNo(), config.listenPort);
}

TEST_F(TerminalServerTest, TerminalNoIsTheSessionsDuringItsEvents)
{
    test::runTerminal([this] {
        TerminalClient client(QStringLiteral("127.0.0.1"), port);
        ASSERT_OK(client.connectAs(42));
        ASSERT_OK(client.put(QStringLiteral("x.txt"), "abc"));
        ASSERT_OK(client.bye());
    });
    EXPECT_EQ(
        events.mid(1),
        (QStringList{QStringLiteral("1 x.txt t42"), QStringLiteral("2 x.txt t42"), QStringLiteral("3 x.txt t42")}));
    EXPECT_EQ(test::readFile(folder.filePath(QStringLiteral("x.txt"))), QByteArray("abc"));
}

TEST_F(TerminalServerTest, IdleSessionsAreClosedAndPartialUploadsDiscarded)
{
    ServerConfig config;
    config.idleTimeoutMs = 300;
    start(config);
    Status reply;
    test::runTerminal([&] {
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(client.connectAs(2));
        ASSERT_OK(client.sendRaw(putLine(QStringLiteral("S_TANA.dat"), 100, 0) + "partial"));
        platform::Result<QByteArray> line = client.readLine();
        reply = line.isOk() ? Status::error(QString::fromLatin1(*line)) : line.status();
        EXPECT_FALSE(client.readLine().isOk()); // closed
    });
    EXPECT_EQ(reply.message(), QStringLiteral("ERR idle timeout"));
    EXPECT_TRUE(events.contains(QStringLiteral("4 S_TANA.dat t2")));
    test::spin(50);
    EXPECT_TRUE(programFiles().isEmpty()) << programFiles().join(QLatin1Char(' ')).toStdString();
}

TEST_F(TerminalServerTest, StopListeningMidUploadDiscardsIt)
{
    QObject::connect(server.get(),
                     &CommServer::TransferStatus,
                     [this](qint16 kind, const QString&, const QVariant&, const QVariant&) {
                         if (kind == kReceiving) {
                             QTimer::singleShot(100, server.get(), [this] { server->setListening(false); });
                         }
                     });
    test::runTerminal([&] {
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(client.connectAs(3));
        ASSERT_OK(client.sendRaw(putLine(QStringLiteral("S_HACH.dat"), 100, 0) + "partial"));
        platform::Result<QByteArray> line = client.readLine();
        ASSERT_OK(line);
        EXPECT_EQ(*line, QByteArray("ERR listening stopped"));
        EXPECT_FALSE(client.readLine().isOk()); // closed
    });
    EXPECT_FALSE(server->Listening());
    EXPECT_TRUE(events.contains(QStringLiteral("4 S_HACH.dat t3")));
    EXPECT_EQ(events.last(), QStringLiteral("stopped"));
    test::spin(50);
    EXPECT_TRUE(programFiles().isEmpty());
}

// With one place, a second terminal waits after its HELLO; the wait is not its idle time.
TEST_F(TerminalServerTest, ATerminalBeyondMaxSessionsWaitsWithoutTimingOut)
{
    ServerConfig config;
    config.maxSessions = 1;
    config.idleTimeoutMs = 300;
    start(config);
    QStringList order;
    QMutex mutex;
    auto note = [&](const QString& what) {
        QMutexLocker lock(&mutex);
        order << what;
    };
    std::atomic<bool> firstIn(false);
    test::runTerminals({[&] {
                            TerminalClient client(QStringLiteral("127.0.0.1"), port);
                            ASSERT_OK(client.connectAs(1));
                            note(QStringLiteral("1 hello"));
                            firstIn = true;
                            for (int i = 0; i < 10; ++i) { // a second in all, never idle itself
                                ASSERT_OK(client.sendRaw("GET\n"));
                                ASSERT_OK(client.readLine());
                                QThread::msleep(100);
                            }
                            note(QStringLiteral("1 bye"));
                            ASSERT_OK(client.bye());
                        },
                        [&] {
                            while (!firstIn) {
                                QThread::msleep(5);
                            }
                            TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
                            ASSERT_OK(client.connectAs(2));
                            note(QStringLiteral("2 hello"));
                            ASSERT_OK(client.put(QStringLiteral("a.txt"), "2"));
                            ASSERT_OK(client.bye());
                        }});
    EXPECT_EQ(order, (QStringList{QStringLiteral("1 hello"), QStringLiteral("1 bye"), QStringLiteral("2 hello")}));
}

// A dropped Wi-Fi link leaves a half-open session behind: the terminal's new HELLO ends it, at once, even when every
// place is taken, and the older session's unfinished upload is discarded.
TEST_F(TerminalServerTest, AReconnectingTerminalTakesOverItsOlderSession)
{
    ServerConfig config;
    config.maxSessions = 1;
    start(config);
    QByteArray oldReply;
    test::runTerminal([&] {
        TerminalClient old(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(old.connectAs(5));
        ASSERT_OK(old.sendRaw(putLine(QStringLiteral("S_HACH.dat"), 100, 0) + "half of it"));
        QThread::msleep(100);
        TerminalClient fresh(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(fresh.connectAs(5));
        ASSERT_OK(fresh.put(QStringLiteral("x.txt"), "whole"));
        platform::Result<QByteArray> line = old.readLine();
        oldReply = line.isOk() ? *line : QByteArray("(none)");
        EXPECT_FALSE(old.readLine().isOk()); // closed
        ASSERT_OK(fresh.bye());
    });
    EXPECT_EQ(oldReply, QByteArray("ERR terminal 5 connected again"));
    EXPECT_TRUE(events.contains(QStringLiteral("4 S_HACH.dat t5")));
    test::spin(50);
    EXPECT_EQ(programFiles(), QStringList{QStringLiteral("x.txt")});
}

// Silent connections never take a session's place: beyond MaxStartups the oldest goes, and one that says nothing
// is closed after the HELLO time.
TEST_F(TerminalServerTest, SilentConnectionsCannotKeepATerminalOut)
{
    ServerConfig config;
    config.maxStartups = 2;
    config.maxSessions = 1;
    config.helloTimeoutMs = 2000;
    start(config);
    bool oldestClosed = false;
    QByteArray lateReply;
    test::runTerminal([&] {
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int i = 0; i < 3; ++i) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
            ASSERT_TRUE(silent.back()->waitForConnected(5000));
            QThread::msleep(50); // accepted in this order
        }
        oldestClosed =
            !silent.front()->waitForReadyRead(1000) && silent.front()->state() != QAbstractSocket::ConnectedState;
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(client.connectAs(7));
        ASSERT_OK(client.bye());
        ASSERT_TRUE(silent.back()->waitForReadyRead(5000));
        lateReply = silent.back()->readLine();
    });
    EXPECT_TRUE(oldestClosed);
    EXPECT_EQ(lateReply, QByteArray("ERR no HELLO in time\n"));
}

// New settings while serving: a session on an unchanged listener goes on (under the limits it started with) and new
// sessions get the new ones; a moved listener is bound anew and ends only its own sessions.
TEST_F(TerminalServerTest, ReconfiguringKeepsTheSessionsItDoesNotConcern)
{
    ServerConfig config;
    config.programFolder = folder.path();
    config.listenPort = test::freePort();
    server = std::make_unique<TerminalServer>(config, nullptr, nullptr);
    server->setListening(true);
    ASSERT_TRUE(server->Listening());
    const quint16 first = config.listenPort;
    auto reconfigure = [this](ServerConfig next) {
        QMetaObject::invokeMethod(
            server.get(), [&] { server->reconfigure(next); }, Qt::BlockingQueuedConnection);
    };
    QByteArray ended;
    Status moved;
    Status old;
    test::runTerminal([&] {
        TerminalClient kept(QStringLiteral("127.0.0.1"), first, 5000);
        ASSERT_OK(kept.connectAs(1));
        ServerConfig smaller = config;
        smaller.maxFileSize = 10;
        reconfigure(smaller);
        EXPECT_OK(kept.put(QStringLiteral("a.txt"), QByteArray(20, 'a')));
        TerminalClient fresh(QStringLiteral("127.0.0.1"), first, 5000);
        ASSERT_OK(fresh.connectAs(2));
        EXPECT_EQ(fresh.put(QStringLiteral("b.txt"), QByteArray(20, 'b')).message(),
                  QStringLiteral("PUT b.txt: ERR file too large (limit 10 bytes)"));

        ServerConfig elsewhere = smaller;
        elsewhere.listenPort = test::freePort();
        reconfigure(elsewhere);
        platform::Result<QByteArray> line = kept.readLine();
        ended = line.isOk() ? *line : QByteArray("(closed)");
        TerminalClient there(QStringLiteral("127.0.0.1"), elsewhere.listenPort, 5000);
        moved = there.connectAs(3);
        TerminalClient gone(QStringLiteral("127.0.0.1"), first, 2000);
        old = gone.connectAs(4);
    });
    EXPECT_EQ(ended, QByteArray("ERR the listening address changed"));
    EXPECT_OK(moved);
    EXPECT_FALSE(old.isOk());
    EXPECT_TRUE(server->Listening());
    EXPECT_EQ(test::readFile(folder.filePath(QStringLiteral("a.txt"))), QByteArray(20, 'a'));
}

TEST_F(TerminalServerTest, ConnectionsFromOutsideAllowFromAreClosedAtOnce)
{
    ServerConfig config;
    config.allowFrom = QStringLiteral("192.0.2.0/24");
    start(config);
    Status status;
    test::runTerminal([&] {
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
        status = client.connectAs(1);
    });
    EXPECT_FALSE(status.isOk());
    EXPECT_EQ(events, QStringList{QStringLiteral("started")});
}

} // namespace
} // namespace kavelo::transfer
