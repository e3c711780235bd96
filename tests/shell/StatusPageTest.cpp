// The status page of a running service: a terminal served, a poll with one failing and one good update file, then
// what /status, /metrics and the page itself (in Chromium) say about them.
#include "client/TerminalClient.h"
#include "masters/Masters.h"
#include "shell/Service.h"
#include "shell/Settings.h"
#include "status/StatusServer.h"
#include "support/EventWait.h"
#include "transfer/TerminalKeys.h"
#include "support/HttpProbe.h"
#include "support/RecordingOperatorUi.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

namespace kavelo::shell {
namespace {

class StatusPageTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // An order of terminal 7 filed before the service started.
        test::writeFile(home.backup(7) + QStringLiteral("20261201101010_S_TANA.dat"), "stock\r\n");
        transfer::TerminalKeys keys;
        key3 = keys.enroll(3, QDateTime::currentDateTime())->toLatin1();
        ASSERT_OK(keys.write(home.home()));
        auto settings = ReadSettings(home.home());
        ASSERT_OK(settings);
        service = std::make_unique<Service>(*settings, ui);
        service->setUpdateFunction([](const masters::MasterDefinition&,
                                      const distribution::UpdateContext&,
                                      qint64 terminal) -> platform::Result<distribution::UpdateSummary> {
            if (terminal == 4) {
                return platform::Status::lineError(QStringLiteral("/x/HT/0004/rcv/SHOMAS.dat"),
                                                   12,
                                                   QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
            }
            return distribution::UpdateSummary{100, 60, 40, 160};
        });
        ASSERT_TRUE(service->start());
        service->pollTimer().stop();
        ASSERT_NE(service->statusServer(), nullptr);
        statusPort = service->statusServer()->port();
        terminalPort = static_cast<quint16>(service->server().PortNo());
    }

