#include "gui/MianMenu.h"

#include "comm/ListenControl.h"
#include "gui/MasterMenu.h"
#include "gui/OperatorTexts.h"
#include "masters/Masters.h"
#include "shell/Service.h"
#include "shell/Settings.h"
#include "support/EventWait.h"
#include "support/FakeCommServer.h"
#include "support/Gate.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

#include <memory>
#include <stdexcept>
#include <vector>

namespace kavelo::gui {
namespace {

using shell::Service;

using test::FakeCommServer;
using test::ProgramFolder;
using test::waitUntil;

struct Shown
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

class MianMenuTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        MianMenuHooks hooks;
        hooks.showMessage = [this](QWidget*, QMessageBox::Icon icon, const QString& title, const QString& text) {
            shown.push_back({icon, title, text});
            if (throwOnMessage) {
                throw std::runtime_error("message box broke");
            }
        };
        hooks.endProgram = [this] { endCalls++; };
        window = std::make_unique<MianMenu>(std::move(hooks));

        auto settings = shell::ReadSettings(folder.home());
        ASSERT_OK(settings);
        auto server = std::make_unique<FakeCommServer>();
        fake = server.get();
        service = std::make_unique<Service>(*settings, *window, std::move(server), nullptr);
        // Runs on the job runner's thread; the test reads `updates` only once the poll has ended.
        service->setUpdateFunction([this](const masters::MasterDefinition& master,
                                          const distribution::UpdateContext& context,
                                          qint64 terminalNo) -> platform::Result<distribution::UpdateSummary> {
            updates << QStringLiteral("%1:%2").arg(master.name).arg(terminalNo);
            if (holdUpdates && !gate.pass(context.stop)) {
                return platform::Status::error(QStringLiteral("stopped"));
            }
            if (!failUpdatesWith.isOk()) {
                return failUpdatesWith;
            }
            return distribution::UpdateSummary{};
        });
        window->attach(*service);
    }
    void TearDown() override
    {
        service.reset();
        window.reset();
    }
    // The 30 ticks to the first poll, which then runs to its end (or is held at the gate).
    void pollOnce()
    {
        for (int tick = 1; tick <= distribution::PollCountdown::kAtStartUp; ++tick) {
            service->pollTick();
        }
        if (holdUpdates) {
            ASSERT_TRUE(waitUntil([&] { return gate.arrived() > 0; }));
        } else {
            ASSERT_TRUE(waitUntil([&] { return !service->pollRunning(); }));
        }
    }

    template <typename T = QWidget> T* control(const char* name)
    {
        auto* widget = window->findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char* name)
    {
        if (auto* label = qobject_cast<QLabel*>(control(name))) {
            return label->text();
        }
        return control<QPushButton>(name)->text();
    }
    QColor lamp() { return control<LampShape>("Shape1")->fillColor(); }
    // The import windows that exist: top-level windows of their own.
    static qsizetype masterMenus()
    {
        qsizetype count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            count += qobject_cast<MasterMenu*>(widget) != nullptr ? 1 : 0;
        }
        return count;
    }
    QColor background() { return window->palette().color(QPalette::Window); }

    ProgramFolder folder;
    QStringList updates;
    platform::Status failUpdatesWith;
    bool holdUpdates = false; // each update waits at the gate
    test::Gate gate;
    std::unique_ptr<MianMenu> window;
    std::unique_ptr<Service> service;
    FakeCommServer* fake = nullptr;
    std::vector<Shown> shown;
    bool throwOnMessage = false;
    int endCalls = 0;
};

