// Many terminals at once against the real server and the real filing of their files.
#include "client/TerminalClient.h"
#include "support/RecordingOperatorUi.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>

#include <sys/stat.h>

namespace kavelo::transfer {
namespace {

using client::TerminalClient;

QByteArray pattern(qint64 size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(seed + (i * 31) % 89);
    }
    return bytes;
}

// AddressSanitizer keeps freed blocks in a quarantine of its own, so resident memory measures it, not the server.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// Resident memory of this process, in bytes.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4096 : 0;
}

class ConcurrentSessionsTest : public ::testing::Test
{
  protected:
    ConcurrentSessionsTest()
        : filing(exchange::FolderTree(home.dataRoot(), home.home()))
    {
        server->setSavedFileHandling(&filing);
        server->setListening(true);
        port = static_cast<quint16>(server->PortNo());
    }

    static std::unique_ptr<TerminalServer> makeServer(const QString& folder)
    {
        ServerConfig config;
        config.programFolder = folder;
        config.listenPort = 0;
        return std::make_unique<TerminalServer>(config, nullptr, nullptr);
    }

    // A client of terminal `t`, connected.
    std::unique_ptr<TerminalClient> connect(int t)
    {
        auto client = std::make_unique<TerminalClient>(QStringLiteral("127.0.0.1"), port, 20000);
        EXPECT_OK(client->connectAs(t));
        return client;
    }

    test::ProgramFolder home;
    test::RecordingOperatorUi ui;
    std::unique_ptr<TerminalServer> server = makeServer(home.home());
    UploadFiling filing;
    quint16 port = 0;
    QTemporaryDir out;
};

// Both terminals' order files go through the one program folder name "S_HACH.dat" at the same moments; each
// terminal's folders get its own bytes and never the other's.
TEST_F(ConcurrentSessionsTest, OrdersUploadedAtOnceUnderOneNameAreFiledByTerminal)
{
    constexpr int kRounds = 4;
    std::atomic<int> ready(0);
    auto terminal = [&](int t) {
        std::unique_ptr<TerminalClient> client = connect(t);
        for (int round = 0; round < kRounds; ++round) {
            ++ready;
            while (ready < 2 * (round + 1)) {
                QThread::yieldCurrentThread();
            }
            ASSERT_OK(client->put(QStringLiteral("S_HACH.dat"), pattern(2 * 1024 * 1024 + round, char('a' + t))));
        }
        ASSERT_OK(client->bye());
    };
    test::runTerminals({[&] { terminal(1); }, [&] { terminal(2); }});
    for (int t : {1, 2}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(test::readFile(home.snd(t) + QStringLiteral("S_HACH.dat")),
                  pattern(2 * 1024 * 1024 + kRounds - 1, char('a' + t)));
        const QStringList backups = QDir(home.backup(t)).entryList(QDir::Files);
        ASSERT_FALSE(backups.isEmpty());
        for (const QString& name : backups) {
            const QByteArray backup = test::readFile(home.backup(t) + name);
            EXPECT_EQ(backup, pattern(backup.size(), char('a' + t))) << name.toStdString();
        }
    }
}

// Terminal 2's staging replaces SHOMAS.csv in the program folder between terminal 1's control file and its GET,
// and again while terminal 1 is fetching: terminal 1 gets the masters staged for it, and the program folder holds
// the latest staging, as it always did.
TEST_F(ConcurrentSessionsTest, ASendingTerminalKeepsItsOwnCopiesWhileAnotherStagesTheSameNames)
{
    const QByteArray mine = pattern(2 * 1024 * 1024, 'm');
    const QByteArray theirs = pattern(2 * 1024 * 1024 + 7, 't');
    test::writeFile(home.rcv(1) + QStringLiteral("BUNMAS.csv"), pattern(4 * 1024 * 1024, 'b'));
    test::writeFile(home.rcv(1) + QStringLiteral("SHOMAS.csv"), mine);
    test::writeFile(home.rcv(2) + QStringLiteral("SHOMAS.csv"), theirs);
    QDir().mkpath(out.filePath(QStringLiteral("1")));
    QDir().mkpath(out.filePath(QStringLiteral("2")));
    std::atomic<int> step(0);
    auto waitFor = [&step](int wanted) {
        while (step < wanted) {
            QThread::msleep(5);
        }
    };
    test::runTerminals({[&] {
                            std::unique_ptr<TerminalClient> client = connect(1);
                            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
                            step = 1;
                            waitFor(2);
                            client->setLinkRate(8 * 1024 * 1024);
                            step = 3;
                            ASSERT_OK(client->get(out.filePath(QStringLiteral("1"))));
                            ASSERT_OK(client->bye());
                        },
                        [&] {
                            std::unique_ptr<TerminalClient> client = connect(2);
                            waitFor(1);
                            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
                            step = 2;
                            waitFor(3);
                            QThread::msleep(100);
                            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
                            ASSERT_OK(client->get(out.filePath(QStringLiteral("2")), true));
                            ASSERT_OK(client->bye());
                        }});
    EXPECT_TRUE(test::readFile(out.filePath(QStringLiteral("1/SHOMAS.csv"))) == mine);
    EXPECT_TRUE(test::readFile(out.filePath(QStringLiteral("2/SHOMAS.csv"))) == theirs);
    EXPECT_TRUE(test::readFile(home.path(QStringLiteral("SHOMAS.csv"))) == theirs);
}

