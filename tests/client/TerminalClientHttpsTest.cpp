// The terminal's side over HTTPS (kavelo-terminal, the benchmarks) against the real server.
#include "client/TerminalClient.h"

#include "transfer/TerminalKeys.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"

#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

namespace kavelo::client {
namespace {

TEST(TerminalClientHttpsTest, SendsAndSyncsWithThePinnedCertificateAndRefusesAnother)
{
    test::ProgramFolder home;
    transfer::TerminalKeys keys;
    const QByteArray key = keys.enroll(5, QDateTime::currentDateTime())->toLatin1();
    ASSERT_OK(keys.write(home.home()));
    transfer::ServerConfig config;
    config.programFolder = home.home();
    config.listenPort = 0;
    config.https = true;
    config.tls = transfer::tlsFiles(home.home(), QString(), QString());
    transfer::TerminalServer server(config, nullptr, nullptr);
    transfer::UploadFiling filing(exchange::FolderTree(home.dataRoot(), home.home()));
    server.setSavedFileHandling(&filing);
    server.setListening(true);
    ASSERT_TRUE(server.https() && server.https()->serving());
    const TerminalClient::Https https{
        QStringLiteral("127.0.0.1"), server.https()->port(), server.https()->fingerprint()};
    const QByteArray products = QByteArray("4901234567894,PRODUCT,0000198\r\n").repeated(5000);
    test::writeFile(home.rcv(5) + QStringLiteral("SHOMAS.csv"), products);

    QTemporaryDir out;
    QDir().mkpath(QDir(out.path()).filePath(QStringLiteral("plain")));
    QDir().mkpath(QDir(out.path()).filePath(QStringLiteral("gzip")));
    platform::Result<QStringList> plain = platform::Status::error(QStringLiteral("not run"));
    platform::Result<QStringList> compressed = plain;
    qint64 plainBytes = 0;
    qint64 compressedBytes = 0;
    platform::Status wrongPin;
    platform::Status wrongKey;
    test::runTerminal([&] {
        TerminalClient client(https);
        ASSERT_OK(client.connectAs(5, key));
        ASSERT_OK(client.put(QStringLiteral("S_HACH.dat"), "0001,4901,10\r\n"));
        ASSERT_OK(client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
        plain = client.get(QDir(out.path()).filePath(QStringLiteral("plain")), false);
        plainBytes = client.bytesReceived();
        compressed = client.get(QDir(out.path()).filePath(QStringLiteral("gzip")), true);
        compressedBytes = client.bytesReceived() - plainBytes;
        ASSERT_OK(client.bye());

        TerminalClient impostor(TerminalClient::Https{https.host, https.port, QString(64, QLatin1Char('0'))});
        wrongPin = impostor.connectAs(5, key);
        TerminalClient guesser(https);
        ASSERT_OK(guesser.connectAs(5, "guessed"));
        wrongKey = guesser.put(QStringLiteral("S_HACH.dat"), "x");
    });
    ASSERT_OK(plain);
    ASSERT_OK(compressed);
    EXPECT_EQ(*compressed, QStringList{QStringLiteral("SHOMAS.csv")});
    EXPECT_TRUE(test::readFile(QDir(out.path()).filePath(QStringLiteral("gzip/SHOMAS.csv"))) == products);
    EXPECT_LT(compressedBytes * 10, plainBytes); // a repetitive master shrinks on the way
    EXPECT_EQ(test::readFile(home.snd(5) + QStringLiteral("S_HACH.dat")), QByteArray("0001,4901,10\r\n"));
    EXPECT_TRUE(wrongPin.message().contains(QStringLiteral("not the pinned"))) << wrongPin.message().toStdString();
    EXPECT_EQ(wrongKey.message(), QStringLiteral("PUT S_HACH.dat: HTTP 401 wrong key"));
}

TEST(TerminalClientHttpsTest, TheEnrollmentUriCarriesEverythingAHandheldNeeds)
{
    const QString fingerprint(64, QLatin1Char('a'));
    platform::Result<Enrollment> enrollment = parseEnrollment(
        QStringLiteral("kavelo://enroll?v=1&host=192.168.10.5&port=47143&terminal=12&key=L9Gu_p-8&sha256=") +
        fingerprint);
    ASSERT_OK(enrollment);
    EXPECT_EQ(enrollment->host, QStringLiteral("192.168.10.5"));
    EXPECT_EQ(enrollment->port, 47143);
    EXPECT_EQ(enrollment->terminalNo, 12);
    EXPECT_EQ(enrollment->key, QByteArray("L9Gu_p-8"));
    EXPECT_EQ(enrollment->sha256, fingerprint);
    EXPECT_FALSE(
        parseEnrollment(QStringLiteral("kavelo://enroll?v=2&host=h&port=1&terminal=1&key=k&sha256=") + fingerprint)
            .isOk());
    EXPECT_FALSE(
        parseEnrollment(QStringLiteral("https://enroll?v=1&host=h&port=1&terminal=1&key=k&sha256=") + fingerprint)
            .isOk());
    EXPECT_FALSE(
        parseEnrollment(QStringLiteral("kavelo://enroll?v=1&host=h&port=1&terminal=1&sha256=") + fingerprint).isOk());
}

} // namespace
} // namespace kavelo::client