TEST_F(MianMenuTest, LayoutIsTheDesignInCreationOrder)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ハンディ通信"));
    EXPECT_EQ(window->size(), QSize(274, 164)); // 4110 x 2460 twips

    struct Expected
    {
        const char* name;
        QString caption;
        QRect geometry; // twips / 15
        bool visible;
    };
    const Expected expected[] = {
        {"BtnMaster", QStringLiteral("マスター更新"), QRect(128, 120, 81, 33), false},
        {"Command2", QStringLiteral("USB通信ユニット検索"), QRect(64, 40, 129, 25), true},
        {"Command1", QStringLiteral("待ち受け"), QRect(64, 8, 129, 25), true},
        {"LCount", QStringLiteral("1"), QRect(8, 136, 81, 17), false},
        {"LStatus", QString(), QRect(8, 96, 257, 17), true},
        {"Label1", QString(), QRect(8, 72, 257, 17), true},
        {"Shape1", QString(), QRect(8, 8, 41, 41), true},
        {"Label2", QStringLiteral("通信状況"), QRect(8, 48, 57, 17), true},
    };
    QStringList created;
    for (QObject* child : window->children()) {
        if (child->isWidgetType()) {
            created << child->objectName();
        }
    }
    QStringList names;
    for (const Expected& e : expected) {
        names << QString::fromLatin1(e.name);
        SCOPED_TRACE(e.name);
        QWidget* widget = control(e.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), e.geometry);
        EXPECT_EQ(widget->isVisibleTo(window.get()), e.visible);
        if (qobject_cast<LampShape*>(widget) == nullptr) {
            EXPECT_EQ(text(e.name), e.caption);
        }
    }
    EXPECT_EQ(created, names);

    EXPECT_EQ(lamp(), QColor(Qt::white));
    for (const char* name : {"Command1", "Command2"}) {
        EXPECT_EQ(control(name)->palette().color(QPalette::Button), background()) << name;
    }
    EXPECT_EQ(control("Command1")->nextInFocusChain(), control("Command2"));
    EXPECT_EQ(service->pollTimer().objectName(), QStringLiteral("Timer1"));
    EXPECT_EQ(service->pollTimer().interval(), 3000);

    // The status line and the heading: the named fonts where they exist, else a Japanese font, 9 pt.
    for (const char* name : {"Label1", "Label2"}) {
        SCOPED_TRACE(name);
        const QFont font = control(name)->font();
        EXPECT_EQ(font.pointSize(), 9);
        EXPECT_TRUE(QFontDatabase::writingSystems(font.family()).contains(QFontDatabase::Japanese))
            << font.family().toStdString();
    }
}

TEST_F(MianMenuTest, StartUpWithoutUsbPortSaysSoAndStillListens)
{
    fake->usbPortCount = 0;
    ASSERT_TRUE(service->start());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("接続可能なUSBポートがありません"));
    EXPECT_EQ(shown[0].title, QStringLiteral("KAVELO"));
    EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(fake->listeningWrites, QList<bool>{true});
    EXPECT_EQ(endCalls, 0);
    EXPECT_TRUE(service->pollTimer().isActive());
    EXPECT_EQ(text("LCount"), QStringLiteral("1"));
}

TEST_F(MianMenuTest, DeclinedPortEndsTheProgramBeforeItListens)
{
    fake->usbPortCount = 1;
    fake->choosePortResult = false;
    EXPECT_FALSE(service->start());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("USBポートが選択されませんでした"));
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(window->ended());
    EXPECT_TRUE(fake->listeningWrites.isEmpty());

    // No handler runs any more.
    control<QPushButton>("Command1")->click();
    EXPECT_TRUE(fake->listeningWrites.isEmpty());
}

TEST_F(MianMenuTest, LampAndToggleCaptionFollowTheListeningEvents)
{
    fake->usbPortCount = 1;
    ASSERT_TRUE(service->start());
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(lamp(), QColor(0, 255, 0));
    EXPECT_EQ(text("Command1"), QStringLiteral("待ち受け解除"));

    // A search while listening is refused.
    control<QPushButton>("Command2")->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("現在待ち受け中です"));

    control<QPushButton>("Command1")->click();
    EXPECT_EQ(fake->listeningWrites, (QList<bool>{true, false}));
    EXPECT_EQ(lamp(), background());
    EXPECT_EQ(text("Command1"), QStringLiteral("待ち受け"));

    control<QPushButton>("Command1")->click();
    EXPECT_EQ(lamp(), QColor(0, 255, 0));
    EXPECT_EQ(text("Command1"), QStringLiteral("待ち受け解除"));
}

