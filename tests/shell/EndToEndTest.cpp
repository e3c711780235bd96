// The whole road of a terminal's day: the real server on loopback, terminals speaking the protocol.

#include "client/TerminalClient.h"
#include "shell/Service.h"
#include "support/EventWait.h"
#include "support/RecordingOperatorUi.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace kavelo::shell {
namespace {

using client::TerminalClient;
using platform::Status;

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class EndToEndTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        platform::Result<Settings> settings = ReadSettings(home.home());
        ASSERT_OK(settings);
        service = std::make_unique<Service>(*settings, ui);
        ASSERT_TRUE(service->start());
        ASSERT_TRUE(service->server().Listening());
        port = static_cast<quint16>(service->server().PortNo());
        ASSERT_NE(port, 0);
        initialProgramFiles = filesIn(home.home());
    }

    void TearDown() override
    {
        if (service) {
            service->stop();
        }
    }

    QString program(const QString& name) const { return home.path(name); }

    // One session of terminal `terminal`: HELLO, then `work`; BYE when it succeeded.
    Status session(int terminal, const std::function<Status(TerminalClient&)>& work)
    {
        Status result;
        test::runTerminal([&] { result = sessionOnThisThread(terminal, work); });
        return result;
    }

    Status sessionOnThisThread(int terminal, const std::function<Status(TerminalClient&)>& work)
    {
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 20000);
        Status status = client.connectAs(terminal);
        if (status.isOk()) {
            status = work(client);
        }
        if (status.isOk()) {
            status = client.bye();
        }
        return status;
    }

    // CTRL.csv, then GET into a fresh folder; the names received.
    platform::Result<QStringList> sync(int terminal, const QString& out)
    {
        platform::Result<QStringList> received = Status::error(QStringLiteral("not run"));
        Status status = session(terminal, [&](TerminalClient& client) {
            Status put = client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n");
            if (!put.isOk()) {
                return put;
            }
            received = client.get(out);
            return received.isOk() ? Status::ok() : received.status();
        });
        if (!status.isOk()) {
            return status;
        }
        return received;
    }

    test::ProgramFolder home{{QStringLiteral("ListenPort=0")}};
    test::RecordingOperatorUi ui;
    std::unique_ptr<Service> service;
    quint16 port = 0;
    QStringList initialProgramFiles;
};

TEST_F(EndToEndTest, TheDayOfOneTerminal)
{
    // The terminal sends its order and stocktaking data.
    EXPECT_OK(session(3, [](TerminalClient& client) {
        Status s = client.put(QStringLiteral("S_HACH.dat"), test::sjisLines({QStringLiteral("発注 0001")}));
        return s.isOk() ? client.put(QStringLiteral("S_TANA.dat"), "stock\r\n") : s;
    }));
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_HACH.dat")),
              test::sjisLines({QStringLiteral("発注 0001")}));
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_TANA.dat")), QByteArray("stock\r\n"));
    const QStringList backups = filesIn(home.backup(3));
    ASSERT_EQ(backups.size(), 2);
    EXPECT_TRUE(backups.at(0).endsWith(QStringLiteral("_S_HACH.dat")));
    EXPECT_TRUE(backups.at(1).endsWith(QStringLiteral("_S_TANA.dat")));
    EXPECT_EQ(filesIn(home.home()), initialProgramFiles); // the data left the program folder
    EXPECT_TRUE(ui.statusLines.contains(QStringLiteral("S_HACH.dat受信中 :3")));
    EXPECT_TRUE(ui.statusLines.contains(QStringLiteral("S_HACH.dat保存成功 :3")));

    // A product master update file turns up in terminal 3's receive folder; the 30th tick polls it into SHOMAS.csv.
    test::writeFile(home.rcv(3) + QStringLiteral("SHOMAS.dat"),
                    test::sjisLines({test::record({{QStringLiteral("1"), 1},
                                                   {QStringLiteral("4901234567890"), 13},
                                                   {QStringLiteral("000000000123"), 12},
                                                   {QString(), 1},
                                                   {QStringLiteral("緑茶500ml"), 20},
                                                   {QStringLiteral("ﾘｮｸﾁｬ"), 14},
                                                   {QString(), 120}})}));
    for (int tick = 0; tick < 30; ++tick) {
        service->pollTick();
    }
    EXPECT_EQ(ui.countdown, QStringLiteral("3600"));
    ASSERT_TRUE(test::waitUntil([&] { return !service->pollRunning(); }));
    EXPECT_TRUE(QFile::exists(home.rcv(3) + QStringLiteral("SHOMAS.sav")));
    const QStringList productLines = test::readSjisLines(home.rcv(3) + QStringLiteral("SHOMAS.csv"));
    ASSERT_EQ(productLines.size(), 1);
    EXPECT_TRUE(productLines.first().contains(QStringLiteral("4901234567890,000000000123,緑茶500ml,ﾘｮｸﾁｬ")))
        << productLines.first().toStdString();

    // Masters prepared for terminals 3 and 5; terminal 5 syncs first and leaves its JISYA.csv in the program folder.
    test::writeFile(home.rcv(3) + QStringLiteral("BUNMAS.csv"), "class of 3\r\n");
    test::writeFile(home.rcv(5) + QStringLiteral("JISYA.csv"), "own company of 5\r\n");
    QTemporaryDir out5;
    platform::Result<QStringList> got5 = sync(5, out5.path());
    ASSERT_OK(got5);
    EXPECT_EQ(*got5, QStringList{QStringLiteral("JISYA.csv")});
    EXPECT_TRUE(QFile::exists(program(QStringLiteral("JISYA.csv"))));

    QTemporaryDir out3;
    platform::Result<QStringList> got3 = sync(3, out3.path());
    ASSERT_OK(got3);
    EXPECT_EQ(*got3, (QStringList{QStringLiteral("BUNMAS.csv"), QStringLiteral("SHOMAS.csv")}));
    EXPECT_EQ(test::readFile(out3.filePath(QStringLiteral("SHOMAS.csv"))),
              test::readFile(home.rcv(3) + QStringLiteral("SHOMAS.csv")));
    EXPECT_FALSE(QFile::exists(out3.filePath(QStringLiteral("JISYA.csv")))); // never terminal 5's master
    EXPECT_TRUE(ui.statusLines.contains(QStringLiteral("SHOMAS.csv送信中 :3")));
    EXPECT_TRUE(QFile::exists(home.rcv(3) + QStringLiteral("SHOMAS.csv"))); // staged by copy
}

