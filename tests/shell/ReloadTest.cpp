// KAVELO.ini read again while the service serves (SIGHUP): what it changes at once, what waits for a restart, and a
// file with an error that changes nothing.
#include "shell/Service.h"

#include "client/TerminalClient.h"
#include "status/StatusReport.h"
#include "status/StatusServer.h"
#include "support/HttpProbe.h"
#include "support/RecordingOperatorUi.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kavelo::shell {
namespace {

using client::TerminalClient;

class ReloadTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        auto settings = ReadSettings(home.home());
        ASSERT_OK(settings);
        service = std::make_unique<Service>(*settings, ui);
        ASSERT_TRUE(service->start());
        ASSERT_TRUE(service->server().Listening());
    }

    // KAVELO.ini as the program folder has it, with `lines` added (the later a key, the more it counts).
    void rewrite(const QStringList& lines)
    {
        test::writeFile(home.path(QStringLiteral("KAVELO.ini")),
                        initial + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    }
    // Reloads from the event loop, as the signal does, while the calling terminal thread waits.
    bool reloadFromTerminal()
    {
        bool taken = false;
        QMetaObject::invokeMethod(
            service.get(), [&] { taken = service->reload(); }, Qt::BlockingQueuedConnection);
        return taken;
    }

    const quint16 port = test::freePort();
    test::ProgramFolder home{{QStringLiteral("ListenPort=%1").arg(port)}};
    const QByteArray initial = test::readFile(home.path(QStringLiteral("KAVELO.ini")));
    test::RecordingOperatorUi ui;
    std::unique_ptr<Service> service;
};

// A session goes on through a reload that does not concern it; the new limits hold for new sessions; a status page
// turned on is served; DATA keeps its value until a restart, and says so.
TEST_F(ReloadTest, AReloadAppliesWhatItCanAndLeavesSessionsItDoesNotConcern)
{
    const quint16 statusPort = test::freePort();
    bool taken = false;
    test::HttpReply status;
    test::runTerminal([&] {
        TerminalClient before(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(before.connectAs(1));
        rewrite({QStringLiteral("MaxFileSize=10"),
                 QStringLiteral("StatusPort=%1").arg(statusPort),
                 QStringLiteral("DATA=/elsewhere/")});
        taken = reloadFromTerminal();
        EXPECT_OK(before.put(QStringLiteral("a.txt"), QByteArray(20, 'a')));
        ASSERT_OK(before.bye());
        TerminalClient after(QStringLiteral("127.0.0.1"), port, 5000);
        ASSERT_OK(after.connectAs(2));
        EXPECT_FALSE(after.put(QStringLiteral("b.txt"), QByteArray(20, 'b')).isOk());
        status = test::httpGet(statusPort, "/status");
    });
    EXPECT_TRUE(taken);
    EXPECT_EQ(service->settings().maxFileSize, 10);
    EXPECT_EQ(service->settings().DataRoot, home.dataRoot()); // in force until a restart
    EXPECT_TRUE(ui.statusLines.contains(QStringLiteral("設定を読み直しました。DATA は再起動後に有効になります。")))
        << ui.statusLines.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(status.status, 200);
    const QJsonObject settings =
        QJsonDocument::fromJson(status.body).object().value(QStringLiteral("settings")).toObject();
    EXPECT_EQ(settings.value(QStringLiteral("restartNeeded")).toArray(), QJsonArray{QStringLiteral("DATA")});
    EXPECT_TRUE(settings.value(QStringLiteral("lastReload")).toObject().value(QStringLiteral("ok")).toBool());
}

// A line with an error: nothing changes, and the line is named in the log, the status line and the status page.
TEST_F(ReloadTest, AFileWithAnErrorKeepsTheSettingsInForceAndNamesTheLine)
{
    rewrite({QStringLiteral("ListenPort=%1").arg(test::freePort()), QStringLiteral("MaxSessions=0")});
    const qint64 line = test::readFile(home.path(QStringLiteral("KAVELO.ini"))).count('\n');
    EXPECT_FALSE(service->reload());
    EXPECT_EQ(service->settings().listenPort, port);
    EXPECT_EQ(service->server().PortNo(), port);
    const QString file = home.path(QStringLiteral("KAVELO.ini"));
    EXPECT_EQ(ui.statusLine,
              QStringLiteral("設定を読み直せません: 設定ファイル %1 の %2 行目: MaxSessions=0 は1～1000 "
                             "の数ではありません。 それまでの設定で動作を続けます。")
                  .arg(file)
                  .arg(line));
    const status::SettingsRecord& record = service->statusBoard().settings();
    EXPECT_FALSE(record.lastReloadOk);
    EXPECT_EQ(record.errorLine, line);
    EXPECT_EQ(record.error,
              QStringLiteral("%1, line %2: MaxSessions=0 is not a count from 1 to 1000").arg(file).arg(line));
    const QString page = QString::fromUtf8(status::statusPage(service->statusBoard(), service->liveState()));
    EXPECT_TRUE(page.contains(QStringLiteral("の %1 行目: MaxSessions=0 は1～1000 の数ではありません。").arg(line)));
    EXPECT_TRUE(status::metricsText(service->statusBoard(), service->liveState())
                    .contains("\nkavelo_settings_reloads_total{outcome=\"failed\"} 1\n"));
    bool served = false;
    test::runTerminal([&] {
        TerminalClient client(QStringLiteral("127.0.0.1"), port, 5000);
        served = client.connectAs(3).isOk();
    });
    EXPECT_TRUE(served);
}

} // namespace
} // namespace kavelo::shell
