#ifndef KAVELO_IMPORT_HOSTIMPORT_H
#define KAVELO_IMPORT_HOSTIMPORT_H

#include "db/FileFlow.h"
#include "db/MasterStore.h"
#include "masters/MasterDefinition.h"
#include "platform/Status.h"

#include <stop_token>

namespace kavelo::import {

struct ImportContext
{
    db::StoreLocation database; // ImportDB (a path or a server's URI), DBSchema, DBLockWait
    QString importDir;          // ImportDir, a plain prefix of the host file name
    // The records are applied in batches of at most about this much text (UTF-8), each sorted by key; the memory an
    // import needs grows with it.
    qsizetype batchBytes = 24 * 1024 * 1024;
    // SQLite: takes the connection of a committed import for its checkpoint, so that the import returns without
    // waiting for it; a returned import is on disk either way (its commit then syncs the log). Without one, the
    // import checkpoints before it returns.
    batch::CheckpointWorker* checkpoints = nullptr;
    // Asked for when the program is ending: the import stops before its next record or step (on a server, its
    // running statement is cancelled), the tables as they were.
    std::stop_token stop = {};
};

struct ImportSummary
{
    qint64 recordsRead = 0;
    qint64 replaced = 0; // flag 1 or 2: delete then insert
    qint64 deleted = 0;  // flag 3
    qint64 skipped = 0;  // any other flag, empty lines included
};

// "N records read, N replaced, N deleted, N skipped": the one sentence of an import's outcome.
QString summaryText(const ImportSummary& summary);

// Progress of a long import: bytes of the host file done so far, and its size. Called at the start, now and then
// while the records are applied (every few hundred kilobytes), and once more when the whole file is imported.
using ProgressHook = db::ProgressHook;

// The host file of a master: the import folder and the file name ("SHOMAS.DAT") joined directly.
QString hostFilePath(const masters::MasterDefinition& master, const ImportContext& context);

// Imports <import folder><MASTER>.DAT into the import database. One host file is one transaction: on failure the
// tables stay exactly as before and the error names the master, the file and the line. When it returns ok, the
// import is committed and synced to disk. Whoever handles the outcome logs it.
platform::Result<ImportSummary>
importMaster(const masters::MasterDefinition& master, const ImportContext& context, const ProgressHook& progress = {});

} // namespace kavelo::import

#endif
