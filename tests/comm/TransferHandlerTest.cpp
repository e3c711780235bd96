#include "comm/TransferHandler.h"

#include "transfer/UploadFiling.h"

#include "support/FakeCommServer.h"
#include "support/RecordingOperatorUi.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

namespace kavelo::comm {
namespace {

using platform::Status;
using test::FakeCommServer;
using test::RecordingOperatorUi;
using wire::kSaving;
using wire::kSavingFailed;
using wire::TransferOutcome;

// The real file operations, with copies failing on request.
class FailingCopies : public platform::FileOps
{
  public:
    bool exists(const QString& path) const override { return real().exists(path); }
    Status remove(const QString& path) override { return real().remove(path); }
    Status copy(const QString& source, const QString& target) override
    {
        if (failCopyTo.isEmpty() || !target.endsWith(failCopyTo)) {
            return real().copy(source, target);
        }
        return Status::error(target + QStringLiteral(": injected copy failure"));
    }
    Status move(const QString& source, const QString& target) override { return real().move(source, target); }
    Status replace(const QString& source, const QString& target) override { return real().replace(source, target); }
    platform::Result<std::unique_ptr<platform::NewFile>> create(const QString& folder, const QString& name) override
    {
        return real().create(folder, name);
    }
    std::optional<qint64> availableBytes(const QString& folder) const override { return real().availableBytes(folder); }

    QString failCopyTo;
};

QDateTime fixedTime()
{
    return QDateTime(QDate(2026, 12, 7), QTime(13, 10, 57));
}

class TransferHandlerTest : public ::testing::Test
{
  protected:
    TransferHandlerTest()
        : filing(exchange::FolderTree(home.dataRoot(), home.home()), files, fixedTime)
        , handler(server, ui)
    {
        server.setSavedFileHandling(&filing);
    }

    QString program(const QString& name) const { return home.path(name); }
    Status savedStatus(const QString& name, int terminal)
    {
        std::optional<TransferOutcome> outcome = server.raiseSaved(name, terminal);
        return outcome ? outcome->status : Status::error(QStringLiteral("no outcome recorded"));
    }