// A terminal that stops reading in the middle of its masters holds up nobody: a second terminal is served in full
// meanwhile, and the first still gets every byte once it reads again.
TEST_F(ConcurrentSessionsTest, AStalledReaderDoesNotDelayAnotherTerminal)
{
    const QByteArray slow = pattern(8 * 1024 * 1024, 's');
    test::writeFile(home.rcv(1) + QStringLiteral("SHOMAS.csv"), slow);
    test::writeFile(home.rcv(2) + QStringLiteral("BUNMAS.csv"), pattern(3 * 1024 * 1024, 'b'));
    test::writeFile(home.rcv(2) + QStringLiteral("JISYA.csv"), "j\r\n");
    QDir().mkpath(out.filePath(QStringLiteral("1")));
    QDir().mkpath(out.filePath(QStringLiteral("2")));
    std::atomic<bool> stalled(false);
    std::atomic<bool> secondDone(false);
    test::runTerminals({[&] {
                            std::unique_ptr<TerminalClient> client = connect(1);
                            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
                            ASSERT_OK(client->sendRaw("GET\n")); // and read nothing for now
                            stalled = true;
                            while (!secondDone) {
                                QThread::msleep(10);
                            }
                            ASSERT_OK(client->readLine()); // the FILE line
                        },
                        [&] {
                            while (!stalled) {
                                QThread::msleep(5);
                            }
                            std::unique_ptr<TerminalClient> client = connect(2);
                            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
                            platform::Result<QStringList> names = client->get(out.filePath(QStringLiteral("2")));
                            ASSERT_OK(names);
                            EXPECT_EQ(*names, (QStringList{QStringLiteral("BUNMAS.csv"), QStringLiteral("JISYA.csv")}));
                            ASSERT_OK(client->bye());
                            secondDone = true;
                        }});
    EXPECT_TRUE(secondDone);
}

// Plain GET and GET deflate bring the same files; the compressed one with far fewer bytes on the wire.
TEST_F(ConcurrentSessionsTest, GetDeflateBringsTheSameFilesInFewerBytes)
{
    QByteArray csv;
    for (int i = 0; i < 20000; ++i) {
        csv += QByteArray::number(4901000000000LL + i) + ",\x8f\xa4\x95\x69," + QByteArray::number(100 + i % 900) +
               ",1\r\n";
    }
    test::writeFile(home.rcv(3) + QStringLiteral("SHOMAS.csv"), csv);
    test::writeFile(home.rcv(3) + QStringLiteral("TENMAS.csv"), QByteArray()); // an empty master
    qint64 plainBytes = 0;
    qint64 deflateBytes = 0;
    test::runTerminal([&] {
        for (bool deflate : {false, true}) {
            const QString folder = out.filePath(deflate ? QStringLiteral("z") : QStringLiteral("p"));
            QDir().mkpath(folder);
            std::unique_ptr<TerminalClient> client = connect(3);
            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
            const qint64 before = client->bytesReceived();
            platform::Result<QStringList> names = client->get(folder, deflate);
            ASSERT_OK(names);
            EXPECT_EQ(*names, (QStringList{QStringLiteral("TENMAS.csv"), QStringLiteral("SHOMAS.csv")}));
            (deflate ? deflateBytes : plainBytes) = client->bytesReceived() - before;
            ASSERT_OK(client->bye());
        }
    });
    for (const char* folder : {"p", "z"}) {
        EXPECT_TRUE(test::readFile(out.filePath(QLatin1String(folder) + QStringLiteral("/SHOMAS.csv"))) == csv);
        EXPECT_TRUE(test::readFile(out.filePath(QLatin1String(folder) + QStringLiteral("/TENMAS.csv"))).isEmpty());
    }
    EXPECT_GT(plainBytes, csv.size());
    EXPECT_LT(deflateBytes, csv.size() / 3);
}

