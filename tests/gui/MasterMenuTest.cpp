#include "gui/MasterMenu.h"

#include "masters/Masters.h"
#include "platform/Database.h"
#include "support/EventWait.h"
#include "support/Gate.h"
#include "support/TestSupport.h"

#include <QPushButton>

#include <vector>

namespace kavelo::gui {
namespace {

using import::ImportContext;

using test::ProgramFolder;
using test::waitUntil;

struct Shown
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

class MasterMenuTest : public ::testing::Test
{
  protected:
    MessageBoxFunction recorder()
    {
        return [this](QWidget*, QMessageBox::Icon icon, const QString& title, const QString& text) {
            shown.push_back({icon, title, text});
        };
    }
    ImportContext context() const { return ImportContext{folder.dbPath(), folder.importDir()}; }
    QPushButton* button(QWidget& window, const char* name)
    {
        auto* b = window.findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }

    ProgramFolder folder;
    test::Gate gate; // holds the fake updates of a poll; outlives the runner, which stops them
    // The service's side: the job runner that keeps the imports apart from the poll.
    jobs::JobRunner runner{
        distribution::UpdateContext{folder.dbPath(), exchange::FolderTree(folder.dataRoot(), folder.home())},
        context()};
    std::vector<Shown> shown;
};

// One host record with flag "1": the key field holds `key`, every other field a letter or digit of its width.
QString hostRecord(const masters::MasterDefinition& master, const QString& key)
{
    int width = 0;
    for (const masters::Field& field : master.importFields) {
        width = std::max(width, field.start + field.length - 1);
    }
    QString line(width, QLatin1Char(' '));
    for (const masters::Field& field : master.importFields) {
        line.replace(field.start - 1, field.length, QString(field.length, QLatin1Char('7')));
    }
    line[0] = QLatin1Char('1');
    line.replace(master.importKey.start - 1, master.importKey.length, key.leftJustified(master.importKey.length));
    return line;
}

qint64 rowsWithKey(const QString& dbPath, const masters::MasterDefinition& master, const QString& key)
{
    auto db = platform::Database::openSqlite(dbPath, platform::Database::OpenMode::ExistingOnly);
    EXPECT_OK(db);
    if (!db.isOk()) {
        return -1;
    }
    auto statement =
        (*db)->prepare(QStringLiteral("select count(*) from %1 where %2 = ? COLLATE RTRIM")
                           .arg(platform::quoteIdentifier(master.name), platform::quoteIdentifier(master.keyColumn)));
    EXPECT_OK(statement);
    if (!statement.isOk()) {
        return -1;
    }
    (*statement)->bind(1, key);
    auto row = (*statement)->step();
    EXPECT_OK(row);
    return row.isOk() && *row ? (*statement)->integer(0) : -1;
}

TEST_F(MasterMenuTest, LayoutCaptionsAndTabOrderAreTheDesignValues)
{
    MasterMenu window(runner, recorder());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("マスター更新"));
    EXPECT_EQ(window.size(), QSize(313, 289)); // 4695 x 4335 twips
    EXPECT_EQ(window.databasePath(), folder.dbPath());
    EXPECT_EQ(window.importFolder(), folder.importDir());

    struct Expected
    {
        const char* name;
        QString caption;
        QRect geometry; // pixels: twips / 15
    };
    const Expected expected[] = {
        {"BtnEND", QStringLiteral("END"), QRect(200, 232, 97, 49)},
        {"BtnTENMAS", QStringLiteral("店舗マスタ"), QRect(8, 8, 129, 41)},
        {"BtnBUNMAS", QStringLiteral("分類マスタ"), QRect(8, 56, 129, 41)},
        {"BtnSHOMAS", QStringLiteral("商品マスタ"), QRect(8, 104, 129, 41)},
        {"BtnTOKMAS", QStringLiteral("得意先マスタ"), QRect(8, 152, 129, 41)},
        {"BtnSIRMAS", QStringLiteral("仕入先マスタ"), QRect(8, 200, 129, 33)},
        {"BtnJISYA", QStringLiteral("自社コード"), QRect(8, 240, 129, 36)},
    };
    QWidget* previous = nullptr;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        QPushButton* b = button(window, e.name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->text(), e.caption);
        EXPECT_EQ(b->geometry(), e.geometry);
        EXPECT_TRUE(b->isEnabled());
        if (previous != nullptr) {
            QWidget* next = previous->nextInFocusChain();
            while (next != nullptr && qobject_cast<QPushButton*>(next) == nullptr) {
                next = next->nextInFocusChain();
            }
            EXPECT_EQ(next, b);
        }
        previous = b;
    }
}

