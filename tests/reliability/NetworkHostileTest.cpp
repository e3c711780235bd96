// Hostile terminals against the real server on loopback: every bad request is refused, the connection is closed
// where the protocol says so, nothing is written anywhere, and the server goes on serving.
#include "ReliabilitySupport.h"
#include "ServedFolder.h"

#include "client/TerminalClient.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"
#include "wire/ProtocolHeader.h"

#include <QDir>
#include <QTcpSocket>

using namespace kavelo;
using namespace kavelo::test;
using namespace kavelo::reliability;
using platform::Status;

namespace {

struct Refusal
{
    const char* name;
    QByteArray bytes;
};

// Sends each request on a connection of its own; each must get ERR and a close, and the folder tree must not change.
void expectRefusedAndNothingWritten(ServedFolder& served, const std::vector<Refusal>& cases)
{
    const QHash<QString, QByteArray> before = treeContent(served.folder().home());
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        RawExchange seen;
        runTerminal([&] { seen = rawExchange(served.port(), c.bytes); });
        ASSERT_TRUE(seen.connected);
        ASSERT_FALSE(seen.lines.isEmpty());
        EXPECT_TRUE(seen.lines.last().startsWith("ERR ")) << seen.lines.last().toStdString();
        EXPECT_TRUE(seen.closedByServer);
        EXPECT_EQ(treeContent(served.folder().home()), before);
    }
    // And the server still serves.
    Status status;
    runTerminal([&] {
        client::TerminalClient client(QStringLiteral("127.0.0.1"), served.port(), 10000);
        status = client.connectAs(1);
        if (status.isOk()) {
            status = client.bye();
        }
    });
    EXPECT_OK(status);
}

} // namespace

