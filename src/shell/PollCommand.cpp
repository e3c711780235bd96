#include "shell/Commands.h"

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
    const distribution::UpdateContext updateContext{settings->DBPath,
                                                    exchange::FolderTree(settings->DataRoot, settings->programFolder)};
    const distribution::PollReport report = distribution::MasterPoll(updateContext);
    for (const distribution::PollEntry& entry : report.entries) {
        const QString what =
            QStringLiteral("terminal %1 %2").arg(exchange::FolderTree::terminalId(entry.terminalNo), entry.master);
        const QString rows = QStringLiteral("%1 lines read, %2 rows added, %3 replaced, %4 exported")
                                 .arg(entry.summary.linesRead)
                                 .arg(entry.summary.rowsAdded)
                                 .arg(entry.summary.rowsReplaced)
                                 .arg(entry.summary.rowsExported);
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
