#include "shell/Commands.h"

#include "distribution/MasterUpdate.h"
#include "exchange/FolderTree.h"
#include "masters/Masters.h"

namespace kavelo::shell {

// kavelo update MASTER TERMINAL: one update as the poll runs it, except that the update file is not set aside.
int runUpdate(const CommandContext& context)
{
    if (context.args.size() != 2) {
        printError(QStringLiteral("update needs a master and a terminal number: kavelo update MASTER TERMINAL"));
        return kExitUsage;
    }
    const masters::MasterDefinition* master = masters::findMaster(context.args.at(0));
    if (master == nullptr) {
        printError(QStringLiteral("unknown master %1 (one of BUNMAS TENMAS SIRMAS TOKMAS SHOMAS JISYA)")
                       .arg(context.args.at(0)));
        return kExitUsage;
    }
    bool numeric = false;
    const qint64 terminalNo = context.args.at(1).toLongLong(&numeric);
    if (!numeric || terminalNo < 0 || terminalNo > 9999) {
        printError(QStringLiteral("terminal must be a number from 0 to 9999, not %1").arg(context.args.at(1)));
        return kExitUsage;
    }

    platform::Result<Settings> settings = startCommand(context, QStringLiteral("update"), false);
    if (!settings.isOk()) {
        return kExitUsage;
    }
    // The checkpoint follows on the runner's worker, which the command waits for before it ends.
    std::unique_ptr<jobs::JobRunner> runner = jobRunner(*settings);
    const QFuture<jobs::UpdateOutcome> updated = runner->update(*master, terminalNo);
    waitUntilIdle(*runner);
    const jobs::UpdateOutcome outcome = updated.result();
    if (!outcome.ok()) {
        printError(outcome.status.message());
        return kExitFailed;
    }
    printLine(QStringLiteral("%1 terminal %2: %3")
                  .arg(master->name,
                       exchange::FolderTree::terminalId(terminalNo),
                       distribution::summaryText(outcome.summary)));
    return kExitOk;
}

} // namespace kavelo::shell
