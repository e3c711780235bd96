#ifndef KAVELO_DB_FILEFLOW_H
#define KAVELO_DB_FILEFLOW_H

#include "batch/BatchUser.h"
#include "db/MasterStore.h"
#include "platform/Guarded.h"
#include "platform/Status.h"
#include "platform/TextCodec.h"

#include <QString>

#include <functional>
#include <stop_token>

namespace kavelo::batch {
class CheckpointWorker;
}

namespace kavelo::db {

// Progress of a long file: bytes of it done so far, and its size. Called at the start, after each batch (and more
// often where a user reports within a batch), and once more when the whole file is applied.
using ProgressHook = std::function<void(qint64 bytesDone, qint64 bytesTotal)>;

// Where and how the flow applies one master file.
struct FlowContext
{
    StoreLocation location;
    // The settings key that names the database, for the error when it is empty ("DBname", "ImportDB").
    QString dbSetting;
    // The lines are applied in batches of at most about this much text (UTF-8), each sorted by key; the memory the
    // work needs grows with it.
    qsizetype batchBytes = 24 * 1024 * 1024;
    // SQLite: takes the connection after the commit for its checkpoint, so that the flow returns without waiting for
    // it. Without one, the flow checkpoints before it returns.
    batch::CheckpointWorker* checkpoints = nullptr;
    // Asked for when the program is ending: the work stops before its next line or row (on a server, its running
    // statement is cancelled), with nothing of it stored.
    std::stop_token stop = {};
    ProgressHook progress;
    // SQLite: the rows are safe from a power cut when the flow returns (see StoreOptions::durableCommit).
    bool durableCommit = false;
    // Where the time of each phase is logged (debug).
    platform::LogCategory category = nullptr;
};

// What one kind of master file (an update file, a host file) does inside the flow: the work it begins on the store,
// its batches, and what it puts in place together with the commit. What the rows become is decided here and in the
// store's works, not in the flow.
class FileWork
{
  public:
    virtual ~FileWork() = default;

    // The file's kind, for "<kind> not found" ("update file").
    virtual QString kind() const = 0;
    // Begins the store's work (its transaction). `reader` is the file's, open for the whole apply.
    virtual platform::Status begin(MasterStore& store, const platform::ShiftJisLineReader& reader) = 0;
    // Applies the batches; valid after begin().
    virtual batch::BatchUser& user() = 0;
    // After the last batch, the file closed, the transaction still open: what must be ready for the commit (an
    // export written to its temporary file).
    virtual platform::Status beforeCommit() { return platform::Status::ok(); }
    // Commits; a work that puts more in place with its rows (an export) does so here.
    virtual platform::Status commit() = 0;
    // Ends the store's work (rolled back unless committed) and whatever it holds, before the store closes. Called
    // whichever way the flow ends, and maybe more than once.
    virtual void finish() = 0;
};

// The flow of one master file: open the file and the store, begin the work, apply the lines in batches in one
// transaction, commit, then close the store (a SQLite store's checkpoint). All or nothing: on failure or a stop the
// transaction rolls back, and the error names the file (and line). When it returns ok, the rows are committed.
platform::Status applyFile(const QString& path, const FlowContext& context, FileWork& work);

} // namespace kavelo::db

#endif
