#include "distribution/MasterPoll.h"

#include "exchange/FolderTree.h"
#include "masters/Masters.h"
#include "platform/Log.h"

#include <QElapsedTimer>

namespace kavelo::distribution {

using platform::Status;

bool PollReport::allOk() const
{
    return failure.isOk() && failures() == 0;
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

// Applies one update file found and sets it aside; logs the outcome.
PollEntry pollOne(const masters::MasterDefinition& master,
                  const UpdateContext& context,
                  qint64 terminalNo,
                  const UpdateFunction& update,
                  platform::FileOps& files)
{
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    const QString updateFile = context.tree.receiveFile(terminalId, master.updateFileName());
    const QString what = QStringLiteral("%1, terminal %2").arg(master.name, terminalId);
    PollEntry entry;
    entry.terminalNo = terminalNo;
    entry.master = master.name;
    QElapsedTimer timer;
    timer.start();
    platform::Result<UpdateSummary> updated =
        update ? update(master, context, terminalNo) : updateMaster(master, context, terminalNo);
    if (!updated.isOk()) {
        // The file stays in place and is tried again at the next poll.
        entry.failure = updated.status().about(master.name, terminalId);
        if (context.stop.stop_requested()) {
            qCInfo(lcDistribution).noquote()
                << QStringLiteral("%1: stopped, the program is ending; %2 stays for the next poll")
                       .arg(what, updateFile);
        } else {
            qCWarning(lcDistribution).noquote()
                << QStringLiteral("%1; the update file stays for the next poll").arg(entry.failure.message());
        }
        return entry;
    }
    entry.updated = true;
    entry.summary = *updated;
    Status setAsideStatus =
        setAside(files, updateFile, context.tree.receiveFile(terminalId, master.setAsideFileName()));
    if (!setAsideStatus.isOk()) {
        entry.failure = setAsideStatus.about(master.name, terminalId);
        qCWarning(lcDistribution).noquote() << QStringLiteral("%1: %2, but the update file was not set aside: %3")
                                                   .arg(what, summaryText(entry.summary), entry.failure.detail());
        return entry;
    }
    entry.ok = true;
    qCInfo(lcDistribution).noquote()
        << QStringLiteral("%1: %2 in %3 ms").arg(what, summaryText(entry.summary)).arg(timer.elapsed());
    return entry;
}

} // namespace

PollReport
MasterPoll(const UpdateContext& context, const UpdateFunction& update, platform::FileOps& files, const PollStep& step)
{
    PollReport report;
    qCInfo(lcDistribution).noquote() << "master poll started";
    for (qint64 terminalNo = kPollFirstTerminal; terminalNo <= kPollLastTerminal; ++terminalNo) {
        const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
        for (const masters::MasterDefinition* master : masters::allMasters()) {
            if (context.stop.stop_requested()) {
                qCInfo(lcDistribution).noquote() << "master poll stopped: the program is ending";
                return report;
            }
            // A missing receive folder simply holds no update file.
            if (files.exists(context.tree.receiveFile(terminalId, master->updateFileName()))) {
                if (step) {
                    step(terminalNo, master->name);
                }
                report.entries.push_back(pollOne(*master, context, terminalNo, update, files));
            }
        }
    }
    qCInfo(lcDistribution).noquote() << QStringLiteral("master poll ended: %1 update files, %2 failed")
                                            .arg(report.entries.size())
                                            .arg(report.failures());
    return report;
}

} // namespace kavelo::distribution