// Eight terminals fetch 12 MB each and none of them reads for a while: the server holds each file on disk, not in
// memory. (Reading the masters whole, as an earlier server did, would have grown by about 100 MB here.)
TEST_F(ConcurrentSessionsTest, MemoryStaysBoundedWhileManySessionsStream)
{
    if (kSanitized) {
        GTEST_SKIP() << "resident memory is not the server's under AddressSanitizer";
    }
    constexpr int kTerminals = 8;
    constexpr qint64 kSize = 12 * 1024 * 1024;
    for (int t = 1; t <= kTerminals; ++t) {
        QFile file(home.rcv(t) + QStringLiteral("SHOMAS.csv"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray block = pattern(1024 * 1024, char('A' + t));
        for (qint64 written = 0; written < kSize; written += block.size()) {
            file.write(block);
        }
    }
    const qint64 before = residentBytes();
    std::atomic<int> waiting(0);
    std::atomic<bool> measured(false);
    qint64 during = 0;
    std::vector<std::function<void()>> terminals;
    for (int t = 1; t <= kTerminals; ++t) {
        terminals.push_back([&, t] {
            const QString folder = out.filePath(QString::number(t));
            QDir().mkpath(folder);
            std::unique_ptr<TerminalClient> client = connect(t);
            ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
            ASSERT_OK(client->sendRaw("GET\n"));
            ++waiting;
            while (!measured) {
                QThread::msleep(10);
            }
            client->abort();
        });
    }
    terminals.push_back([&] {
        while (waiting < kTerminals) {
            QThread::msleep(10);
        }
        QThread::msleep(500); // every server has written what the connections take
        during = residentBytes();
        measured = true;
    });
    test::runTerminals(terminals);
    EXPECT_LT(during - before, 40 * 1024 * 1024) << "grew by " << (during - before) / 1024 << " KiB";
}

// A staged master emptied in place on the disk while it goes out: its frame cannot be completed, so the connection
// closes. The terminal counts the announced bytes, so an ERR line among them would be taken for part of the file.
TEST_F(ConcurrentSessionsTest, AMasterCutShortWhileItGoesOutClosesWithOnlyFileBytesSent)
{
    constexpr qint64 kSize = 32 * 1024 * 1024;
    test::writeFile(home.rcv(1) + QStringLiteral("SHOMAS.csv"), pattern(kSize, 'm'));
    QByteArray received;
    test::runTerminals({[&] {
        std::unique_ptr<TerminalClient> client = connect(1);
        ASSERT_OK(client->put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
        ASSERT_OK(client->sendRaw("GET\n"));
        QThread::msleep(1000); // the CRC is taken and the connection's buffers are full
        QFile staged(QDir(home.home()).filePath(QStringLiteral("SHOMAS.csv")));
        ASSERT_TRUE(staged.resize(0));
        received = client->drain(3000);
    }});
    ASSERT_TRUE(received.startsWith("FILE SHOMAS.csv 33554432 ")) << received.left(80).toStdString();
    const qsizetype body = received.indexOf('\n') + 1;
    EXPECT_LT(received.size() - body, kSize);
    EXPECT_TRUE(received.mid(body) == pattern(received.size() - body, 'm')) << received.right(80).toStdString();
}

// The host system's collector reads the send folders under an account of its own: an upload and its copies get the
// mode of the process's umask, never a temporary file's 0600.
TEST_F(ConcurrentSessionsTest, AnUploadAndItsCopiesTakeTheModeOfTheUmask)
{
    for (const auto& [mask, expected] : {std::pair{mode_t(022), 0644}, std::pair{mode_t(027), 0640}}) {
        SCOPED_TRACE(expected);
        const mode_t old = ::umask(mask);
        test::runTerminal([&] {
            std::unique_ptr<TerminalClient> client = connect(6);
            ASSERT_OK(client->put(QStringLiteral("S_TANA.dat"), "stock\r\n"));
            ASSERT_OK(client->bye());
        });
        ::umask(old);
        const QString copy = home.snd(6) + QStringLiteral("S_TANA.dat");
        const QStringList backups = QDir(home.backup(6)).entryList(QDir::Files, QDir::Time);
        ASSERT_FALSE(backups.isEmpty());
        for (const QString& path : {copy, home.backup(6) + backups.first()}) {
            struct stat info = {};
            ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
            EXPECT_EQ(static_cast<int>(info.st_mode & 0777), expected) << path.toStdString();
        }
        for (const QString& name : backups) {
            QFile::remove(home.backup(6) + name); // the next round's backup may land in the same second
        }
    }
}

} // namespace
} // namespace kavelo::transfer
