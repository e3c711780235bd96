#include "shell/Service.h"

#include "batch/BatchUser.h"
#include "support/EventWait.h"
#include "support/FakeCommServer.h"
#include "support/Gate.h"
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
    test::Gate gate; // holds a fake update; outlives the service, which stops its job
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

// The poll runs off the event loop: while an update runs, a transfer is handled and a tick counts down at once.
TEST_F(ServiceTest, TheThirtiethTickPollsWhileTheEventLoopServesOn)
{
    test::writeFile(home.rcv(1) + QStringLiteral("SHOMAS.dat"), "x");
    service->setUpdateFunction([&](const masters::MasterDefinition&,
                                   const distribution::UpdateContext& context,
                                   qint64) -> platform::Result<distribution::UpdateSummary> {
        gate.pass(context.stop);
        return distribution::UpdateSummary{};
    });
    ASSERT_TRUE(service->start());
    for (int i = 0; i < 29; ++i) {
        service->pollTick();
    }
    EXPECT_EQ(ui.countdown, QStringLiteral("1"));
    EXPECT_EQ(gate.arrived(), 0);
    service->pollTick();
    ASSERT_TRUE(test::waitUntil([&] { return gate.arrived() == 1; }));
    EXPECT_TRUE(service->pollRunning());
    // What the status page reads: the poll and the file it applies now.
    ASSERT_TRUE(test::waitUntil([&] { return service->liveState().work.pollTerminal == 1; }));
    EXPECT_EQ(service->liveState().work.pollMaster, QStringLiteral("SHOMAS"));
    server->raiseTransfer(wire::kReceiving, QStringLiteral("S_HACH.dat"), 3);
    EXPECT_EQ(ui.statusLine, QStringLiteral("S_HACH.dat受信中 :3"));
    service->pollTick();
    EXPECT_EQ(ui.countdown, QStringLiteral("3599"));

    gate.open();
    ASSERT_TRUE(test::waitUntil([&] { return !service->pollRunning(); }));
    EXPECT_TRUE(QFile::exists(home.rcv(1) + QStringLiteral("SHOMAS.sav")));
    EXPECT_FALSE(QFile::exists(home.rcv(1) + QStringLiteral("SHOMAS.dat")));
}

// The service stops (SIGTERM, the window closed) while an update runs: the update is told to stop and stop()
// returns once it has; its file and the files after it stay for the next poll.
TEST_F(ServiceTest, StoppingDuringAPollStopsTheRunningUpdate)
{
    for (int terminal : {1, 2}) {
        test::writeFile(home.rcv(terminal) + QStringLiteral("BUNMAS.dat"), "x");
    }
    service->setUpdateFunction([&](const masters::MasterDefinition& master,
                                   const distribution::UpdateContext& context,
                                   qint64 terminalNo) -> platform::Result<distribution::UpdateSummary> {
        gate.pass(context.stop);
        return batch::stoppedWork(
            context.tree.receiveFile(exchange::FolderTree::terminalId(terminalNo), master.updateFileName()));
    });
    ASSERT_TRUE(service->start());
    for (int i = 0; i < 30; ++i) {
        service->pollTick();
    }
    ASSERT_TRUE(test::waitUntil([&] { return gate.arrived() == 1; }));
    service->stop();
    EXPECT_FALSE(service->pollRunning());
    EXPECT_EQ(gate.arrived(), 1);
    for (int terminal : {1, 2}) {
        EXPECT_TRUE(QFile::exists(home.rcv(terminal) + QStringLiteral("BUNMAS.dat")));
        EXPECT_FALSE(QFile::exists(home.rcv(terminal) + QStringLiteral("BUNMAS.sav")));
    }
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