    // Terminal 3's order file and masters, then a poll over a failing and a good update file.
    void serveAndPoll()
    {
        test::writeFile(home.rcv(3) + QStringLiteral("SHOMAS.csv"), "4901,牛乳\r\n");
        test::writeFile(home.rcv(4) + QStringLiteral("SHOMAS.dat"), "x\r\n");
        test::writeFile(home.rcv(1) + QStringLiteral("TOKMAS.dat"), "y\r\n");
        test::runTerminal([this] {
            client::TerminalClient client(QStringLiteral("127.0.0.1"), terminalPort, 5000);
            ASSERT_OK(client.connectAs(3));
            ASSERT_OK(client.put(QStringLiteral("S_HACH.dat"), "0001,4901,10\r\n"));
            ASSERT_OK(client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
            ASSERT_OK(client.get(out.path(), true));
            ASSERT_OK(client.bye());
        });
        for (int tick = 1; tick <= distribution::PollCountdown::kAtStartUp; ++tick) {
            service->pollTick();
        }
        ASSERT_TRUE(test::waitUntil([this] { return !service->pollRunning(); }));
    }

    test::HttpReply get(const QByteArray& path)
    {
        test::HttpReply reply;
        test::runTerminal([&] { reply = test::httpGet(statusPort, path); });
        return reply;
    }

    test::ProgramFolder home{{QStringLiteral("ListenPort=0"),
                              QStringLiteral("StatusPort=%1").arg(test::freePort()),
                              QStringLiteral("HttpsPort=%1").arg(test::freePort())}};
    QByteArray key3;
    test::RecordingOperatorUi ui;
    std::unique_ptr<Service> service;
    QTemporaryDir out;
    quint16 statusPort = 0;
    quint16 terminalPort = 0;
};

TEST_F(StatusPageTest, StatusJsonTellsWhatWasServedAndWhatThePollDid)
{
    serveAndPoll();
    const test::HttpReply reply = get("/status");
    ASSERT_EQ(reply.status, 200) << reply.head.toStdString();
    EXPECT_TRUE(reply.head.contains("application/json"));
    QJsonParseError error;
    const QJsonObject status = QJsonDocument::fromJson(reply.body, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << reply.body.toStdString();

    EXPECT_TRUE(status.value(QStringLiteral("listening")).toBool());
    EXPECT_EQ(status.value(QStringLiteral("ip")).toObject().value(QStringLiteral("port")).toInt(), terminalPort);
    EXPECT_TRUE(status.value(QStringLiteral("serial")).isNull());
    EXPECT_TRUE(status.value(QStringLiteral("sessions")).toArray().isEmpty());
    const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"));
    EXPECT_TRUE(iso.match(status.value(QStringLiteral("startedAt")).toString()).hasMatch());

    const QJsonArray terminals = status.value(QStringLiteral("terminals")).toArray();
    ASSERT_EQ(terminals.size(), 1);
    const QJsonObject three = terminals.at(0).toObject();
    EXPECT_EQ(three.value(QStringLiteral("terminal")).toInt(), 3);
    const QJsonObject upload = three.value(QStringLiteral("lastUpload")).toObject();
    EXPECT_EQ(upload.value(QStringLiteral("name")).toString(), QStringLiteral("CTRL.csv"));
    EXPECT_TRUE(upload.value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(iso.match(upload.value(QStringLiteral("at")).toString()).hasMatch());
    const QJsonObject fetched = three.value(QStringLiteral("lastGet")).toObject();
    EXPECT_EQ(fetched.value(QStringLiteral("files")).toInt(), 1);
    EXPECT_EQ(fetched.value(QStringLiteral("bytes")).toInt(),
              test::readFile(home.rcv(3) + QStringLiteral("SHOMAS.csv")).size());
    EXPECT_TRUE(three.value(QStringLiteral("lastError")).isNull());

    const QJsonObject poll = status.value(QStringLiteral("poll")).toObject();
    EXPECT_TRUE(iso.match(poll.value(QStringLiteral("lastRun")).toString()).hasMatch());
    EXPECT_TRUE(iso.match(poll.value(QStringLiteral("nextRun")).toString()).hasMatch());
    const QJsonArray results = poll.value(QStringLiteral("results")).toArray();
    ASSERT_EQ(results.size(), 2);
    const QJsonObject good = results.at(0).toObject(); // terminal 1 comes first
    EXPECT_EQ(good.value(QStringLiteral("master")).toString(), QStringLiteral("TOKMAS"));
    EXPECT_TRUE(good.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(good.value(QStringLiteral("rowsExported")).toInt(), 160);
    EXPECT_TRUE(good.value(QStringLiteral("error")).isNull());
    const QJsonObject bad = results.at(1).toObject();
    EXPECT_EQ(bad.value(QStringLiteral("terminal")).toInt(), 4);
    EXPECT_FALSE(bad.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(bad.value(QStringLiteral("error")).toString(),
              QStringLiteral("SHOMAS, terminal 0004: /x/HT/0004/rcv/SHOMAS.dat, line 12: not valid Windows-31J "
                             "(Shift-JIS) text"));
    EXPECT_EQ(bad.value(QStringLiteral("file")).toString(), QStringLiteral("/x/HT/0004/rcv/SHOMAS.dat"));
    EXPECT_EQ(bad.value(QStringLiteral("line")).toInt(), 12);
    EXPECT_EQ(bad.value(QStringLiteral("reason")).toString(), QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    EXPECT_TRUE(poll.value(QStringLiteral("lastSuccess")).isNull());
    EXPECT_FALSE(status.value(QStringLiteral("work")).toObject().value(QStringLiteral("pollRunning")).toBool());

    // The failed update is the one failure counted, however often it was logged.
    const QJsonArray errors = status.value(QStringLiteral("errors")).toArray();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.at(0).toObject().value(QStringLiteral("terminal")).toString(), QStringLiteral("0004"));
    EXPECT_EQ(errors.at(0).toObject().value(QStringLiteral("line")).toInt(), 12);

    // The page says the same failure in Japanese, in the poll's table and among the errors; /status stays English.
    const QString page = QString::fromUtf8(get("/").body);
    EXPECT_EQ(
        page.count(QStringLiteral("/x/HT/0004/rcv/SHOMAS.dat 12行目: Windows-31J（シフトJIS）の文字として読めません")),
        2)
        << page.toStdString();
    EXPECT_FALSE(page.contains(QStringLiteral("not valid Windows-31J")));
}

TEST_F(StatusPageTest, MetricsCountTheSameInTheExpositionFormat)
{
    serveAndPoll();
    const test::HttpReply reply = get("/metrics");
    ASSERT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.head.contains("text/plain; version=0.0.4"));
    const QString text = QString::fromUtf8(reply.body);
    for (const char* line : {"kavelo_sessions_total 1",
                             "kavelo_uploads_total{kind=\"order\",outcome=\"saved\"} 1",
                             "kavelo_uploads_total{kind=\"control\",outcome=\"saved\"} 1",
                             "kavelo_received_bytes_total{kind=\"order\"} 14",
                             "kavelo_masters_sent_total 1",
                             "kavelo_update_files_total{outcome=\"applied\"} 1",
                             "kavelo_update_files_total{outcome=\"failed\"} 1",
                             "kavelo_errors_total 1",
                             "kavelo_polls_total{outcome=\"failed\"} 1",
                             "kavelo_poll_running 0",
                             "kavelo_open_sessions 0",
                             "kavelo_listening 1",
                             "kavelo_last_successful_poll_timestamp_seconds 0",
                             "# TYPE kavelo_sessions_total counter"}) {
        EXPECT_TRUE(text.contains(QLatin1String(line) + QLatin1Char('\n'))) << line;
    }
    const QRegularExpression polled(QStringLiteral("\nkavelo_last_poll_timestamp_seconds (\\d+)\n"));
    const QRegularExpressionMatch match = polled.match(text);
    ASSERT_TRUE(match.hasMatch());
    EXPECT_GT(match.captured(1).toLongLong(), 0);
    // Every sample line is NAME{LABELS} VALUE or NAME VALUE.
    const QRegularExpression sample(
        QStringLiteral("^kavelo_[a-z_]+(\\{[a-z]+=\"[A-Za-z0-9]+\"(,[a-z]+=\"[A-Za-z0-9]+\")*\\})? \\d+$"));
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1Char('#'))) {
            EXPECT_TRUE(sample.match(line).hasMatch()) << line.toStdString();
        }
    }
}

// What the alert rules ask: when each terminal last sent data (also before start-up, from the backup tree), how
// many polls in a row an update file has failed, the disk; the page shows the disk in Japanese whatever the locale.
TEST_F(StatusPageTest, MetricsTellWhenThingsLastWentWellForTheAlertRules)
{
    for (QDeadlineTimer deadline(10000);
         service->statusBoard().lastDataUploads().count(7) == 0 && !deadline.hasExpired();) {
        test::spin(20);
    }
    serveAndPoll();
    for (int tick = 0; tick < distribution::PollCountdown::kBetweenPolls; ++tick) { // the next poll: still failing
        service->pollTick();
    }
    ASSERT_TRUE(test::waitUntil([this] { return !service->pollRunning(); }));
    QString text = QString::fromUtf8(get("/metrics").body);
    const QString stamp = QString::number(QDateTime(QDate(2026, 12, 1), QTime(10, 10, 10)).toSecsSinceEpoch());
    for (const QString& line :
         {QStringLiteral("kavelo_update_file_failing_polls{terminal=\"0004\",master=\"SHOMAS\"} 2"),
          QStringLiteral("kavelo_last_poll_success_timestamp_seconds 0"),
          QStringLiteral("kavelo_terminal_upload_alert_seconds 172800"),
          QStringLiteral("kavelo_terminal_last_upload_timestamp_seconds{terminal=\"0007\"} ") + stamp}) {
        EXPECT_TRUE(text.contains(line + QLatin1Char('\n'))) << line.toStdString() << "\n" << text.toStdString();
    }
    const QRegularExpression uploaded(
        QStringLiteral("\nkavelo_terminal_last_upload_timestamp_seconds\\{terminal=\"0003\"\\} (\\d+)\n"));
    ASSERT_TRUE(uploaded.match(text).hasMatch());
    EXPECT_GT(uploaded.match(text).captured(1).toLongLong(), stamp.toLongLong());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("\nkavelo_filesystem_free_bytes [1-9]\\d*\n")).match(text).hasMatch());