TEST_F(MianMenuTest, ToggleEmptiesTheStatusLineEvenWhenNoEventFollows)
{
    fake->usbPortCount = 1;
    ASSERT_TRUE(service->start());
    fake->confirmWrites = false;
    fake->raiseTransfer(wire::kReceiving, QStringLiteral("S_HACH.dat"), 3);
    EXPECT_EQ(text("Label1"), QStringLiteral("S_HACH.dat受信中 :3"));

    control<QPushButton>("Command1")->click();
    EXPECT_EQ(text("Label1"), QString());
    EXPECT_EQ(fake->listeningWrites.size(), 2);
    // The caption waits for the server's event, which does not come.
    EXPECT_EQ(text("Command1"), QStringLiteral("待ち受け解除"));
    EXPECT_EQ(lamp(), QColor(0, 255, 0));
}

TEST_F(MianMenuTest, CountdownShowsEachTickAndTheThirtiethPolls)
{
    fake->usbPortCount = 1;
    test::writeFile(folder.rcv(2) + QStringLiteral("SHOMAS.dat"), test::sjisLines({QStringLiteral("x")}));
    ASSERT_TRUE(service->start());
    EXPECT_EQ(text("LCount"), QStringLiteral("1"));
    service->pollTick();
    EXPECT_EQ(text("LCount"), QStringLiteral("29"));
    for (int tick = 2; tick <= 29; ++tick) {
        service->pollTick();
    }
    EXPECT_EQ(text("LCount"), QStringLiteral("1"));
    EXPECT_FALSE(service->pollRunning());
    service->pollTick();
    EXPECT_EQ(text("LCount"), QStringLiteral("3600"));
    ASSERT_TRUE(waitUntil([&] { return !service->pollRunning(); }));
    EXPECT_EQ(updates, QStringList{QStringLiteral("SHOMAS:2")});
}