TEST_F(EndToEndTest, ALowerCaseControlFileIsDeletedAndStagesNothing)
{
    test::writeFile(home.rcv(2) + QStringLiteral("BUNMAS.csv"), "b");
    QTemporaryDir out;
    platform::Result<QStringList> received = Status::error(QStringLiteral("not run"));
    EXPECT_OK(session(2, [&](TerminalClient& client) {
        Status s = client.put(QStringLiteral("ctrl.csv"), "CTRL\r\n");
        received = client.get(out.path());
        return s;
    }));
    ASSERT_OK(received);
    EXPECT_TRUE(received->isEmpty());
    EXPECT_EQ(filesIn(home.home()), initialProgramFiles);
}

TEST_F(EndToEndTest, FailedUploadsLeaveNothingBehind)
{
    test::writeFile(home.snd(4) + QStringLiteral("S_HACH.dat"), "yesterday");
    // A wrong CRC: ERR, and the session goes on.
    EXPECT_OK(session(4, [](TerminalClient& client) {
        Status s = client.putWithCrc(QStringLiteral("S_HACH.dat"), "today", 0x01020304u);
        if (s.isOk() || !s.message().contains(QStringLiteral("ERR crc32 mismatch"))) {
            return Status::error(QStringLiteral("expected a crc32 refusal, got: ") + s.message());
        }
        return Status::ok();
    }));
    // A dropped connection mid-upload.
    test::runTerminal([&] {
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 20000);
        ASSERT_OK(client.connectAs(4));
        ASSERT_OK(client.sendRaw(wire::putLine(QStringLiteral("S_HACH.dat"), 1000, 0) + QByteArray(400, 'x')));
        client.abort();
    });
    test::spin(200);
    // A path: refused before a byte is stored, and closed.
    Status traversal = session(
        4, [](TerminalClient& client) { return client.put(QStringLiteral("../HT/0004/snd/S_HACH.dat"), "evil"); });
    EXPECT_FALSE(traversal.isOk());
    EXPECT_TRUE(traversal.message().contains(QStringLiteral("bad file name"))) << traversal.message().toStdString();
    // A protected name.
    Status settingsFile =
        session(4, [](TerminalClient& client) { return client.put(QStringLiteral("kavelo.INI"), "DATA=/\r\n"); });
    EXPECT_TRUE(settingsFile.message().contains(QStringLiteral("protected"))) << settingsFile.message().toStdString();

    EXPECT_EQ(filesIn(home.home()), initialProgramFiles);
    EXPECT_EQ(test::readFile(home.snd(4) + QStringLiteral("S_HACH.dat")), QByteArray("yesterday"));
    EXPECT_TRUE(filesIn(home.backup(4)).isEmpty());
    EXPECT_TRUE(ui.statusLines.contains(QStringLiteral("S_HACH.dat保存失敗")));
}

TEST_F(EndToEndTest, TerminalTwelveUsesItsOwnFolders)
{
    ASSERT_TRUE(QDir().mkpath(home.snd(12)));
    ASSERT_TRUE(QDir().mkpath(home.backup(12)));
    EXPECT_OK(session(12, [](TerminalClient& client) { return client.put(QStringLiteral("S_HACH.dat"), "12"); }));
    EXPECT_EQ(test::readFile(home.dataRoot() + QStringLiteral("0012/snd/S_HACH.dat")), QByteArray("12"));
    EXPECT_EQ(filesIn(home.backup(12)).size(), 1);
}