    test::ProgramFolder home;
    FakeCommServer server;
    RecordingOperatorUi ui;
    FailingCopies files;
    transfer::UploadFiling filing;
    TransferHandler handler;
};

TEST_F(TransferHandlerTest, CaptionsOfEachKind)
{
    struct Case
    {
        qint16 kind;
        QString caption;
    };
    const Case cases[] = {
        {0, QStringLiteral("SHOMAS.csv送信中 :3")},
        {1, QStringLiteral("SHOMAS.csv受信中 :3")},
        {2, QStringLiteral("SHOMAS.csv保存中 :3")},
        {4, QStringLiteral("SHOMAS.csv保存失敗")},
        {5, QStringLiteral("ログファイル解凍中")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        server.raiseTransfer(c.kind, QStringLiteral("SHOMAS.csv"), 3);
        EXPECT_EQ(ui.statusLine, c.caption);
    }
    ui.statusLine = QStringLiteral("unchanged");
    server.raiseTransfer(6, QStringLiteral("x"), 3);
    server.raiseTransfer(-1, QStringLiteral("x"), 3);
    EXPECT_EQ(ui.statusLine, QStringLiteral("unchanged"));
}

TEST_F(TransferHandlerTest, SavedOrderDataGoesToTheTerminalsFolders)
{
    test::writeFile(program(QStringLiteral("S_HACH.dat")), "order");
    server.raiseTransfer(kSaving, QStringLiteral("S_HACH.dat"), 3);
    std::optional<TransferOutcome> outcome = server.raiseSaved(QStringLiteral("S_HACH.dat"), 3);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_OK(outcome->status);
    EXPECT_FALSE(outcome->staged.has_value());
    EXPECT_EQ(ui.statusLine, QStringLiteral("S_HACH.dat保存成功 :3"));
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_HACH.dat")), QByteArray("order"));
    EXPECT_TRUE(QFile::exists(home.backup(3) + QStringLiteral("20261207131057_S_HACH.dat")));
    EXPECT_FALSE(QFile::exists(program(QStringLiteral("S_HACH.dat"))));
}

TEST_F(TransferHandlerTest, TerminalTwelveGoesTo0012)
{
    QDir().mkpath(home.snd(12));
    QDir().mkpath(home.backup(12));
    test::writeFile(program(QStringLiteral("S_TANA.dat")), "stock");
    EXPECT_OK(savedStatus(QStringLiteral("S_TANA.dat"), 12));
    EXPECT_TRUE(QFile::exists(home.dataRoot() + QStringLiteral("0012/snd/S_TANA.dat")));
    EXPECT_TRUE(QFile::exists(home.dataRoot() + QStringLiteral("backup/0012/snd/20261207131057_S_TANA.dat")));
}

TEST_F(TransferHandlerTest, ControlFileStagesThatTerminalsMasters)
{
    test::writeFile(home.rcv(2) + QStringLiteral("TOKMAS.csv"), "tok2");
    test::writeFile(home.rcv(2) + QStringLiteral("BUNMAS.csv"), "bun2");
    test::writeFile(program(QStringLiteral("JISYA.csv")), "left by terminal 1");
    test::writeFile(program(QStringLiteral("CTRL.csv")), "\x82\xa0\xff\r\n"); // not valid Shift-JIS
    std::optional<TransferOutcome> outcome = server.raiseSaved(QStringLiteral("CTRL.csv"), 2);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_OK(outcome->status);
    EXPECT_EQ(outcome->staged, (QStringList{QStringLiteral("BUNMAS.csv"), QStringLiteral("TOKMAS.csv")}));
    EXPECT_EQ(test::readFile(program(QStringLiteral("TOKMAS.csv"))), QByteArray("tok2"));
    EXPECT_TRUE(QFile::exists(home.rcv(2) + QStringLiteral("TOKMAS.csv"))); // copied, not moved
    EXPECT_TRUE(QFile::exists(program(QStringLiteral("CTRL.csv"))));
}

TEST_F(TransferHandlerTest, OtherNamesAreDeletedExactNamesOnly)
{
    test::writeFile(home.rcv(2) + QStringLiteral("BUNMAS.csv"), "bun2");
    for (const QString& name : {QStringLiteral("ctrl.csv"), QStringLiteral("s_hach.dat"), QStringLiteral("LOG.txt")}) {
        SCOPED_TRACE(name.toStdString());
        test::writeFile(program(name), "x");
        std::optional<TransferOutcome> outcome = server.raiseSaved(name, 2);
        EXPECT_OK(outcome->status);
        EXPECT_FALSE(outcome->staged.has_value());
        EXPECT_FALSE(QFile::exists(program(name)));
    }
    EXPECT_FALSE(QFile::exists(program(QStringLiteral("BUNMAS.csv"))));
}

TEST_F(TransferHandlerTest, AFailingMoveIsShownLoggedAndTheFileStays)
{
    test::writeFile(program(QStringLiteral("S_HACH.dat")), "order");
    files.failCopyTo = QStringLiteral("S_HACH.dat");
    std::optional<TransferOutcome> outcome = server.raiseSaved(QStringLiteral("S_HACH.dat"), 3);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->status.isOk());
    // The caption, then why (the reason as it came).
    EXPECT_EQ(ui.statusLine,
              QStringLiteral("S_HACH.dat処理失敗 :3（%1: injected copy failure）")
                  .arg(home.snd(3) + QStringLiteral("S_HACH.dat")));
    EXPECT_TRUE(QFile::exists(program(QStringLiteral("S_HACH.dat"))));
    // Serving goes on.
    files.failCopyTo.clear();
    EXPECT_OK(savedStatus(QStringLiteral("S_HACH.dat"), 3));
}

TEST_F(TransferHandlerTest, AStagingFailurePartWayReportsWhatWasStaged)
{
    test::writeFile(home.rcv(4) + QStringLiteral("BUNMAS.csv"), "b");
    test::writeFile(home.rcv(4) + QStringLiteral("SHOMAS.csv"), "s");
    test::writeFile(home.rcv(4) + QStringLiteral("JISYA.csv"), "j");
    test::writeFile(program(QStringLiteral("CTRL.csv")), "CTRL\r\n");
    files.failCopyTo = QStringLiteral("/SHOMAS.csv");
    std::optional<TransferOutcome> outcome = server.raiseSaved(QStringLiteral("CTRL.csv"), 4);
    EXPECT_FALSE(outcome->status.isOk());
    EXPECT_EQ(outcome->staged, QStringList{QStringLiteral("BUNMAS.csv")});
    EXPECT_FALSE(QFile::exists(program(QStringLiteral("JISYA.csv"))));
}

TEST_F(TransferHandlerTest, AMissingControlFileStagesNothing)
{
    test::writeFile(home.rcv(4) + QStringLiteral("BUNMAS.csv"), "b");
    std::optional<TransferOutcome> outcome = server.raiseSaved(QStringLiteral("CTRL.csv"), 4);
    EXPECT_FALSE(outcome->status.isOk());
    EXPECT_EQ(outcome->staged, QStringList());
    EXPECT_FALSE(QFile::exists(program(QStringLiteral("BUNMAS.csv"))));
    EXPECT_TRUE(ui.statusLine.startsWith(QStringLiteral("CTRL.csv処理失敗 :4（"))) << ui.statusLine.toStdString();
}

TEST_F(TransferHandlerTest, ASavingFailureNeitherMovesNorDeletes)
{
    test::writeFile(program(QStringLiteral("S_HACH.dat")), "old");
    server.raiseTransfer(kSavingFailed, QStringLiteral("S_HACH.dat"), 3);
    EXPECT_TRUE(QFile::exists(program(QStringLiteral("S_HACH.dat"))));
    EXPECT_EQ(ui.statusLine, QStringLiteral("S_HACH.dat保存失敗"));
}

} // namespace
} // namespace kavelo::comm
