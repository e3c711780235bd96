// Terminals on a serial line: the real server serving one end of a pseudo-terminal pair made by socat, a terminal
// (or the simulator) on the other end.
#include "client/TerminalClient.h"
#include "support/PtyPair.h"
#include "support/RecordingOperatorUi.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"
#include "wire/SerialLine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <atomic>

namespace kavelo::wire {
namespace {

using client::TerminalClient;
using platform::Status;
using transfer::CommServer;
using transfer::ServerConfig;
using transfer::TerminalServer;

class SerialLineTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_FALSE(test::PtyPair::socat().isEmpty()) << "socat is needed (scripts/install-deps installs it)";
        ASSERT_TRUE(pty.running());
    }

    void serve(int idleTimeoutMs = 30000)
    {
        ServerConfig config;
        config.programFolder = home.home();
        config.listenPort = 0;
        config.serialPort = pty.serverEnd();
        config.idleTimeoutMs = idleTimeoutMs;
        config.retryMs = 200;
        server = std::make_unique<TerminalServer>(config, nullptr, [this](const QString& m) { reports << m; });
        filing = std::make_unique<transfer::UploadFiling>(exchange::FolderTree(home.dataRoot(), home.home()));
        server->setSavedFileHandling(filing.get());
        QObject::connect(server.get(),
                         &CommServer::TransferStatus,
                         [this](qint16 kind, const QString& name, const QVariant&, const QVariant&) {
                             events << QStringLiteral("%1 %2 t%3 k%4")
                                           .arg(kind)
                                           .arg(name)
                                           .arg(server->TerminalNo())
                                           .arg(server->PortKind());
                         });
        server->setListening(true);
        ASSERT_TRUE(server->Listening());
        ASSERT_TRUE(server->serialLine() && server->serialLine()->isOpen());
    }

    // Lets the server run until `done` holds (or fails after 10 s).
    void serveUntil(const std::function<bool()>& done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 10000) {
            test::spin(20);
        }
        ASSERT_TRUE(done());
    }

    TerminalClient::SerialLine line() const { return {pty.terminalEnd(), 115200}; }

    test::ProgramFolder home;
    test::PtyPair pty;
    test::RecordingOperatorUi ui;
    std::unique_ptr<TerminalServer> server;
    std::unique_ptr<transfer::UploadFiling> filing;
    QStringList events;
    QStringList reports;
};

