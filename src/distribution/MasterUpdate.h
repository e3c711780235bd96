#ifndef KAVELO_DISTRIBUTION_MASTERUPDATE_H
#define KAVELO_DISTRIBUTION_MASTERUPDATE_H

#include "db/FileFlow.h"
#include "db/MasterStore.h"
#include "exchange/FolderTree.h"
#include "masters/MasterDefinition.h"
#include "platform/Status.h"

#include <stop_token>

namespace kavelo::distribution {

struct UpdateContext
{
    db::StoreLocation database; // DBname (a path or a server's URI), DBSchema, DBLockWait
    exchange::FolderTree tree;  // DataRoot and the program folder
    // The lines are applied in batches of at most about this much text (UTF-8), each sorted by key; the memory an
    // update needs grows with it.
    qsizetype batchBytes = 24 * 1024 * 1024;
    // SQLite: takes the connection of a committed update for its checkpoint, so that the update returns without
    // waiting for it. Without one, the update checkpoints before it returns.
    batch::CheckpointWorker* checkpoints = nullptr;
    // Asked for when the program is ending: the update stops before its next line or row (on a server, its running
    // statement is cancelled), with nothing of it stored, and the poll goes no further.
    std::stop_token stop = {};
    // Bytes of the update file done: at the start, after each batch, and at the end.
    db::ProgressHook progress = {};
};

struct UpdateSummary
{
    qint64 linesRead = 0;
    qint64 rowsAdded = 0;
    qint64 rowsReplaced = 0;
    qint64 rowsExported = 0;
};

// "N lines read, N rows added, N replaced, N exported": the one sentence of an update's outcome.
QString summaryText(const UpdateSummary& summary);

// Applies <receive folder>/<MASTER>.dat of one terminal to its rows and writes <MASTER>.csv beside it.
// Each non-empty line adds the terminal's row of its key or replaces it (keys compare with trailing blanks
// ignored); no row is deleted and other terminals' rows are never read or written. The export lists all of the
// terminal's rows in binary order of the key column. One update file is one transaction: on failure nothing of it
// is stored, the update file and the previous export stay as they were, and the failure names master, terminal,
// file and line. The update file is left in place; setting it aside is the caller's business. When it returns,
// the rows are committed and the export is in place. Whoever handles the outcome logs it.
platform::Result<UpdateSummary>
updateMaster(const masters::MasterDefinition& master, const UpdateContext& context, qint64 terminalNo);

platform::Result<UpdateSummary> UpdateBUNMAS(const UpdateContext& context, qint64 terminalNo);
platform::Result<UpdateSummary> UpdateTENMAS(const UpdateContext& context, qint64 terminalNo);
platform::Result<UpdateSummary> UpdateSIRMAS(const UpdateContext& context, qint64 terminalNo);
platform::Result<UpdateSummary> UpdateTOKMAS(const UpdateContext& context, qint64 terminalNo);
platform::Result<UpdateSummary> UpdateSHOMAS(const UpdateContext& context, qint64 terminalNo);
platform::Result<UpdateSummary> UpdateJISYA(const UpdateContext& context, qint64 terminalNo);

} // namespace kavelo::distribution

#endif
