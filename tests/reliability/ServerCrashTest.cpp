// `kavelo --headless` killed with SIGKILL in the middle of uploads, at seeded random moments: no half-written file
// under a real name, the send folder and the backup tree hold only whole uploads, and a restarted server serves on.
#include "ReliabilitySupport.h"

#include "client/TerminalClient.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

using namespace kavelo;
using namespace kavelo::test;
using namespace kavelo::reliability;

namespace {

constexpr int kKills = 10;

bool startServer(QProcess& server, const QString& home)
{
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(kaveloPath(), {QStringLiteral("--headless"), QStringLiteral("--home"), home});
    if (!server.waitForStarted(30000)) {
        return false;
    }
    QByteArray output;
    QDeadlineTimer deadline(30000);
    while (!output.contains("listening on") && !deadline.hasExpired() && server.state() == QProcess::Running) {
        server.waitForReadyRead(200);
        output += server.readAll();
    }
    return output.contains("listening on");
}

// An upload of 256 KiB that says which it is on every line.
QByteArray uploadContent(int trial, int index)
{
    const QByteArray line =
        QStringLiteral("trial %1 upload %2 ").arg(trial).arg(index).toLatin1().leftJustified(62, '.') + "\r\n";
    return line.repeated(256 * 1024 / line.size());
}

} // namespace

TEST(CrashSafety, ServerKilledMidUploadKeepsOnlyWholeFiles)
{
    const quint16 port = test::freePort();
    ProgramFolder folder({QStringLiteral("ListenPort=%1").arg(port)});
    QRandomGenerator rng(4242);

    QList<QByteArray> sent; // every content ever sent, all trials
    int killedAfterAnUpload = 0;
    for (int trial = 0; trial < kKills; ++trial) {
        SCOPED_TRACE(QStringLiteral("trial %1").arg(trial).toStdString());
        QProcess server;
        ASSERT_TRUE(startServer(server, folder.home()));

        std::mutex lock;
        int lastOk = -1;
        std::atomic<bool> stop(false);
        QList<QByteArray> contents;
        for (int i = 0; i < 200; ++i) {
            contents << uploadContent(trial, i);
        }
        std::thread terminal([&] {
            client::TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
            if (!client.connectAs(3).isOk()) {
                return;
            }
            for (int i = 0; i < contents.size() && !stop; ++i) {
                if (!client.put(QStringLiteral("S_HACH.dat"), contents.at(i)).isOk()) {
                    return;
                }
                std::lock_guard<std::mutex> guard(lock);
                lastOk = i;
            }
        });
        QThread::msleep(50 + rng.bounded(700));
        ::kill(static_cast<pid_t>(server.processId()), SIGKILL);
        server.waitForFinished(10000);
        stop = true;
        terminal.join();
        sent << contents;

        // No file under a real name that is not a whole upload.
        const QString inProgram = folder.path(QStringLiteral("S_HACH.dat"));
        if (QFile::exists(inProgram)) {
            EXPECT_TRUE(sent.contains(readFile(inProgram))) << "half-written S_HACH.dat in the program folder";
        }
        const QString sndCopy = folder.snd(3) + QStringLiteral("S_HACH.dat");
        if (lastOk >= 0) {
            ++killedAfterAnUpload;
            ASSERT_TRUE(QFile::exists(sndCopy));
            // The copy is the last acknowledged upload or one after it (saved, but the kill came before the reply).
            const qsizetype index = contents.indexOf(readFile(sndCopy));
            EXPECT_GE(index, lastOk) << "the send folder lost an acknowledged upload";
        }
        if (QFile::exists(sndCopy)) {
            EXPECT_TRUE(sent.contains(readFile(sndCopy))) << "half-written send copy";
        }
        for (const QString& name : fileNames(folder.backup(3))) {
            EXPECT_TRUE(name.endsWith(QLatin1String("_S_HACH.dat"))) << name.toStdString();
            EXPECT_TRUE(sent.contains(readFile(folder.backup(3) + name)))
                << "half-written backup " << name.toStdString();
        }
        for (const QString& name : fileNames(folder.home())) {
            EXPECT_TRUE(name == QLatin1String("KAVELO.ini") || name.startsWith(QLatin1String("kavelo.log")) ||
                        name == QLatin1String("kavelo.lock") || name == QLatin1String("S_HACH.dat") ||
                        name.startsWith(QLatin1String(".kavelo-upload-")))
                << "unexpected file in the program folder: " << name.toStdString();
        }
    }

    EXPECT_GE(killedAfterAnUpload, kKills / 2) << "most kills must come while uploads are going on";

    // A restarted server serves as before.
    QProcess server;
    ASSERT_TRUE(startServer(server, folder.home()));
    const QByteArray last("after the crashes\r\n");
    client::TerminalClient client(QStringLiteral("127.0.0.1"), port, 10000);
    ASSERT_OK(client.connectAs(3));
    ASSERT_OK(client.put(QStringLiteral("S_HACH.dat"), last));
    ASSERT_OK(client.bye());
    EXPECT_EQ(readFile(folder.snd(3) + QStringLiteral("S_HACH.dat")), last);
    server.terminate();
    server.waitForFinished(20000);
}
