#include "transfer/TlsCertificate.h"

#include "transfer/TerminalServer.h"

#include "support/EventWait.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSysInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace kavelo::transfer {
namespace {

TEST(TlsCertificateTest, TheOwnCertificateIsMadeOnceForTheNamesATerminalUses)
{
    QTemporaryDir home;
    const TlsFiles files = tlsFiles(home.path(), QString(), QString());
    EXPECT_TRUE(files.own);
    bool made = false;
    ASSERT_OK(ensureCertificate(files, QStringLiteral("192.0.2.7"), &made));
    EXPECT_TRUE(made);
    const QByteArray first = test::readFile(files.certificate);
    ASSERT_OK(ensureCertificate(files, QStringLiteral("192.0.2.7"), &made));
    EXPECT_FALSE(made);
    EXPECT_EQ(test::readFile(files.certificate), first); // never made again while it is there

    struct stat key = {};
    ASSERT_EQ(::stat(QFile::encodeName(files.key).constData(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);

    const QList<QSslCertificate> read = QSslCertificate::fromPath(files.certificate);
    ASSERT_EQ(read.size(), 1);
    const QSslCertificate& certificate = read.first();
    EXPECT_EQ(certificate.publicKey().algorithm(), QSsl::Ec);
    EXPECT_EQ(certificate.publicKey().length(), 256);
    const qint64 days = certificate.effectiveDate().daysTo(certificate.expiryDate());
    EXPECT_GE(days, 3652);
    EXPECT_LE(days, 3654);
    const auto names = certificate.subjectAlternativeNames();
    EXPECT_TRUE(names.values(QSsl::DnsEntry).contains(QStringLiteral("localhost")));
    EXPECT_TRUE(names.values(QSsl::IpAddressEntry).contains(QStringLiteral("127.0.0.1")));
    EXPECT_TRUE(names.values(QSsl::IpAddressEntry).contains(QStringLiteral("192.0.2.7")));
    EXPECT_TRUE(names.values(QSsl::DnsEntry).contains(QSysInfo::machineHostName()));

    platform::Result<QString> fingerprint = certificateFingerprint(files.certificate);
    ASSERT_OK(fingerprint);
    EXPECT_EQ(*fingerprint, QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex()));
    ASSERT_OK(serverTlsConfiguration(files));

    // Every interface: no address of its own in the certificate.
    QTemporaryDir any;
    const TlsFiles anyFiles = tlsFiles(any.path(), QString(), QString());
    ASSERT_OK(ensureCertificate(anyFiles, QStringLiteral("0.0.0.0")));
    EXPECT_EQ(
        QSslCertificate::fromPath(anyFiles.certificate).first().subjectAlternativeNames().values(QSsl::IpAddressEntry),
        QStringList{QStringLiteral("127.0.0.1")});
}

// A certificate named in the settings that is missing, or whose key is another's: HTTPS says why and is tried
// again, protocol v1 serves meanwhile, and once the files are right HTTPS serves without a restart.
TEST(TlsCertificateTest, AnUnusableCertificateIsReportedAndTriedAgainWhileProtocolV1Serves)
{
    QTemporaryDir home;
    QTemporaryDir other;
    const TlsFiles own = tlsFiles(other.path(), QString(), QString());
    ASSERT_OK(ensureCertificate(own, QStringLiteral("127.0.0.1")));
    ServerConfig config;
    config.programFolder = home.path();
    config.listenPort = 0;
    config.https = true;
    config.retryMs = 100;
    config.tls = tlsFiles(home.path(), QStringLiteral("site.crt"), QStringLiteral("site.key"));
    EXPECT_FALSE(config.tls.own);
    QStringList reports;
    TerminalServer server(config, nullptr, [&reports](const QString& message) { reports << message; });
    server.setListening(true);
    EXPECT_TRUE(server.Listening());
    EXPECT_TRUE(server.listeningOnIp());
    ASSERT_NE(server.https(), nullptr);
    EXPECT_FALSE(server.https()->serving());
    EXPECT_EQ(server.https()->problem(),
              QDir(home.path()).filePath(QStringLiteral("site.crt")) + QStringLiteral(": not found"));
    EXPECT_FALSE(QFile::exists(QDir(home.path()).filePath(QStringLiteral("site.crt")))); // never made when named

    // Another pair's key beside this certificate.
    QTemporaryDir third;
    const TlsFiles stranger = tlsFiles(third.path(), QString(), QString());
    ASSERT_OK(ensureCertificate(stranger, QStringLiteral("127.0.0.1")));
    QFile::copy(own.certificate, QDir(home.path()).filePath(QStringLiteral("site.crt")));
    QFile::copy(stranger.key, QDir(home.path()).filePath(QStringLiteral("site.key")));
    EXPECT_TRUE(test::waitUntil([&] { return server.https()->problem().contains(QStringLiteral("does not belong")); }));
    EXPECT_EQ(reports.size(), 1); // said once, not every few seconds

    QFile::remove(QDir(home.path()).filePath(QStringLiteral("site.key")));
    QFile::copy(own.key, QDir(home.path()).filePath(QStringLiteral("site.key")));
    EXPECT_TRUE(test::waitUntil([&] { return server.https()->serving(); }));
    EXPECT_EQ(server.https()->fingerprint(), *certificateFingerprint(own.certificate));
}

} // namespace
} // namespace kavelo::transfer
