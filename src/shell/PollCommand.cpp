#include "shell/Commands.h"

#include "distribution/Checkpoints.h"
#include "distribution/MasterPoll.h"
#include "exchange/FolderTree.h"

namespace kavelo::shell {

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
    // Each update's checkpoint runs on the worker while the next update goes on; the command waits for the last.
    distribution::CheckpointWorker checkpoints;
    distribution::UpdateContext updateContext{settings->DBPath,
                                              exchange::FolderTree(settings->DataRoot, settings->programFolder)};
    updateContext.checkpoints = &checkpoints;
    const distribution::PollReport report = distribution::MasterPoll(updateContext);
    for (const distribution::PollEntry& entry : report.entries) {
        const QString what =
            QStringLiteral("terminal %1 %2").arg(exchange::FolderTree::terminalId(entry.terminalNo), entry.master);
        const QString rows = distribution::summaryText(entry.summary);
        if (entry.ok) {
            printLine(QStringLiteral("%1: %2").arg(what, rows));
        } else if (entry.updated) {
            printLine(QStringLiteral("%1: %2; FAILED to set the update file aside: %3").arg(what, rows, entry.error));
        } else {
            printLine(QStringLiteral("%1: FAILED: %2").arg(what, entry.error));
        }
    }
    if (report.entries.empty()) {
        printLine(QStringLiteral("no update files found"));
    }
    return report.allOk() ? kExitOk : kExitFailed;
}

} // namespace kavelo::shell
