// `kavelo backup`, `verify` and `restore` against a program folder that `kavelo --headless` serves meanwhile.
#include "client/TerminalClient.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace kavelo::shell {
namespace {

struct CommandRun
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

CommandRun kavelo(const QStringList& args)
{
    QProcess process;
    process.start(test::binaryDir() + QStringLiteral("/kavelo"), args);
    CommandRun run;
    if (process.waitForFinished(120000)) {
        run.code = process.exitCode();
    }
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QStringList backedUpUploads(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

TEST(BackupCommandTest, BacksUpWhileTerminalsUploadAndRestoreWaitsUntilTheServiceStops)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    test::ProgramFolder home{{QStringLiteral("ListenPort=%1").arg(port)}};
    QProcess service;
    service.setProcessChannelMode(QProcess::MergedChannels);
    service.start(test::binaryDir() + QStringLiteral("/kavelo"),
                  {QStringLiteral("--headless"), QStringLiteral("--home"), home.home()});
    QByteArray output;
    for (QDeadlineTimer deadline(20000); !output.contains("listening on") && !deadline.hasExpired();) {
        service.waitForReadyRead(200);
        output += service.readAll();
    }
    ASSERT_TRUE(output.contains("listening on")) << output.toStdString();

    auto upload = [port](int terminal, const QByteArray& content) {
        client::TerminalClient client(QStringLiteral("127.0.0.1"), port);
        return client.connectAs(terminal).isOk() && client.put(QStringLiteral("S_HACH.dat"), content).isOk() &&
               client.bye().isOk();
    };
    ASSERT_TRUE(upload(3, "before the backup\r\n"));
    const QStringList filedBefore = backedUpUploads(home.backup(3));
    ASSERT_EQ(filedBefore.size(), 1);
    std::atomic<bool> done{false};
    std::atomic<int> during{0};
    std::thread terminals([&] {
        while (!done) {
            during += upload(4, "during the backup\r\n") ? 1 : 0;
        }
    });
    QTemporaryDir destination;
    const CommandRun backup =
        kavelo({QStringLiteral("backup"), destination.path(), QStringLiteral("--home"), home.home()});
    done = true;
    terminals.join();
    ASSERT_EQ(backup.code, 0) << backup.err.toStdString();
    EXPECT_GT(during.load(), 0) << "terminals were served during the backup";
    const QStringList backups = QDir(destination.path()).entryList({QStringLiteral("kavelo-*")}, QDir::Dirs);
    ASSERT_EQ(backups.size(), 1);
    const QString copy = destination.path() + QLatin1Char('/') + backups.front();
    EXPECT_EQ(backedUpUploads(copy + QStringLiteral("/program/HT/backup/0003/snd")), filedBefore);

    const CommandRun verify = kavelo({QStringLiteral("verify"), copy});
    EXPECT_EQ(verify.code, 0) << verify.err.toStdString();
    EXPECT_TRUE(verify.out.contains(": sound")) << verify.out.toStdString();

    // Terminal 4's uploads during the backup may be in it or not; terminal 5's came after it.
    ASSERT_TRUE(upload(5, "after the backup\r\n"));
    const CommandRun refused = kavelo({QStringLiteral("restore"), copy, QStringLiteral("--home"), home.home()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains("is in use by KAVELO")) << refused.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(home.snd(5) + QStringLiteral("S_HACH.dat")));

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(20000));
    const CommandRun restored = kavelo({QStringLiteral("restore"), copy, QStringLiteral("--home"), home.home()});
    ASSERT_EQ(restored.code, 0) << restored.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.snd(5) + QStringLiteral("S_HACH.dat"))) << "uploaded after the backup";
    EXPECT_TRUE(QFileInfo::exists(home.snd(3) + QStringLiteral("S_HACH.dat")));
    const QStringList aside =
        QDir(QFileInfo(home.home()).absolutePath())
            .entryList({QFileInfo(home.home()).fileName() + QStringLiteral(".before-restore-*")}, QDir::Dirs);
    ASSERT_EQ(aside.size(), 1) << restored.out.toStdString();
    QDir(QFileInfo(home.home()).absolutePath() + QLatin1Char('/') + aside.front()).removeRecursively();
}

TEST(BackupCommandTest, VerifyExitsNonZeroNamingWhatIsWrong)
{
    QTemporaryDir empty;
    const CommandRun notAProgramFolder = kavelo({QStringLiteral("verify"), empty.path()});
    EXPECT_EQ(notAProgramFolder.code, 1);
    EXPECT_TRUE(notAProgramFolder.err.contains("KAVELO.ini: settings file not found"))
        << notAProgramFolder.err.toStdString();

    test::ProgramFolder home{{QStringLiteral("DBname=postgresql://kavelo@db.example/masters")}};
    const CommandRun server = kavelo({QStringLiteral("verify"), home.home()});
    EXPECT_EQ(server.code, 0) << server.err.toStdString();
    EXPECT_TRUE(server.out.contains("DBname names a database on a server")) << server.out.toStdString();
    EXPECT_FALSE(server.out.contains("db.example")) << "the address may carry a user's name";
}

} // namespace
} // namespace kavelo::shell