TEST_F(EndToEndTest, AFailedFilingIsAnsweredErrAndServingGoesOn)
{
    // Terminal 13 has no folders: the file is saved but cannot be filed.
    Status status = session(13, [](TerminalClient& client) { return client.put(QStringLiteral("S_HACH.dat"), "x"); });
    EXPECT_FALSE(status.isOk());
    EXPECT_TRUE(status.message().contains(QStringLiteral("ERR S_HACH.dat saved but its handling failed")))
        << status.message().toStdString();
    // In Japanese, with the system's reason as it came.
    EXPECT_TRUE(ui.statusLine.startsWith(QStringLiteral("S_HACH.dat処理失敗 :13（"))) << ui.statusLine.toStdString();
    EXPECT_TRUE(ui.statusLine.contains(QStringLiteral("一時ファイルを作成できません: No such file or directory")))
        << ui.statusLine.toStdString();
    EXPECT_TRUE(QFile::exists(program(QStringLiteral("S_HACH.dat")))); // kept, not lost
    EXPECT_OK(session(1, [](TerminalClient& client) { return client.put(QStringLiteral("S_HACH.dat"), "one"); }));
    EXPECT_EQ(test::readFile(home.snd(1) + QStringLiteral("S_HACH.dat")), QByteArray("one"));
}

TEST_F(EndToEndTest, TerminalsConnectingAtOnceAreServedOneAfterTheOther)
{
    const int terminals = 6;
    std::vector<Status> results(terminals);
    std::vector<std::function<void()>> work;
    for (int t = 1; t <= terminals; ++t) {
        work.push_back([this, t, &results] {
            results[t - 1] = sessionOnThisThread(t, [t](TerminalClient& client) {
                const QByteArray content =
                    QByteArray("order of terminal ") + QByteArray::number(t) + QByteArray(200000, 'o');
                Status s = client.put(QStringLiteral("S_HACH.dat"), content);
                return s.isOk() ? client.put(QStringLiteral("S_TANA.dat"), QByteArray::number(t)) : s;
            });
        });
    }
    test::runTerminals(work);
    for (int t = 1; t <= terminals; ++t) {
        SCOPED_TRACE(t);
        EXPECT_OK(results[t - 1]);
        EXPECT_TRUE(test::readFile(home.snd(t) + QStringLiteral("S_HACH.dat"))
                        .startsWith(QByteArray("order of terminal ") + QByteArray::number(t)));
        EXPECT_EQ(test::readFile(home.snd(t) + QStringLiteral("S_TANA.dat")), QByteArray::number(t));
    }
    EXPECT_EQ(filesIn(home.home()), initialProgramFiles);
}

TEST_F(EndToEndTest, TheSimulatorProgram)
{
    const QString simulator = test::binaryDir() + QStringLiteral("/kavelo-terminal");
    ASSERT_TRUE(QFile::exists(simulator));
    QTemporaryDir work;
    test::writeFile(work.filePath(QStringLiteral("S_HACH.dat")), "by hand\r\n");
    test::writeFile(home.rcv(7) + QStringLiteral("TOKMAS.csv"), "customers\r\n");
    const QStringList common{
        QStringLiteral("--port"), QString::number(port), QStringLiteral("--terminal"), QStringLiteral("7")};

    QProcess send;
    EXPECT_EQ(
        test::runProgram(
            send, simulator, common + QStringList{QStringLiteral("send"), work.filePath(QStringLiteral("S_HACH.dat"))}),
        0)
        << send.readAllStandardError().toStdString();
    EXPECT_EQ(test::readFile(home.snd(7) + QStringLiteral("S_HACH.dat")), QByteArray("by hand\r\n"));

    QProcess sync;
    const QString out = work.filePath(QStringLiteral("out"));
    EXPECT_EQ(
        test::runProgram(sync, simulator, common + QStringList{QStringLiteral("sync"), QStringLiteral("--out"), out}),
        0)
        << sync.readAllStandardError().toStdString();
    EXPECT_EQ(test::readFile(out + QStringLiteral("/TOKMAS.csv")), QByteArray("customers\r\n"));

    // ERR: a protected name; non-zero exit and the reason on stderr.
    test::writeFile(work.filePath(QStringLiteral("KAVELO.ini")), "x");
    QProcess refused;
    EXPECT_EQ(
        test::runProgram(refused,
                         simulator,
                         common + QStringList{QStringLiteral("send"), work.filePath(QStringLiteral("KAVELO.ini"))}),
        1);
    EXPECT_TRUE(refused.readAllStandardError().contains("protected"));

    // A broken connection: nobody listens.
    service->stop();
    QProcess unreachable;
    EXPECT_EQ(
        test::runProgram(unreachable,
                         simulator,
                         common + QStringList{QStringLiteral("send"), work.filePath(QStringLiteral("S_HACH.dat"))}),
        1);
}

} // namespace
} // namespace kavelo::shell
