// `kavelo --headless` as a process: it serves a terminal, logs its captions and stops cleanly on SIGTERM.

#include "client/TerminalClient.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kavelo::shell {
namespace {

// Reads what the process says until `wanted` has come (or 20 s have passed).
bool readUntil(QProcess& process, QByteArray& output, const QByteArray& wanted)
{
    QDeadlineTimer deadline(20000);
    while (!output.contains(wanted) && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        output += process.readAll();
    }
    return output.contains(wanted);
}

// `kavelo --headless` on `home`, its stdout and stderr merged into `output` until it says it is listening.
void startHeadless(QProcess& kavelo, const test::ProgramFolder& home, QByteArray& output)
{
    kavelo.setProcessChannelMode(QProcess::MergedChannels);
    kavelo.start(test::binaryDir() + QStringLiteral("/kavelo"),
                 {QStringLiteral("--headless"), QStringLiteral("--home"), home.home()});
    ASSERT_TRUE(kavelo.waitForStarted());
    ASSERT_TRUE(readUntil(kavelo, output, "待ち受け解除")) << output.toStdString();
}

TEST(HeadlessCommandTest, ServesATerminalAndStopsOnSigterm)
{
    const quint16 port = test::freePort();
    test::ProgramFolder home{{QStringLiteral("ListenPort=%1").arg(port)}};
    QProcess kavelo;
    QByteArray output;
    ASSERT_NO_FATAL_FAILURE(startHeadless(kavelo, home, output));
    ASSERT_TRUE(output.contains("listening on 127.0.0.1")) << output.toStdString();

    client::TerminalClient client(QStringLiteral("127.0.0.1"), port);
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

// A storm of SIGHUPs (100 within a second) while KAVELO.ini is rewritten, first with a good change and then with an
// error: the service serves on with the last good settings and stops cleanly afterwards.
TEST(HeadlessCommandTest, ASighupStormLeavesTheServiceServingWithTheLastGoodSettings)
{
    const quint16 first = test::freePort();
    const quint16 second = test::freePort();
    test::ProgramFolder home{{QStringLiteral("ListenPort=%1").arg(first)}};
    const QString ini = home.path(QStringLiteral("KAVELO.ini"));
    const QByteArray initial = test::readFile(ini);
    auto replace = [&](const QByteArray& content) { // whole, as an editor saves it
        test::writeFile(ini + QStringLiteral(".new"), content);
        ASSERT_EQ(std::rename(QFile::encodeName(ini + QStringLiteral(".new")).constData(),
                              QFile::encodeName(ini).constData()),
                  0);
    };
    QProcess kavelo;
    QByteArray output;
    ASSERT_NO_FATAL_FAILURE(startHeadless(kavelo, home, output));

    const QByteArray moved = QStringLiteral("ListenPort=%1\r\n").arg(second).toLatin1();
    replace(initial + moved);
    for (int i = 0; i < 50; ++i) {
        ::kill(static_cast<pid_t>(kavelo.processId()), SIGHUP);
    }
    ASSERT_TRUE(readUntil(kavelo, output, "settings reloaded: ListenPort changed")) << output.toStdString();
    replace(initial + moved + "MaxSessions=0\r\n");
    for (int i = 0; i < 50; ++i) {
        ::kill(static_cast<pid_t>(kavelo.processId()), SIGHUP);
    }
    ASSERT_TRUE(readUntil(kavelo, output, "MaxSessions=0 is not a count")) << output.toStdString();

    client::TerminalClient client(QStringLiteral("127.0.0.1"), second);
    ASSERT_OK(client.connectAs(5));
    ASSERT_OK(client.put(QStringLiteral("S_TANA.dat"), "stock\r\n"));
    ASSERT_OK(client.bye());
    EXPECT_EQ(test::readFile(home.snd(5) + QStringLiteral("S_TANA.dat")), QByteArray("stock\r\n"));
    client::TerminalClient old(QStringLiteral("127.0.0.1"), first, 2000);
    EXPECT_FALSE(old.connectAs(6).isOk());

    kavelo.terminate();
    ASSERT_TRUE(kavelo.waitForFinished(20000));
    output += kavelo.readAll();
    EXPECT_EQ(kavelo.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("stopped"));
}

// The datagram socket systemd listens on for a notify service.
class NotifySocket
{
  public:
    explicit NotifySocket(const QString& path)
        : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::copy(name.cbegin(), name.cend(), address.sun_path);
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool bound() const { return m_bound; }
    // Every message received until one contains `wanted` or `ms` have passed.
    QByteArray until(const QByteArray& wanted, int ms)
    {
        QByteArray all;
        QDeadlineTimer deadline(ms);
        while (!all.contains(wanted) && !deadline.hasExpired()) {
            char buffer[4096];
            const ssize_t got = ::recv(m_fd, buffer, sizeof(buffer), 0);
            if (got > 0) {
                all += QByteArray(buffer, got) + '|';
            } else {
                QThread::msleep(20);
            }
        }
        return all;
    }

  private:
    int m_fd;
    bool m_bound = false;
};

// A file that stands for the journal's stream: the value of JOURNAL_STREAM that names it.
QString journalStream(const QString& path)
{
    test::writeFile(path, QByteArray());
    struct stat info = {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    return QStringLiteral("%1:%2").arg(info.st_dev).arg(info.st_ino);
}

TEST(HeadlessCommandTest, TellsSystemdWhenListeningPingsTheWatchdogAndLogsToTheJournal)
{
    const quint16 port = test::freePort();
    // ImportDir without a separator: a warning at start-up.
    test::ProgramFolder home{{QStringLiteral("ListenPort=%1").arg(port), QStringLiteral("ImportDir=/srv/host")}};
    QTemporaryDir run;
    const QString socketPath = QDir(run.path()).filePath(QStringLiteral("notify"));
    NotifySocket notify(socketPath);
    ASSERT_TRUE(notify.bound());
    // stderr goes to a file that stands for the journal's stream.
    const QString journal = QDir(run.path()).filePath(QStringLiteral("journal"));

    QProcess kavelo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), socketPath);
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    environment.insert(QStringLiteral("JOURNAL_STREAM"), journalStream(journal));
    kavelo.setProcessEnvironment(environment);
    kavelo.setStandardErrorFile(journal, QIODevice::Append);
    kavelo.start(test::binaryDir() + QStringLiteral("/kavelo"),
                 {QStringLiteral("--headless"), QStringLiteral("--home"), home.home()});
    ASSERT_TRUE(kavelo.waitForStarted());

    const QByteArray ready = notify.until("READY=1", 20000);
    EXPECT_TRUE(ready.contains(QStringLiteral("READY=1\nSTATUS=listening on 127.0.0.1 port %1").arg(port).toLatin1()))
        << ready.toStdString();
    EXPECT_TRUE(notify.until("WATCHDOG=1", 5000).contains("WATCHDOG=1"));
    kavelo.terminate();
    EXPECT_TRUE(notify.until("STOPPING=1", 20000).contains("STOPPING=1"));
    ASSERT_TRUE(kavelo.waitForFinished(20000));
    EXPECT_EQ(kavelo.exitCode(), 0);

    const QByteArray stderrLines = test::readFile(journal);
    EXPECT_TRUE(stderrLines.contains("\n<6>kavelo.shell: stopped\n")) << stderrLines.toStdString();
    EXPECT_TRUE(stderrLines.contains("\n<4>kavelo.shell: ") && stderrLines.contains("ImportDir=/srv/host does not end"))
        << stderrLines.toStdString();
    EXPECT_FALSE(stderrLines.contains(" INFO ")) << "no time stamps on the journal's stream";
    EXPECT_TRUE(test::readFile(home.path(QStringLiteral("kavelo.log"))).contains(" INFO kavelo.shell: stopped"));
}

TEST(HeadlessCommandTest, ACommandsErrorsReachTheJournalAsErrors)
{
    QTemporaryDir run;
    const QString journal = QDir(run.path()).filePath(QStringLiteral("journal"));
    QProcess kavelo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("JOURNAL_STREAM"), journalStream(journal));
    kavelo.setProcessEnvironment(environment);
    kavelo.setStandardErrorFile(journal, QIODevice::Append);
    kavelo.start(test::binaryDir() + QStringLiteral("/kavelo"),
                 {QStringLiteral("verify"), run.path() + QStringLiteral("/none")});
    ASSERT_TRUE(kavelo.waitForFinished(20000));
    EXPECT_EQ(kavelo.exitCode(), 1);
    const QByteArray lines = test::readFile(journal);
    EXPECT_TRUE(lines.startsWith("<3>kavelo: ")) << lines.toStdString();
    EXPECT_FALSE(lines.contains("\nkavelo: ")) << "every line carries its priority";
}

} // namespace
} // namespace kavelo::shell
