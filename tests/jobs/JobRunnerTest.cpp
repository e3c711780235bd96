#include "jobs/JobRunner.h"

#include "masters/Masters.h"
#include "support/EventWait.h"
#include "support/Gate.h"
#include "support/TestSupport.h"

#include <stdexcept>

namespace kavelo::jobs {
namespace {

using distribution::PollReport;
using distribution::UpdateContext;
using distribution::UpdateSummary;
using platform::Result;
using test::waitUntil;

class JobRunnerTest : public ::testing::Test
{
  protected:
    JobRunnerTest()
    {
        runner.setUpdateFunction([this](const masters::MasterDefinition& master,
                                        const UpdateContext& context,
                                        qint64 terminalNo) -> Result<UpdateSummary> {
            if (!gate.pass(context.stop)) {
                return platform::Status::error(QStringLiteral("stopped"));
            }
            if (terminalNo == throwFor) {
                throw std::runtime_error("boom");
            }
            UpdateSummary summary;
            summary.linesRead = terminalNo;
            Q_UNUSED(master);
            return summary;
        });
    }

    void plant(int terminal, const QString& master)
    {
        test::writeFile(folder.rcv(terminal) + master + QStringLiteral(".dat"), "x\r\n");
    }
    // The ticks up to the first poll.
    void countDownToThePoll()
    {
        for (int tick = 1; tick <= distribution::PollCountdown::kAtStartUp; ++tick) {
            runner.tick();
        }
    }

    test::ProgramFolder folder;
    test::Gate gate; // outlives the runner, which stops what waits at it
    qint64 throwFor = -1;
    JobRunner runner{UpdateContext{folder.dbPath(), exchange::FolderTree(folder.dataRoot(), folder.home())},
                     import::ImportContext{folder.dbPath(), folder.importDir()}};
};

// An import asked for during a poll waits for it, a second one is refused, and while the import runs the countdown
// stands still; then both jobs have run, one after the other.
TEST_F(JobRunnerTest, AnImportWaitsForThePollAndTheCountdownStandsStillWhileItRuns)
{
    plant(1, QStringLiteral("BUNMAS"));
    test::writeFile(folder.importDir() + QStringLiteral("BUNMAS.DAT"), QByteArray());
    std::vector<QString> order;
    QObject::connect(&runner, &JobRunner::pollFinished, [&order] { order.push_back(QStringLiteral("poll")); });
    QObject::connect(&runner, &JobRunner::importFinished, [&order](const ImportOutcome& outcome) {
        EXPECT_OK(outcome.status);
        order.push_back(QStringLiteral("import"));
    });
    int countdownBefore = -1;
    int countdownAfter = -1;
    QObject::connect(&runner, &JobRunner::stateChanged, [&] {
        if (runner.state().importRunning() && countdownBefore < 0) {
            countdownBefore = runner.state().countdown;
            runner.tick();
            countdownAfter = runner.state().countdown;
        }
    });

    countDownToThePoll();
    EXPECT_TRUE(runner.state().pollRunning);
    EXPECT_EQ(runner.state().countdown, distribution::PollCountdown::kBetweenPolls);
    ASSERT_TRUE(waitUntil([&] { return gate.arrived() == 1; }));
    EXPECT_EQ(runner.import(masters::classificationMaster()).request, JobRunner::ImportRequest::Queued);
    EXPECT_TRUE(runner.state().importWaiting);
    EXPECT_EQ(runner.import(masters::storeMaster()).request, JobRunner::ImportRequest::Refused);
    runner.tick(); // during the poll: counts down
    EXPECT_EQ(runner.state().countdown, distribution::PollCountdown::kBetweenPolls - 1);

    gate.open();
    ASSERT_TRUE(waitUntil([&] { return !runner.busy(); }));
    EXPECT_EQ(order, (std::vector<QString>{QStringLiteral("poll"), QStringLiteral("import")}));
    EXPECT_EQ(countdownBefore, distribution::PollCountdown::kBetweenPolls - 1);
    EXPECT_EQ(countdownAfter, countdownBefore);
    EXPECT_TRUE(runner.state().importMaster.isEmpty());
}

// An update that throws is one failed file of its poll, and the runner takes the next job.
TEST_F(JobRunnerTest, AThrowingUpdateIsOneFailedFileAndTheNextJobRuns)
{
    plant(2, QStringLiteral("TENMAS"));
    plant(3, QStringLiteral("TENMAS"));
    throwFor = 2;
    gate.open();
    const QFuture<PollReport> polled = runner.poll();
    const QFuture<UpdateOutcome> updated = runner.update(masters::storeMaster(), 2);
    ASSERT_TRUE(waitUntil([&] { return !runner.busy(); }));

    const PollReport report = polled.result();
    ASSERT_EQ(report.entries.size(), 2u);
    EXPECT_FALSE(report.entries[0].ok);
    EXPECT_EQ(report.entries[0].failure.message(), QStringLiteral("TENMAS, terminal 0002: failed unexpectedly: boom"));
    EXPECT_TRUE(report.entries[1].ok);

    const UpdateOutcome outcome = updated.result();
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.status.message(), QStringLiteral("TENMAS, terminal 0002: failed unexpectedly: boom"));
}

// The program ends: the running job is told to stop and stop() returns once it has; the job waiting behind it never
// starts, and nothing starts afterwards.
TEST_F(JobRunnerTest, StopEndsTheRunningJobAndDropsTheWaitingOnes)
{
    plant(1, QStringLiteral("SHOMAS"));
    const QFuture<PollReport> polled = runner.poll();
    ASSERT_TRUE(waitUntil([&] { return gate.arrived() == 1; }));
    const JobRunner::ImportTicket waiting = runner.import(masters::productMaster());
    EXPECT_EQ(waiting.request, JobRunner::ImportRequest::Queued);

    runner.stop();
    EXPECT_FALSE(runner.busy());
    EXPECT_FALSE(runner.state().pollRunning);
    ASSERT_TRUE(polled.isFinished());
    ASSERT_EQ(polled.result().entries.size(), 1u);
    EXPECT_FALSE(polled.result().entries[0].ok);
    EXPECT_TRUE(waiting.outcome.isCanceled());
    EXPECT_TRUE(QFile::exists(folder.rcv(1) + QStringLiteral("SHOMAS.dat")));

    EXPECT_EQ(runner.import(masters::productMaster()).request, JobRunner::ImportRequest::Refused);
    EXPECT_TRUE(runner.poll().isCanceled());
    EXPECT_EQ(gate.arrived(), 1);
}

} // namespace
} // namespace kavelo::jobs