// The simulator over the line: the order file, then the control file and the masters, compressed.
TEST_F(SerialLineTest, ATerminalsDayOverTheLineWithTheSimulator)
{
    serve();
    const QString orders = home.path(QStringLiteral("out/S_HACH.dat"));
    QDir().mkpath(QFileInfo(orders).path());
    test::writeFile(orders, "0001,4901,10\r\n");
    test::writeFile(home.rcv(3) + QStringLiteral("SHOMAS.csv"), QByteArray(200000, 'p'));
    const QString simulator = test::binaryDir() + QStringLiteral("/kavelo-terminal");
    const QStringList line = {
        QStringLiteral("--serial"), pty.terminalEnd(), QStringLiteral("--terminal"), QStringLiteral("3")};
    QProcess send;
    EXPECT_EQ(test::runProgram(send, simulator, line + QStringList{QStringLiteral("send"), orders}), 0)
        << send.readAllStandardError().toStdString();
    QProcess sync;
    const QString out = home.path(QStringLiteral("out/masters"));
    EXPECT_EQ(
        test::runProgram(sync, simulator, line + QStringList{QStringLiteral("sync"), QStringLiteral("--out"), out}), 0)
        << sync.readAllStandardError().toStdString();
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_HACH.dat")), QByteArray("0001,4901,10\r\n"));
    EXPECT_EQ(QDir(home.backup(3)).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(test::readFile(out + QStringLiteral("/SHOMAS.csv")) == QByteArray(200000, 'p'));
    EXPECT_TRUE(events.contains(QStringLiteral("3 S_HACH.dat t3 k1"))) << events.join(u'|').toStdString();
}

// A line has no connection to close: after BYE, after noise and after a broken command, the next HELLO starts the
// next session.
TEST_F(SerialLineTest, SessionsFollowOneAnotherThroughNoiseAndBrokenCommands)
{
    serve();
    test::runTerminal([&] {
        TerminalClient client(line(), 5000);
        ASSERT_OK(client.connectAs(1));
        ASSERT_OK(client.put(QStringLiteral("S_TANA.dat"), "one"));
        ASSERT_OK(client.bye());
        ASSERT_OK(client.sendRaw(QByteArray("\x00\xff\x13 line noise \x82\xa0\r\nHELL", 24) + "\n"));
        ASSERT_OK(client.connectAs(1));
        ASSERT_OK(client.sendRaw("BOGUS\n"));
        platform::Result<QByteArray> refused = client.readLine();
        ASSERT_OK(refused);
        EXPECT_EQ(*refused, QByteArray("ERR unknown command"));
        ASSERT_OK(client.connectAs(2));
        ASSERT_OK(client.put(QStringLiteral("S_TANA.dat"), "two"));
        ASSERT_OK(client.bye());
    });
    EXPECT_EQ(test::readFile(home.snd(1) + QStringLiteral("S_TANA.dat")), QByteArray("one"));
    EXPECT_EQ(test::readFile(home.snd(2) + QStringLiteral("S_TANA.dat")), QByteArray("two"));
}

// A terminal pulled from its cradle in the middle of an upload, or one that stops reading in the middle of its
// masters: the session ends after the idle time, its upload discarded, and the line serves the next terminal.
TEST_F(SerialLineTest, ACutOffUploadOrAStalledReaderCostsOnlyItsSession)
{
    serve(500);
    test::writeFile(home.rcv(5) + QStringLiteral("SHOMAS.csv"), QByteArray(2 * 1024 * 1024, 's'));
    test::runTerminal([&] {
        TerminalClient client(line(), 5000);
        ASSERT_OK(client.connectAs(5));
        ASSERT_OK(client.sendRaw(putLine(QStringLiteral("S_HACH.dat"), 100, 0) + "the first half"));
        platform::Result<QByteArray> cut = client.readLine(); // after the idle time
        ASSERT_OK(cut);
        EXPECT_EQ(*cut, QByteArray("ERR idle timeout"));

        ASSERT_OK(client.connectAs(5));
        ASSERT_OK(client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
        ASSERT_OK(client.sendRaw("GET\n")); // and read nothing: the line fills up
        QThread::msleep(1500);
        EXPECT_FALSE(client.drain(300).isEmpty()); // what the line still held: thrown away

        ASSERT_OK(client.sendRaw("\n"));
        ASSERT_OK(client.connectAs(5));
        ASSERT_OK(client.put(QStringLiteral("S_HACH.dat"), "whole"));
        ASSERT_OK(client.bye());
    });
    EXPECT_EQ(test::readFile(home.snd(5) + QStringLiteral("S_HACH.dat")), QByteArray("whole"));
    EXPECT_TRUE(QDir(home.home()).entryList({QStringLiteral(".kavelo-*")}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(SerialLineTest, AnIpSessionIsServedWhileALineSessionIsOpen)
{
    serve();
    const quint16 port = static_cast<quint16>(server->PortNo());
    std::atomic<int> step(0);
    test::runTerminals({[&] {
                            TerminalClient client(line(), 5000);
                            ASSERT_OK(client.connectAs(1));
                            step = 1;
                            while (step < 2) {
                                QThread::msleep(5);
                            }
                            ASSERT_OK(client.put(QStringLiteral("S_HACH.dat"), "by the line"));
                            ASSERT_OK(client.bye());
                        },
                        [&] {
                            while (step < 1) {
                                QThread::msleep(5);
                            }
                            TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
                            ASSERT_OK(client.connectAs(2));
                            ASSERT_OK(client.put(QStringLiteral("S_HACH.dat"), "by IP"));
                            ASSERT_OK(client.bye());
                            step = 2;
                        }});
    EXPECT_EQ(test::readFile(home.snd(1) + QStringLiteral("S_HACH.dat")), QByteArray("by the line"));
    EXPECT_EQ(test::readFile(home.snd(2) + QStringLiteral("S_HACH.dat")), QByteArray("by IP"));
    EXPECT_TRUE(events.contains(QStringLiteral("3 S_HACH.dat t2 k3")));
    EXPECT_TRUE(events.contains(QStringLiteral("3 S_HACH.dat t1 k1")));
}

// The USB unit pulled out and plugged in again: the line is served again without anyone doing anything.
TEST_F(SerialLineTest, TheLineIsServedAgainWhenItComesBack)
{
    serve();
    pty.stop();
    serveUntil([this] { return !server->serialLine()->isOpen(); });
    EXPECT_FALSE(server->serialLine()->problem().isEmpty());
    EXPECT_TRUE(server->Listening()); // IP goes on
    ASSERT_TRUE(pty.start());
    serveUntil([this] { return server->serialLine()->isOpen(); });
    test::runTerminal([&] {
        TerminalClient client(line(), 5000);
        ASSERT_OK(client.connectAs(4));
        ASSERT_OK(client.put(QStringLiteral("S_TANA.dat"), "back"));
        ASSERT_OK(client.bye());
    });
    EXPECT_EQ(test::readFile(home.snd(4) + QStringLiteral("S_TANA.dat")), QByteArray("back"));
}

// SerialPort counts as a port that can be served and is offered at the USB search, even though the system's list
// of USB ports does not show a pseudo-terminal.
TEST_F(SerialLineTest, SerialPortIsCountedAndOfferedAtTheUsbSearch)
{
    ServerConfig config;
    config.programFolder = home.home();
    config.serialPort = pty.serverEnd();
    QStringList offered;
    TerminalServer chooser(
        config,
        [&offered](const QStringList& ports) -> std::optional<int> {
            offered = ports;
            return static_cast<int>(ports.size()) - 1;
        },
        nullptr);
    EXPECT_GE(chooser.CountUsbPorts(2048), 1);
    EXPECT_TRUE(chooser.ChooseUsbPort());
    EXPECT_EQ(offered.last(), pty.serverEnd());
    EXPECT_EQ(chooser.servedPort(), pty.serverEnd());
}

TEST_F(SerialLineTest, OnlyCharacterDevicesAreServed)
{
    const QString file = home.path(QStringLiteral("not-a-port"));
    test::writeFile(file, "x");
    EXPECT_FALSE(SerialLine::checkPort(file).isOk());
    EXPECT_TRUE(SerialLine::checkPort(file).message().contains(file));
    EXPECT_FALSE(SerialLine::checkPort(home.home()).isOk());
    EXPECT_OK(SerialLine::checkPort(pty.serverEnd()));                      // a pseudo-terminal's link
    EXPECT_OK(SerialLine::checkPort(home.path(QStringLiteral("ttyUSB9")))); // not there yet: tried until it comes
    EXPECT_OK(SerialLine::checkPort(QStringLiteral("ttyS0")));              // a port name

    // Refused at listening, with a message; IP listening goes on.
    ServerConfig config;
    config.programFolder = home.home();
    config.listenPort = 0;
    config.serialPort = file;
    TerminalServer refusing(config, nullptr, [this](const QString& m) { reports << m; });
    refusing.setListening(true);
    EXPECT_TRUE(refusing.Listening());
    EXPECT_EQ(refusing.serialLine(), nullptr);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports.first().contains(file));
}

} // namespace
} // namespace kavelo::wire
