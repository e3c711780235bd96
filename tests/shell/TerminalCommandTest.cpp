// kavelo terminal enroll / revoke / list, run as the operator runs them, read back by a QR reader nobody here wrote.
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrlQuery>

namespace kavelo::shell {
namespace {

struct CommandRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

CommandRun kavelo(const test::ProgramFolder& home, QStringList args)
{
    QProcess process;
    args << QStringLiteral("--home") << home.home();
    process.start(test::binaryDir() + QStringLiteral("/kavelo"), args);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString uriLine(const QString& out)
{
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("kavelo://enroll?"))) {
            return line;
        }
    }
    return {};
}

TEST(TerminalCommand, EnrollPrintsTheUriAndAQrCodeThatScansBackToIt)
{
    test::ProgramFolder home({QStringLiteral("ListenAddress=0.0.0.0"), QStringLiteral("HttpsPort=48000")});
    const QString png = home.path(QStringLiteral("t12.png"));
    CommandRun enrolled = kavelo(home,
                                 {QStringLiteral("terminal"),
                                  QStringLiteral("enroll"),
                                  QStringLiteral("12"),
                                  QStringLiteral("--host"),
                                  QStringLiteral("192.168.10.5"),
                                  QStringLiteral("--qr"),
                                  png});
    ASSERT_EQ(enrolled.exitCode, 0) << enrolled.err.toStdString();
    const QString uri = uriLine(enrolled.out);
    const QUrlQuery query(QUrl(uri).query());
    EXPECT_EQ(query.queryItemValue(QStringLiteral("v")), QStringLiteral("1"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("host")), QStringLiteral("192.168.10.5"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("port")), QStringLiteral("48000"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("terminal")), QStringLiteral("12"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$"))
                    .match(query.queryItemValue(QStringLiteral("sha256")))
                    .hasMatch());
    const QString key = query.queryItemValue(QStringLiteral("key"));
    ASSERT_GE(key.size(), 22) << uri.toStdString();               // 128 bits at least
    EXPECT_TRUE(enrolled.out.contains(QStringLiteral("\u2588"))); // the code drawn in blocks

    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    ASSERT_FALSE(zbarimg.isEmpty()) << "zbarimg is needed (scripts/install-deps installs zbar-tools)";
    QProcess reader;
    reader.start(zbarimg, {QStringLiteral("--quiet"), QStringLiteral("--raw"), png});
    ASSERT_TRUE(reader.waitForFinished(30000));
    EXPECT_EQ(QString::fromLatin1(reader.readAllStandardOutput()).trimmed(), uri);

    // The key in clear is nowhere but in what enroll printed (and the PNG asked for).
    for (const char* file : {"terminal-keys.txt", "kavelo.log", "KAVELO.ini"}) {
        EXPECT_FALSE(test::readFile(home.path(QLatin1String(file))).contains(key.toLatin1())) << file;
    }
    EXPECT_TRUE(test::readFile(home.path(QStringLiteral("tls/kavelo.crt"))).startsWith("-----BEGIN CERTIFICATE-----"));

    CommandRun list = kavelo(home, {QStringLiteral("terminal"), QStringLiteral("list")});
    ASSERT_EQ(list.exitCode, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\n +12  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  never"))
                    .match(list.out)
                    .hasMatch())
        << list.out.toStdString();

    // A second enrolment replaces the key; a revocation forgets it.
    CommandRun again = kavelo(home, {QStringLiteral("terminal"), QStringLiteral("enroll"), QStringLiteral("12")});
    ASSERT_EQ(again.exitCode, 0);
    EXPECT_NE(QUrlQuery(QUrl(uriLine(again.out)).query()).queryItemValue(QStringLiteral("key")), key);
    EXPECT_TRUE(again.out.contains(QStringLiteral("replacing its earlier key")));
    EXPECT_EQ(kavelo(home, {QStringLiteral("terminal"), QStringLiteral("revoke"), QStringLiteral("12")}).exitCode, 0);
    CommandRun twice = kavelo(home, {QStringLiteral("terminal"), QStringLiteral("revoke"), QStringLiteral("12")});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_TRUE(twice.err.contains(QStringLiteral("terminal 12 has no key")));
}

TEST(TerminalCommand, TheHostIsListenAddressWhenItIsOneAddressAndBadCommandLinesAreRefused)
{
    test::ProgramFolder home({QStringLiteral("ListenAddress=192.0.2.7"), QStringLiteral("HttpsPort=47143")});
    CommandRun enrolled = kavelo(home, {QStringLiteral("terminal"), QStringLiteral("enroll"), QStringLiteral("1")});
    ASSERT_EQ(enrolled.exitCode, 0) << enrolled.err.toStdString();
    EXPECT_TRUE(uriLine(enrolled.out).contains(QStringLiteral("&host=192.0.2.7&port=47143&terminal=1&")));

    for (const QStringList& args :
         {QStringList{QStringLiteral("enroll"), QStringLiteral("0")},
          QStringList{QStringLiteral("enroll"), QStringLiteral("10000")},
          QStringList{QStringLiteral("enroll")},
          QStringList{QStringLiteral("revoke"), QStringLiteral("1"), QStringLiteral("--qr"), QStringLiteral("x.png")},
          QStringList{QStringLiteral("forget"), QStringLiteral("1")}}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        EXPECT_EQ(kavelo(home, QStringList{QStringLiteral("terminal")} + args).exitCode, 2);
    }
    CommandRun help = kavelo(home, {QStringLiteral("terminal"), QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("kavelo://enroll?v=1&host=H&port=P&terminal=N&key=K&sha256=F")));
}

} // namespace
} // namespace kavelo::shell
