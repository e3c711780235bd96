#include "shell/Commands.h"

#include "distribution/MasterPoll.h"
#include "exchange/FolderTree.h"

namespace kavelo::shell {

namespace {

// One line of the poll's outcome for one update file.
QString entryLine(const distribution::PollEntry& entry)
{
    const QString what =
        QStringLiteral("terminal %1 %2").arg(exchange::FolderTree::terminalId(entry.terminalNo), entry.master);
    const QString rows = distribution::summaryText(entry.summary);
    if (entry.ok) {
        return QStringLiteral("%1: %2").arg(what, rows);
    }
    if (entry.updated) {
        return QStringLiteral("%1: %2; FAILED to set the update file aside: %3")
            .arg(what, rows, entry.failure.detail());
    }
    return QStringLiteral("%1: FAILED: %2").arg(what, entry.failure.detail());
}

} // namespace

int runPoll(const CommandContext& context)
{
    if (!context.args.isEmpty()) {
        printError(QStringLiteral("poll takes no arguments"));
        return kExitUsage;
    }
    platform::Result<Settings> settings = startCommand(context, QStringLiteral("poll"), false);
    if (!settings.isOk()) {
        return kExitUsage;
    }
    // Each update's checkpoint runs on the runner's worker while the next update goes on; the runner waits for the
    // last as it goes.
    std::unique_ptr<jobs::JobRunner> runner = jobRunner(*settings);
    const QFuture<distribution::PollReport> polled = runner->poll();
    waitUntilIdle(*runner);
    const distribution::PollReport report = polled.result();
    for (const distribution::PollEntry& entry : report.entries) {
        printLine(entryLine(entry));
    }
    if (!report.failure.isOk()) {
        printLine(QStringLiteral("FAILED: %1").arg(report.failure.message()));
    } else if (report.entries.empty()) {
        printLine(QStringLiteral("no update files found"));
    }
    return report.allOk() ? kExitOk : kExitFailed;
}

} // namespace kavelo::shell