    QFile::remove(home.rcv(4) + QStringLiteral("SHOMAS.dat")); // taken away: failing no more
    for (int tick = 0; tick < distribution::PollCountdown::kBetweenPolls; ++tick) {
        service->pollTick();
    }
    ASSERT_TRUE(test::waitUntil([this] { return !service->pollRunning(); }));
    text = QString::fromUtf8(get("/metrics").body);
    EXPECT_FALSE(text.contains(QStringLiteral("kavelo_update_file_failing_polls{")));
    EXPECT_FALSE(text.contains(QStringLiteral("kavelo_last_poll_success_timestamp_seconds 0\n")));

    const QString page = QString::fromUtf8(get("/").body);
    EXPECT_TRUE(page.contains(QStringLiteral("<h2>ディスク</h2>\n<p>プログラムフォルダーのディスクの空き容量: ")))
        << page.toStdString();
}

// The HTTPS endpoint's certificate, the enrolled terminals with the last use of each key, and an address held off
// for guessing keys.
TEST_F(StatusPageTest, KeysAndTheHttpsEndpointAreAccountedFor)
{
    const status::LiveState live = service->liveState();
    ASSERT_TRUE(live.https && live.https->serving);
    const client::TerminalClient::Https https{
        QStringLiteral("127.0.0.1"), static_cast<quint16>(live.https->port), live.https->fingerprint};
    test::runTerminal([&] {
        client::TerminalClient terminal(https);
        ASSERT_OK(terminal.connectAs(3, key3));
        ASSERT_OK(terminal.put(QStringLiteral("CTRL.csv"), "CTRL\r\n"));
        for (int i = 0; i < 10; ++i) {
            client::TerminalClient guesser(https);
            ASSERT_OK(guesser.connectAs(3, "guess"));
            EXPECT_FALSE(guesser.put(QStringLiteral("S_HACH.dat"), "x").isOk());
        }
    });
    const QJsonObject status = QJsonDocument::fromJson(get("/status").body).object();
    const QJsonObject httpsJson = status.value(QStringLiteral("https")).toObject();
    EXPECT_TRUE(httpsJson.value(QStringLiteral("serving")).toBool());
    EXPECT_EQ(httpsJson.value(QStringLiteral("sha256")).toString(), live.https->fingerprint);
    EXPECT_EQ(live.https->fingerprint.size(), 64);
    const QJsonObject keys = status.value(QStringLiteral("keys")).toObject();
    const QJsonArray enrolled = keys.value(QStringLiteral("enrolled")).toArray();
    ASSERT_EQ(enrolled.size(), 1);
    EXPECT_EQ(enrolled.at(0).toObject().value(QStringLiteral("terminal")).toInt(), 3);
    EXPECT_EQ(enrolled.at(0).toObject().value(QStringLiteral("over")).toString(), QStringLiteral("https"));
    EXPECT_FALSE(enrolled.at(0).toObject().value(QStringLiteral("lastUsed")).isNull());
    const QJsonArray heldOff = keys.value(QStringLiteral("heldOff")).toArray();
    ASSERT_EQ(heldOff.size(), 1);
    EXPECT_EQ(heldOff.at(0).toObject().value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(get("/metrics").body.contains("\nkavelo_auth_failures_total 10\n"));
    const QString page = QString::fromUtf8(get("/").body);
    EXPECT_TRUE(page.contains(live.https->fingerprint));
    EXPECT_TRUE(page.contains(QStringLiteral("<td>127.0.0.1</td>")));
    // Nothing shown holds a key.
    EXPECT_FALSE(page.contains(QString::fromLatin1(key3)));
    EXPECT_FALSE(get("/status").body.contains(key3));
}

// The page a person opens, as Chromium shows it once it has loaded: the terminal just served is on it.
TEST_F(StatusPageTest, ThePageInChromiumShowsTheTerminalJustServed)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    ASSERT_FALSE(chromium.isEmpty()) << "chromium is needed (scripts/install-deps installs it)";
    serveAndPoll();
    QTemporaryDir profile;
    QProcess browser;
    const QStringList args = {QStringLiteral("--headless"),
                              QStringLiteral("--no-sandbox"),
                              QStringLiteral("--disable-gpu"),
                              QStringLiteral("--disable-quic"),
                              QStringLiteral("--no-first-run"),
                              QStringLiteral("--disable-background-networking"),
                              QStringLiteral("--disable-component-update"),
                              QStringLiteral("--disable-sync"),
                              QStringLiteral("--user-data-dir=") + profile.path(),
                              QStringLiteral("--dump-dom"),
                              QStringLiteral("http://127.0.0.1:%1/").arg(statusPort)};
    ASSERT_EQ(test::runProgram(browser, chromium, args, 60000), 0) << browser.readAllStandardError().toStdString();
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    const QRegularExpression row(QStringLiteral("<tr class=\"terminal-3\"><td>0003</td>"));
    EXPECT_TRUE(row.match(dom).hasMatch()) << dom.left(3000).toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("更新失敗")));
    EXPECT_TRUE(dom.contains(QStringLiteral("待ち受け中")));
}

} // namespace
} // namespace kavelo::shell