TEST(NetworkHostile, PathTraversalAndProtectedNamesWriteNothing)
{
    ServedFolder served({});
    std::vector<Refusal> cases;
    const QByteArray content("DBname=/tmp/evil.db\r\n");
    const QByteArray crc = wire::crcText(wire::crc32Update(0, content)).toLatin1();
    for (const char* name : {"../KAVELO.ini",
                             "..",
                             "../../etc/passwd",
                             "/etc/passwd",
                             "HT/0001/snd/S_HACH.dat",
                             "..\\KAVELO.ini",
                             "C:\\x",
                             ".kavelo-upload-AAAAAA",
                             ".hidden",
                             "KAVELO.ini",
                             "kavelo.INI",
                             "kavelo.log",
                             "KAVELO",
                             "a b",
                             "S_HACH.dat\x01",
                             "名前.dat",
                             "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}) {
        cases.push_back({name,
                         QByteArray("HELLO 1\nPUT ") + name + ' ' + QByteArray::number(content.size()) + ' ' + crc +
                             '\n' + content});
    }
    cases.push_back({"NUL in the name", QByteArray("HELLO 1\nPUT S_HACH\0.dat 5 00000000\nabcde", 40)});
    expectRefusedAndNothingWritten(served, cases);
}

TEST(NetworkHostile, OversizedSizesAreRefusedBeforeAnyByteIsStored)
{
    ServedFolder served({{QStringLiteral("MaxFileSize=1000")}});
    expectRefusedAndNothingWritten(
        served,
        {
            {"one byte over the limit", "HELLO 2\nPUT S_HACH.dat 1001 00000000\n" + QByteArray(1001, 'x')},
            {"20 digits", "HELLO 2\nPUT S_HACH.dat 99999999999999999999 00000000\n"},
            {"21 digits", "HELLO 2\nPUT S_HACH.dat 999999999999999999999 00000000\n"},
            {"2^63", "HELLO 2\nPUT S_HACH.dat 9223372036854775808 00000000\n"},
            {"negative", "HELLO 2\nPUT S_HACH.dat -1 00000000\n"},
            {"hexadecimal", "HELLO 2\nPUT S_HACH.dat 0x10 00000000\n"},
            {"bad crc field", "HELLO 2\nPUT S_HACH.dat 5 xyz\nabcde"},
        });
}

TEST(NetworkHostile, MalformedHeadersAndCommandsBeforeHello)
{
    ServedFolder served({});
    expectRefusedAndNothingWritten(
        served,
        {
            {"header over 1,024 bytes", "HELLO 1\nPUT " + QByteArray(2000, 'a') + " 1 00000000\n"},
            {"header over 1,024 bytes before HELLO", QByteArray(5000, 'H')},
            {"GET before HELLO", "GET\n"},
            {"PUT before HELLO", putHeader(QStringLiteral("S_HACH.dat"), "abc") + "abc"},
            {"BYE before HELLO", "BYE\n"},
            {"empty line before HELLO", "\n"},
            {"binary before HELLO", QByteArray("\x00\x01\xFF\xFE\n", 5)},
            {"second HELLO", "HELLO 1\nHELLO 2\n"},
            {"unknown command", "HELLO 1\nDELETE S_HACH.dat\n"},
            {"lower-case command", "HELLO 1\nget\n"},
            {"double space", "HELLO 1\nPUT  S_HACH.dat 3 00000000\nabc"},
            {"server's words from a terminal", "HELLO 1\nFILE SHOMAS.csv 3 00000000\nabc"},
        });
}

TEST(NetworkHostile, TerminalNumbersOutsideOneTo9999AreRefused)
{
    ServedFolder served({});
    expectRefusedAndNothingWritten(served,
                                   {
                                       {"0", "HELLO 0\n"},
                                       {"-1", "HELLO -1\n"},
                                       {"10000", "HELLO 10000\n"},
                                       {"five digits with a leading zero", "HELLO 01234\n"},
                                       {"non-numeric", "HELLO abc\n"},
                                       {"sign", "HELLO +1\n"},
                                       {"fraction", "HELLO 1.5\n"},
                                       {"full-width digit", "HELLO \xEF\xBC\x91\n"},
                                       {"missing", "HELLO\n"},
                                       {"two numbers", "HELLO 1 2\n"},
                                   });
    // The ends of the range are fine, leading zeros too.
    for (const char* good : {"HELLO 1\n", "HELLO 9999\n", "HELLO 0007\n"}) {
        SCOPED_TRACE(good);
        RawExchange seen;
        runTerminal([&] { seen = rawExchange(served.port(), QByteArray(good) + "BYE\n"); });
        ASSERT_EQ(seen.lines.size(), 2);
        EXPECT_EQ(seen.lines.at(0), QByteArray("OK KAVELO 1"));
    }
}

TEST(NetworkHostile, SizesThatLieAndWrongCrcsSaveNothing)
{
    ServedFolder served({{QStringLiteral("MaxFileSize=100000")}, 1500});
    ProgramFolder& folder = served.folder();
    // An earlier good upload: its copies must survive every bad one.
    Status first;
    runTerminal([&] {
        client::TerminalClient client(QStringLiteral("127.0.0.1"), served.port(), 10000);
        first = client.connectAs(4);
        if (first.isOk()) {
            first = client.put(QStringLiteral("S_HACH.dat"), "good order\r\n");
        }
        if (first.isOk()) {
            first = client.bye();
        }
    });
    ASSERT_OK(first);
    QHash<QString, QByteArray> before = treeContent(folder.home());

    const QByteArray data(5000, 'd');
    const QByteArray crc = wire::crcText(wire::crc32Update(0, data)).toLatin1();
    struct Lie
    {
        const char* name;
        QByteArray bytes;
        const char* lastReply; // nullptr: the connection is cut before any reply
    };
    const std::vector<Lie> lies = {
        // Short: 5,000 announced, 2,500 sent, then silence: the idle rule ends it and nothing is kept.
        {"short data, then silence",
         "HELLO 4\nPUT S_HACH.dat 5000 " + crc + "\n" + data.left(2500),
         "ERR idle timeout"},
        // Long: 5,000 announced with the CRC of 5,000 bytes, 6,000 sent: the first 5,000 make the file only if
        // their CRC matches; the extra bytes are a malformed header.
        {"long data, CRC of the announced part",
         "HELLO 4\nPUT S_TANA.dat 5000 " + crc + "\n" + data + data.left(1000),
         "ERR"},
        {"wrong crc", "HELLO 4\nPUT S_HACH.dat 5000 01234567\n" + data + "BYE\n", "OK"},
        {"crc of more bytes than announced",
         "HELLO 4\nPUT S_HACH.dat 2500 " + crc + "\n" + data.left(2500) + "BYE\n",
         "OK"},
    };
    for (const Lie& lie : lies) {
        SCOPED_TRACE(lie.name);
        RawExchange seen;
        runTerminal([&] { seen = rawExchange(served.port(), lie.bytes, 4000); });
        ASSERT_FALSE(seen.lines.isEmpty());
        EXPECT_TRUE(seen.lines.last().startsWith(lie.lastReply)) << seen.lines.last().toStdString();
        EXPECT_TRUE(seen.closedByServer);
        QHash<QString, QByteArray> after = treeContent(folder.home());
        if (QByteArray(lie.name).startsWith("long")) {
            // The announced part was whole and its CRC right: it was saved and handled as any upload.
            EXPECT_EQ(after.value(QStringLiteral("/HT/0004/snd/S_TANA.dat")), data);
            after.remove(QStringLiteral("/HT/0004/snd/S_TANA.dat"));
            for (auto it = after.begin(); it != after.end();) {
                if (it.key().endsWith(QLatin1String("_S_TANA.dat")) && it.value() == data) {
                    it = after.erase(it);
                } else {
                    ++it;
                }
            }
            EXPECT_EQ(after, before);
            before = treeContent(folder.home());
            continue;
        }
        EXPECT_EQ(after, before);
    }
    // The wrong CRC was reported as a failed save.
    EXPECT_TRUE(served.ui().statusLines.contains(QStringLiteral("S_HACH.dat保存失敗")));
}

TEST(NetworkHostile, ASlowClientIsServedAndAStalledOneIsCut)
{
    // Idle time shortened to 1.2 s for the test: a client sending a byte every 0.4 s is slow but never idle; one
    // that stops sending is cut after the idle time and its partial upload discarded.
    ServedFolder served({{}, 1200});
    const QByteArray content("slow\r\n");
    RawExchange slow;
    runTerminal([&] {
        slow = rawExchange(served.port(),
                           "HELLO 6\n" + putHeader(QStringLiteral("S_HACH.dat"), content),
                           3000,
                           content + "BYE\n",
                           400);
    });
    ASSERT_EQ(slow.lines.size(), 3);
    EXPECT_EQ(slow.lines.at(1), QByteArray("OK"));
    EXPECT_EQ(readFile(served.folder().snd(6) + QStringLiteral("S_HACH.dat")), content);

    RawExchange stalled;
    runTerminal([&] {
        stalled = rawExchange(
            served.port(), "HELLO 6\n" + putHeader(QStringLiteral("S_TANA.dat"), content), 3000, content.left(3), 400);
    });
    ASSERT_FALSE(stalled.lines.isEmpty());
    EXPECT_EQ(stalled.lines.first(), QByteArray("OK KAVELO 1"));
    EXPECT_EQ(stalled.lines.last(), QByteArray("ERR idle timeout"));
    EXPECT_TRUE(stalled.closedByServer);
    EXPECT_FALSE(QFile::exists(served.folder().snd(6) + QStringLiteral("S_TANA.dat")));
    EXPECT_FALSE(QFile::exists(served.folder().path(QStringLiteral("S_TANA.dat"))));
    EXPECT_TRUE(QDir(served.folder().home())
                    .entryList({QStringLiteral(".kavelo-upload-*")}, QDir::Files | QDir::Hidden)
                    .isEmpty());
    EXPECT_TRUE(served.ui().statusLines.contains(QStringLiteral("S_TANA.dat保存失敗")));
}

TEST(NetworkHostile, AThousandConnectionsOpenedAndDropped)
{
    ServedFolder served({});
    const QHash<QString, QByteArray> before = treeContent(served.folder().home());
    int connected = 0;
    runTerminals({[&] {
                     for (int i = 0; i < 1000; ++i) {
                         QTcpSocket socket;
                         socket.connectToHost(QStringLiteral("127.0.0.1"), served.port());
                         if (socket.waitForConnected(5000)) {
                             ++connected;
                             switch (i % 4) {
                             case 0: // nothing at all
                                 break;
                             case 1: // half a header
                                 socket.write("HELLO");
                                 break;
                             case 2: // a HELLO
                                 socket.write("HELLO 3\n");
                                 break;
                             case 3: // the start of an upload
                                 socket.write("HELLO 3\nPUT S_HACH.dat 100 00000000\nabc");
                                 break;
                             }
                             socket.waitForBytesWritten(1000);
                         }
                         socket.abort();
                     }
                 }},
                 120000);
    EXPECT_EQ(connected, 1000);
    spin(200);
    EXPECT_EQ(treeContent(served.folder().home()), before);

    // A real terminal is served right after.
    Status status;
    const QByteArray order("after the storm\r\n");
    runTerminal([&] {
        client::TerminalClient client(QStringLiteral("127.0.0.1"), served.port(), 10000);
        status = client.connectAs(3);
        if (status.isOk()) {
            status = client.put(QStringLiteral("S_HACH.dat"), order);
        }
        if (status.isOk()) {
            status = client.bye();
        }
    });
    EXPECT_OK(status);
    EXPECT_EQ(readFile(served.folder().snd(3) + QStringLiteral("S_HACH.dat")), order);
}

TEST(NetworkHostile, AnAddressOutsideAllowFromIsClosedAtOnce)
{
    // Loopback is left out of the allow-list, so this test's own connections come from outside it.
    ServedFolder served({{QStringLiteral("AllowFrom=192.168.7.0/24,10.9.9.9")}});
    const QHash<QString, QByteArray> before = treeContent(served.folder().home());
    RawExchange seen;
    runTerminal([&] {
        seen = rawExchange(served.port(), "HELLO 1\n" + putHeader(QStringLiteral("S_HACH.dat"), "x") + "x", 3000);
    });
    EXPECT_TRUE(seen.closedByServer);
    for (const QByteArray& line : seen.lines) {
        EXPECT_FALSE(line.startsWith("OK")) << line.toStdString();
    }
    EXPECT_EQ(treeContent(served.folder().home()), before);
}
