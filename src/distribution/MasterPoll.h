#ifndef KAVELO_DISTRIBUTION_MASTERPOLL_H
#define KAVELO_DISTRIBUTION_MASTERPOLL_H

#include "distribution/MasterUpdate.h"
#include "masters/MasterDefinition.h"
#include "platform/FileOps.h"
#include "platform/Status.h"

#include <QString>

#include <functional>
#include <vector>

namespace kavelo::distribution {

// Terminals that the poll looks at, in rising order.
constexpr qint64 kPollFirstTerminal = 1;
constexpr qint64 kPollLastTerminal = 11;

// The update applied to each update file found; updateMaster in production, a fake in tests.
using UpdateFunction = std::function<platform::Result<UpdateSummary>(
    const masters::MasterDefinition& master, const UpdateContext& context, qint64 terminalNo)>;

// What the poll did with one update file it found.
struct PollEntry
{
    qint64 terminalNo = 0;
    QString master;       // "SHOMAS"
    bool updated = false; // the update succeeded (summary is valid)
    bool ok = false;      // updated and set aside as .sav
    UpdateSummary summary;
    platform::Status failure; // when !ok: why the update, or setting its file aside, failed
};

struct PollReport
{
    std::vector<PollEntry> entries; // in the order processed
    platform::Status failure;       // the poll itself failed (not one of its files)
    bool allOk() const;
    int failures() const;
};

// Told which update file the poll takes next, before it applies it.
using PollStep = std::function<void(qint64 terminalNo, const QString& master)>;

// One poll over terminals 1 to 11 and the six masters in their fixed order. For each <MASTER>.dat in a terminal's
// receive folder: apply it with `update`, then replace an old <MASTER>.sav by moving the .dat there. A failing update
// is reported, its .dat stays for the next poll, and the poll goes on with the next file; a failing delete or move
// of the .sav is reported the same way. The poll logs each outcome, once. A stop asked for (the program is ending)
// stops the running update with nothing of it stored and ends the poll there. A missing receive folder is no
// failure.
PollReport MasterPoll(const UpdateContext& context,
                      const UpdateFunction& update = updateMaster,
                      platform::FileOps& files = platform::FileOps::real(),
                      const PollStep& step = {});

} // namespace kavelo::distribution

#endif