TEST_F(MasterMenuTest, EachButtonImportsItsMasterAndClosesWithTheEndMessage)
{
    struct Case
    {
        const char* button;
        const masters::MasterDefinition& master;
    };
    const Case cases[] = {
        {"BtnTENMAS", masters::storeMaster()},
        {"BtnBUNMAS", masters::classificationMaster()},
        {"BtnSHOMAS", masters::productMaster()},
        {"BtnTOKMAS", masters::customerMaster()},
        {"BtnSIRMAS", masters::supplierMaster()},
        {"BtnJISYA", masters::ownCompanyCodeMaster()},
    };
    for (const Case& c : cases) {
        test::writeFile(folder.importDir() + c.master.hostFileName(),
                        test::sjisLines({hostRecord(c.master, QStringLiteral("42"))}));
    }
    MasterMenu window(runner, recorder());
    window.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        shown.clear();
        button(window, c.button)->click();
        ASSERT_TRUE(waitUntil([&] { return !runner.busy(); }));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, QStringLiteral("更新終了")) << shown[0].text.toStdString();
        EXPECT_EQ(shown[0].title, QStringLiteral("終了しました"));
        EXPECT_EQ(shown[0].icon, QMessageBox::Information);
        const QString key = QStringLiteral("42").leftJustified(c.master.importKey.length);
        EXPECT_EQ(rowsWithKey(folder.dbPath(), c.master, key), 1);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("マスター更新"));
    }
}

TEST_F(MasterMenuTest, FailedImportIsReportedWithItsMasterAndTheWindowKeepsServing)
{
    // No host file at all.
    MasterMenu window(runner, recorder());
    window.show();
    button(window, "BtnSIRMAS")->click();
    ASSERT_TRUE(waitUntil([&] { return !runner.busy(); }));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, QStringLiteral("KAVELO"));
    EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("仕入先マスタの更新に失敗しました\n")))
        << shown[0].text.toStdString();
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("SIRMAS"))) << shown[0].text.toStdString();
    for (const char* name : {"BtnTENMAS", "BtnBUNMAS", "BtnSHOMAS", "BtnTOKMAS", "BtnSIRMAS", "BtnJISYA"}) {
        EXPECT_TRUE(button(window, name)->isEnabled()) << name;
    }
    EXPECT_EQ(window.windowTitle(), QStringLiteral("マスター更新"));
}

TEST_F(MasterMenuTest, ImportWaitsForARunningPollWithItsButtonsDisabled)
{
    test::writeFile(folder.rcv(1) + QStringLiteral("BUNMAS.dat"), "x\r\n");
    runner.setUpdateFunction([this](const masters::MasterDefinition&,
                                    const distribution::UpdateContext& context,
                                    qint64) -> platform::Result<distribution::UpdateSummary> {
        gate.pass(context.stop);
        return distribution::UpdateSummary{};
    });
    runner.poll();
    ASSERT_TRUE(waitUntil([&] { return gate.arrived() == 1; }));
    MasterMenu window(runner, recorder());
    window.show();

    button(window, "BtnBUNMAS")->click();
    EXPECT_TRUE(runner.state().importWaiting);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("マスター更新 - 分類マスタ 待機中"));
    for (const char* name : {"BtnTENMAS", "BtnBUNMAS", "BtnSHOMAS", "BtnTOKMAS", "BtnSIRMAS", "BtnJISYA"}) {
        EXPECT_FALSE(button(window, name)->isEnabled()) << name;
    }
    EXPECT_TRUE(button(window, "BtnEND")->isEnabled());
    // A second request while one waits is refused.
    EXPECT_EQ(runner.import(masters::productMaster()).request, jobs::JobRunner::ImportRequest::Refused);

    // A window opened afresh while the import waits shows the same state.
    MasterMenu second(runner, recorder());
    EXPECT_FALSE(button(second, "BtnJISYA")->isEnabled());

    // The poll ends: the waiting import runs.
    gate.open();
    ASSERT_TRUE(waitUntil([&] { return !runner.busy(); }));
    EXPECT_TRUE(button(window, "BtnBUNMAS")->isEnabled());
    EXPECT_TRUE(button(second, "BtnBUNMAS")->isEnabled());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("マスター更新"));
}

// The caption carries the import that waits or runs, and its progress.
TEST(MasterMenuCaption, NamesTheImportAndItsProgress)
{
    jobs::RunnerState state;
    EXPECT_EQ(masterMenuCaption(state), QStringLiteral("マスター更新"));
    state.importMaster = QStringLiteral("SHOMAS");
    EXPECT_EQ(masterMenuCaption(state), QStringLiteral("マスター更新 - 商品マスタ 0%"));
    state.importPercent = 25;
    EXPECT_EQ(masterMenuCaption(state), QStringLiteral("マスター更新 - 商品マスタ 25%"));
    state.importWaiting = true;
    EXPECT_EQ(masterMenuCaption(state), QStringLiteral("マスター更新 - 商品マスタ 待機中"));
}

} // namespace
} // namespace kavelo::gui
