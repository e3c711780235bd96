#include "comm/ListenControl.h"

#include "support/FakeCommServer.h"
#include "support/RecordingOperatorUi.h"
#include "support/TestSupport.h"

namespace kavelo::comm {
namespace {

using test::FakeCommServer;
using test::RecordingOperatorUi;

class ListenControlTest : public ::testing::Test
{
  protected:
    FakeCommServer server;
    RecordingOperatorUi ui;
    ListenControl control{server, ui};
};

TEST_F(ListenControlTest, TheCaptionAndLampFollowTheEventsNotTheClick)
{
    server.confirmWrites = false;
    ui.statusLine = QStringLiteral("S_HACH.dat保存成功 :3");
    control.toggleListening();
    EXPECT_EQ(server.listeningWrites, (QList<bool>{true}));
    EXPECT_EQ(ui.statusLine, QString()); // emptied even though no event came
    EXPECT_EQ(ui.listenCaption, kCaptionListen);
    EXPECT_EQ(ui.lamp, Lamp::White);

    Q_EMIT server.ListenStarted();
    EXPECT_EQ(ui.listenCaption, QStringLiteral("待ち受け解除"));
    EXPECT_EQ(ui.lamp, Lamp::Green);
    Q_EMIT server.ListenStopped(QVariant(5));
    EXPECT_EQ(ui.listenCaption, QStringLiteral("待ち受け"));
    EXPECT_EQ(ui.lamp, Lamp::Background);
    const QStringList before = ui.calls;
    Q_EMIT server.NoArgumentEvent();
    EXPECT_EQ(ui.calls, before);
}

TEST_F(ListenControlTest, TwoQuickClicksEachWriteTheOppositeOfTheCurrentValue)
{
    server.confirmWrites = false;
    control.toggleListening();
    control.toggleListening();
    EXPECT_EQ(server.listeningWrites, (QList<bool>{true, true})); // the server has not changed yet
    server.confirmWrites = true;
    control.toggleListening();
    control.toggleListening();
    EXPECT_EQ(server.listeningWrites, (QList<bool>{true, true, true, false}));
    EXPECT_EQ(ui.listenCaption, kCaptionListen);
}

TEST_F(ListenControlTest, SearchWhileListeningIsRefused)
{
    server.listening = true;
    server.usbPortCount = 2;
    EXPECT_TRUE(control.searchUsbUnit());
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("現在待ち受け中です")});
    EXPECT_TRUE(server.countRequests.isEmpty());
    EXPECT_EQ(server.chooseCalls, 0);
}

TEST_F(ListenControlTest, SearchWithoutPortsGoesOn)
{
    EXPECT_TRUE(control.searchUsbUnit());
    EXPECT_EQ(server.countRequests, (QList<qint32>{2048}));
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("接続可能なUSBポートがありません")});
    EXPECT_EQ(server.chooseCalls, 0);
    EXPECT_FALSE(ui.ended);
}

TEST_F(ListenControlTest, DecliningAPortEndsTheProgramAfterTheMessage)
{
    server.usbPortCount = 1;
    server.choosePortResult = false;
    EXPECT_FALSE(control.searchUsbUnit());
    EXPECT_EQ(ui.calls,
              (QStringList{QStringLiteral("message:USBポートが選択されませんでした"), QStringLiteral("end")}));
}

TEST_F(ListenControlTest, ChoosingAPortSaysNothing)
{
    server.usbPortCount = 1;
    EXPECT_TRUE(control.searchUsbUnit());
    EXPECT_EQ(server.chooseCalls, 1);
    EXPECT_TRUE(ui.messages.isEmpty());
}

} // namespace
} // namespace kavelo::comm
