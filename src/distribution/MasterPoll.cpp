#include "distribution/MasterPoll.h"

#include "exchange/FolderTree.h"
#include "masters/Masters.h"
#include "platform/Log.h"

namespace kavelo::distribution {

using platform::Status;

bool PollReport::allOk() const
{
    return failures() == 0;
}

int PollReport::failures() const
{
    int count = 0;
    for (const PollEntry& entry : entries) {
        if (!entry.ok) {
            ++count;
        }
    }
    return count;
}

namespace {

// Replaces an older set-aside file by the update file just applied.
Status setAside(platform::FileOps& files, const QString& updateFile, const QString& setAsideFile)
{
    if (files.exists(setAsideFile)) {
        Status removed = files.remove(setAsideFile);
        if (!removed.isOk()) {
            return removed;
        }
    }
    return files.move(updateFile, setAsideFile);
}

} // namespace

PollReport
MasterPoll(const UpdateContext& context, const YieldHook& yield, const UpdateFunction& update, platform::FileOps& files)
{
    PollReport report;
    qCInfo(lcDistribution).noquote() << "master poll started";
    for (qint64 terminalNo = kPollFirstTerminal; terminalNo <= kPollLastTerminal; ++terminalNo) {
        const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
        for (const masters::MasterDefinition* master : masters::allMasters()) {
            const QString updateFile = context.tree.receiveFile(terminalId, master->updateFileName());
            const QString setAsideFile = context.tree.receiveFile(terminalId, master->setAsideFileName());
            // A missing receive folder simply holds no update file.
            if (files.exists(updateFile)) {
                PollEntry entry;
                entry.terminalNo = terminalNo;
                entry.master = master->name;
                const QString what = QStringLiteral("%1, terminal %2").arg(master->name, terminalId);
                platform::Result<UpdateSummary> updated = update ? update(*master, context, terminalNo, yield)
                                                                 : updateMaster(*master, context, terminalNo, yield);
                if (!updated.isOk()) {
                    // The update file stays in place and is tried again at the next poll.
                    entry.error = updated.status().message();
                    qCWarning(lcDistribution).noquote()
                        << QStringLiteral("%1: update failed, %2 left for the next poll: %3")
                               .arg(what, updateFile, entry.error);
                } else {
                    entry.updated = true;
                    entry.summary = *updated;
                    Status setAsideStatus = setAside(files, updateFile, setAsideFile);
                    if (!setAsideStatus.isOk()) {
                        entry.error = setAsideStatus.message();
                        qCWarning(lcDistribution).noquote()
                            << QStringLiteral("%1: updated, but the update file was not set aside: %2")
                                   .arg(what, entry.error);
                    } else {
                        entry.ok = true;
                        qCInfo(lcDistribution).noquote()
                            << QStringLiteral("%1: %2 lines read, %3 rows added, %4 replaced, %5 exported")
                                   .arg(what)
                                   .arg(entry.summary.linesRead)
                                   .arg(entry.summary.rowsAdded)
                                   .arg(entry.summary.rowsReplaced)
                                   .arg(entry.summary.rowsExported);
                    }
                }
                report.entries.push_back(std::move(entry));
            }
            // Pending events run here, found or not: transfers keep being served during a long poll.
            if (yield) {
                yield();
            }
        }
    }
    qCInfo(lcDistribution).noquote() << QStringLiteral("master poll ended: %1 update files, %2 failed")
                                            .arg(report.entries.size())
                                            .arg(report.failures());
    return report;
}

} // namespace kavelo::distribution
