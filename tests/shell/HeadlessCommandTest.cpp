// `kavelo --headless` as a process: it serves a terminal, logs its captions and stops cleanly on SIGTERM.

#include "comm/TerminalClient.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

namespace kavelo::shell {
namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TEST(HeadlessCommandTest, ServesATerminalAndStopsOnSigterm)
{
    const quint16 port = freePort();
    test::ProgramFolder home{{QStringLiteral("ListenPort=%1").arg(port)}};
    QProcess kavelo;
    kavelo.setProcessChannelMode(QProcess::MergedChannels);
    kavelo.start(test::binaryDir() + QStringLiteral("/kavelo"),
                 {QStringLiteral("--headless"), QStringLiteral("--home"), home.home()});
    ASSERT_TRUE(kavelo.waitForStarted());
    QByteArray output;
    QDeadlineTimer deadline(20000);
    while (!output.contains("待ち受け解除") && !deadline.hasExpired() && kavelo.state() == QProcess::Running) {
        kavelo.waitForReadyRead(200);
        output += kavelo.readAll();
    }
    ASSERT_TRUE(output.contains("listening on 127.0.0.1")) << output.toStdString();

    comm::TerminalClient client(QStringLiteral("127.0.0.1"), port);
    ASSERT_OK(client.connectAs(5));
    ASSERT_OK(client.put(QStringLiteral("S_TANA.dat"), "stock\r\n"));
    ASSERT_OK(client.bye());
    EXPECT_EQ(test::readFile(home.snd(5) + QStringLiteral("S_TANA.dat")), QByteArray("stock\r\n"));

    kavelo.terminate(); // SIGTERM
    ASSERT_TRUE(kavelo.waitForFinished(20000));
    output += kavelo.readAll();
    EXPECT_EQ(kavelo.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(kavelo.exitCode(), 0);
    EXPECT_TRUE(output.contains("S_TANA.dat保存成功 :5")) << output.toStdString();
    EXPECT_TRUE(output.contains("stopped"));
    const QByteArray log = test::readFile(home.path(QStringLiteral("kavelo.log")));
    EXPECT_TRUE(log.contains("S_TANA.dat受信中 :5"));
}

} // namespace
} // namespace kavelo::shell