// A master update that fails in the poll is shown below the status line without anyone asking, until a poll applies
// that file; the status line keeps the transfers.
TEST_F(MianMenuTest, LStatusShowsThePollsFailuresUntilTheFileIsApplied)
{
    fake->usbPortCount = 1;
    for (int terminal : {4, 6}) {
        test::writeFile(folder.rcv(terminal) + QStringLiteral("SHOMAS.dat"), test::sjisLines({QStringLiteral("x")}));
    }
    failUpdatesWith = platform::Status::lineError(
        folder.rcv(4) + QStringLiteral("SHOMAS.dat"), 12, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    ASSERT_TRUE(service->start());
    fake->raiseTransfer(wire::kReceiving, QStringLiteral("S_HACH.dat"), 3);
    pollOnce();
    // In Japanese whatever the locale, made from the failure's fields.
    EXPECT_EQ(
        text("LStatus"),
        QStringLiteral("0004 SHOMAS.dat 更新失敗: 12行目: Windows-31J（シフトJIS）の文字として読めません （他1件）"));
    EXPECT_EQ(control("LStatus")->toolTip(),
              QStringLiteral("0004 SHOMAS.dat 更新失敗: 12行目: Windows-31J（シフトJIS）の文字として読めません\n"
                             "0006 SHOMAS.dat 更新失敗: 12行目: Windows-31J（シフトJIS）の文字として読めません"));
    EXPECT_EQ(text("Label1"), QStringLiteral("S_HACH.dat受信中 :3"));

    failUpdatesWith = platform::Status::ok();
    for (int tick = 1; tick <= distribution::PollCountdown::kBetweenPolls; ++tick) {
        service->pollTick();
    }
    ASSERT_TRUE(waitUntil([&] { return !service->pollRunning(); }));
    EXPECT_EQ(updates.size(), 4);
    EXPECT_TRUE(text("LStatus").isEmpty());
}

// Why an upload was not saved follows the caption in the status line, in Japanese; the system's reason as it came.
TEST_F(MianMenuTest, AnUploadRefusedForAFullDiskIsToldInJapanese)
{
    ASSERT_TRUE(service->start());
    platform::Failure nearlyFull;
    nearlyFull.action = QStringLiteral("cannot store the file");
    nearlyFull.reason = QStringLiteral("the PC's disk is nearly full");
    nearlyFull.kind = platform::Status::Kind::NoSpace;
    fake->raiseUploadFailed(QStringLiteral("S_HACH.dat"), platform::Status::failed(nearlyFull), 3);
    EXPECT_EQ(
        text("Label1"),
        QStringLiteral(
            "S_HACH.dat保存失敗（ファイルを書き込めません: PCのディスクの空きが残りわずかです（MinFreeBytes））"));
    platform::Failure full = nearlyFull;
    full.reason = QStringLiteral("No space left on device");
    fake->raiseUploadFailed(QStringLiteral("S_TANA.dat"), platform::Status::failed(full), 4);
    EXPECT_EQ(text("Label1"),
              QStringLiteral("S_TANA.dat保存失敗（ファイルを書き込めません: No space left on device）"));
}

// The line for each failure is made from its fields: the line number where there is one, what failed and why; the
// system's reason as it came, a text the catalogue does not know as it is.
TEST(PollFailureLines, AreMadeFromTheFailuresFields)
{
    distribution::PollReport report;
    distribution::PollEntry noLine;
    noLine.terminalNo = 11;
    noLine.master = QStringLiteral("TENMAS");
    noLine.failure = platform::Status::fileError(QStringLiteral("/db/MasterConv.db"),
                                                 QStringLiteral("disk I/O error"),
                                                 QStringLiteral("cannot open the database"))
                         .about(QStringLiteral("TENMAS"), QStringLiteral("0011"));
    distribution::PollEntry good;
    good.ok = true;
    report.entries = {noLine, good};
    EXPECT_EQ(pollFailureLines(report),
              QStringLiteral("0011 TENMAS.dat 更新失敗: データベースを開けません: disk I/O error"));
    report.failure = platform::Status::error(QStringLiteral("failed unexpectedly: bad_alloc"));
    EXPECT_TRUE(pollFailureLines(report).endsWith(QStringLiteral("\nポーリング失敗: failed unexpectedly: bad_alloc")));
}

TEST_F(MianMenuTest, TimerTicksReachTheCountdownUntilTheProgramEnds)
{
    fake->usbPortCount = 1;
    ASSERT_TRUE(service->start());
    service->pollTimer().setInterval(1);
    ASSERT_TRUE(waitUntil([&] { return text("LCount") != QStringLiteral("1"); }));
    window->endProgram();
    EXPECT_EQ(endCalls, 1);
    const QString frozen = text("LCount");
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    EXPECT_EQ(text("LCount"), frozen);
}

TEST_F(MianMenuTest, BtnMasterOpensOneImportWindowAndEndUnloadsIt)
{
    auto* btnMaster = control<QPushButton>("BtnMaster");
    btnMaster->click();
    MasterMenu* first = window->masterMenu();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(first->parentWidget(), nullptr); // a window of its own, not one kept above the main window
    btnMaster->click();
    EXPECT_EQ(window->masterMenu(), first);
    EXPECT_EQ(masterMenus(), 1);
    EXPECT_EQ(first->databasePath(), service->settings().importDb);
    EXPECT_EQ(first->importFolder(), service->settings().importDir);

    first->findChild<QPushButton*>(QStringLiteral("BtnEND"))->click();
    ASSERT_TRUE(waitUntil([&] { return window->masterMenu() == nullptr; }));
    EXPECT_EQ(masterMenus(), 0);

    btnMaster->click();
    ASSERT_NE(window->masterMenu(), nullptr);
    EXPECT_TRUE(window->masterMenu()->isVisible());
    window->masterMenu()->close(); // the close box does the same as END
    ASSERT_TRUE(waitUntil([&] { return window->masterMenu() == nullptr; }));
}

// The import is asked for during a master poll, so it waits; its window is closed before the poll ends.
TEST_F(MianMenuTest, ImportEndingAfterItsWindowClosedIsAnnouncedByTheMainWindow)
{
    test::writeFile(folder.rcv(1) + QStringLiteral("BUNMAS.dat"), test::sjisLines({QStringLiteral("x")}));
    holdUpdates = true;
    pollOnce();
    control<QPushButton>("BtnMaster")->click();
    window->masterMenu()->findChild<QPushButton*>(QStringLiteral("BtnSIRMAS"))->click();
    EXPECT_TRUE(service->jobs().state().importWaiting);
    window->masterMenu()->close();
    ASSERT_TRUE(waitUntil([&] { return window->masterMenu() == nullptr; }));
    gate.open();
    ASSERT_TRUE(waitUntil([&] { return !service->jobs().busy(); }));
    ASSERT_EQ(shown.size(), 1u);
    // No SIRMAS.DAT: the failure names the master and the file.
    EXPECT_EQ(shown[0].title, QStringLiteral("KAVELO"));
    EXPECT_EQ(shown[0].text,
              QStringLiteral("仕入先マスタの更新に失敗しました\n") + folder.importDir() +
                  QStringLiteral("SIRMAS.DAT: host file not found"));
}

// The operator declines the USB port in a search clicked while the poll runs: the program ends at once; the running
// update is stopped and the poll updates no further file.
TEST_F(MianMenuTest, DecliningThePortDuringAPollEndsTheProgramAtOnce)
{
    fake->usbPortCount = 1;
    fake->choosePortResult = false;
    for (int terminal : {1, 2}) {
        test::writeFile(folder.rcv(terminal) + QStringLiteral("BUNMAS.dat"), test::sjisLines({QStringLiteral("x")}));
    }
    holdUpdates = true;
    pollOnce();
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(window->ended());
    EXPECT_FALSE(service->pollRunning()); // stopped before the click returned
    EXPECT_EQ(updates, QStringList{QStringLiteral("BUNMAS:1")});
    for (int terminal : {1, 2}) {
        EXPECT_TRUE(QFile::exists(folder.rcv(terminal) + QStringLiteral("BUNMAS.dat")));
    }
}

TEST_F(MianMenuTest, FailureInsideAHandlerIsShownAndTheWindowKeepsServing)
{
    fake->usbPortCount = 1;
    ASSERT_TRUE(service->start());
    throwOnMessage = true;
    control<QPushButton>("Command2")->click(); // "現在待ち受け中です" -> the box throws
    // In Japanese whatever the locale (the tests run in C.UTF-8); the reason as it came.
    EXPECT_EQ(text("Label1"), QStringLiteral("Command2_Click の処理に失敗しました: message box broke"));
    throwOnMessage = false;
    control<QPushButton>("Command1")->click();
    EXPECT_EQ(text("Command1"), QStringLiteral("待ち受け"));
}

TEST(OperatorTexts, AnUnusableSettingsFileIsToldInJapaneseWithItsLine)
{
    ProgramFolder folder{{QStringLiteral("LogKeep=100")}};
    const auto loaded = shell::loadSettings(folder.home());
    const auto* error = std::get_if<shell::SettingsError>(&loaded);
    ASSERT_NE(error, nullptr);
    const QString file = folder.home() + QStringLiteral("/KAVELO.ini");
    const qint64 line = test::readFile(file).count('\n'); // the line added last
    EXPECT_EQ(error->japaneseText(),
              QStringLiteral("設定ファイル %1 の %2 行目: LogKeep=100 はファイル数（0～99）ではありません。")
                  .arg(file)
                  .arg(line));
    EXPECT_EQ(error->text(),
              QStringLiteral("%1, line %2: LogKeep=100 is not a number of files (0 to 99)").arg(file).arg(line));
}

} // namespace
} // namespace kavelo::gui
