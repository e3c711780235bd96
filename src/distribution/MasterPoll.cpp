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

// Applies one update file found and sets it aside.
PollEntry pollOne(const masters::MasterDefinition& master, const UpdateContext& context, qint64 terminalNo,
                  const YieldHook& yield, const UpdateFunction& update, platform::FileOps& files)
{
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    const QString updateFile = context.tree.receiveFile(terminalId, master.updateFileName());
    const QString what = QStringLiteral("%1, terminal %2").arg(master.name, terminalId);
    PollEntry entry;
    entry.terminalNo = terminalNo;
    entry.master = master.name;
    platform::Result<UpdateSummary> updated =
        update ? update(master, context, terminalNo, yield) : updateMaster(master, context, terminalNo, yield);
    if (!updated.isOk()) {
        // The update has logged why; its file stays in place and is tried again at the next poll.
        entry.error = updated.status().message();
        qCInfo(lcDistribution).noquote() << QStringLiteral("%1: %2 left for the next poll").arg(what, updateFile);
        return entry;
    }
    entry.updated = true;
    entry.summary = *updated;
    Status setAsideStatus = setAside(files, updateFile, context.tree.receiveFile(terminalId, master.setAsideFileName()));
    if (!setAsideStatus.isOk()) {
        entry.error = setAsideStatus.message();
        qCWarning(lcDistribution).noquote()
            << QStringLiteral("%1: updated, but the update file was not set aside: %2").arg(what, entry.error);
        return entry;
    }
    entry.ok = true;
    return entry;
}

bool stopping(const UpdateContext& context)
{
    return context.stopping && context.stopping();
}

} // namespace

PollReport
MasterPoll(const UpdateContext& context, const YieldHook& yield, const UpdateFunction& update, platform::FileOps& files)
{
    PollReport report;
    qCInfo(lcDistribution).noquote() << "master poll started";
    for (qint64 terminalNo = kPollFirstTerminal; terminalNo <= kPollLastTerminal && !stopping(context); ++terminalNo) {
        const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
        for (const masters::MasterDefinition* master : masters::allMasters()) {
            // A missing receive folder simply holds no update file.
            if (files.exists(context.tree.receiveFile(terminalId, master->updateFileName()))) {
                report.entries.push_back(pollOne(*master, context, terminalNo, yield, update, files));
            }
            // Pending events run here, found or not: transfers keep being served during a long poll.
            if (yield) {
                yield();
            }
            if (stopping(context)) {
                qCInfo(lcDistribution).noquote() << "master poll stopped: the program is ending";
                break;
            }
        }
    }
    qCInfo(lcDistribution).noquote() << QStringLiteral("master poll ended: %1 update files, %2 failed")
                                            .arg(report.entries.size())
                                            .arg(report.failures());
    return report;
}

} // namespace kavelo::distribution
