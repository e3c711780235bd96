#include "shell/Service.h"

#include "support/FakeCommServer.h"
#include "support/RecordingOperatorUi.h"
#include "support/TestSupport.h"

#include <QFile>

namespace kavelo::shell {
namespace {

using test::FakeCommServer;
using test::RecordingOperatorUi;

class ServiceTest : public ::testing::Test
{
  protected:
    ServiceTest()
    {
        settings.programFolder = home.home();
        settings.DBPath = home.dbPath();
        settings.DataRoot = home.dataRoot();
        settings.statusPort = 0; // parallel tests, or a service on this machine, would hold the default port
        auto fake = std::make_unique<FakeCommServer>();
        server = fake.get();
        service = std::make_unique<Service>(settings, ui, std::move(fake), nullptr);
    }

    test::ProgramFolder home;
    Settings settings;
    RecordingOperatorUi ui;
    FakeCommServer* server = nullptr;
    std::unique_ptr<Service> service;
};

TEST_F(ServiceTest, StartUpSearchesThenListens)
{
    EXPECT_TRUE(service->start());
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("接続可能なUSBポートがありません")});
    EXPECT_EQ(server->listeningWrites, (QList<bool>{true}));
    EXPECT_EQ(ui.listenCaption, QStringLiteral("待ち受け解除"));
    EXPECT_EQ(ui.lamp, comm::Lamp::Green);
    EXPECT_TRUE(service->pollTimer().isActive());
    EXPECT_EQ(service->pollTimer().interval(), 3000);
    service->stop();
    EXPECT_FALSE(service->pollTimer().isActive());
    EXPECT_EQ(ui.listenCaption, QStringLiteral("待ち受け"));
}

TEST_F(ServiceTest, DecliningTheUsbPortEndsBeforeListening)
{
    server->usbPortCount = 1;
    server->choosePortResult = false;
    EXPECT_FALSE(service->start());
    EXPECT_TRUE(ui.ended);
    EXPECT_TRUE(server->listeningWrites.isEmpty());
    EXPECT_FALSE(service->pollTimer().isActive());
}

TEST_F(ServiceTest, TheThirtiethTickPollsAndATickDuringThePollOnlyCountsDown)
{
    test::writeFile(home.rcv(1) + QStringLiteral("SHOMAS.dat"), "x");
    int updates = 0;
    QStringList captionsDuringPoll;
    service->setUpdateFunction([&](const masters::MasterDefinition&,
                                   const distribution::UpdateContext&,
                                   qint64,
                                   const distribution::YieldHook&) -> platform::Result<distribution::UpdateSummary> {
        ++updates;
        EXPECT_TRUE(service->pollRunning());
        service->pollTick(); // a tick that comes while the poll yields
        captionsDuringPoll << ui.countdown;
        return distribution::UpdateSummary{};
    });
    ASSERT_TRUE(service->start());
    for (int i = 0; i < 29; ++i) {
        service->pollTick();
    }
    EXPECT_EQ(ui.countdown, QStringLiteral("1"));
    EXPECT_EQ(updates, 0);
    service->pollTick();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(captionsDuringPoll, QStringList{QStringLiteral("3599")});
    EXPECT_FALSE(service->pollRunning());
    EXPECT_TRUE(QFile::exists(home.rcv(1) + QStringLiteral("SHOMAS.sav")));
    EXPECT_FALSE(QFile::exists(home.rcv(1) + QStringLiteral("SHOMAS.dat")));
}

TEST_F(ServiceTest, TransfersReachTheHandler)
{
    ASSERT_TRUE(service->start());
    server->raiseTransfer(wire::kReceiving, QStringLiteral("S_HACH.dat"), 3);
    EXPECT_EQ(ui.statusLine, QStringLiteral("S_HACH.dat受信中 :3"));
    service->listenControl().toggleListening();
    EXPECT_EQ(ui.statusLine, QString());
}

} // namespace
} // namespace kavelo::shell
