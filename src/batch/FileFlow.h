#ifndef KAVELO_BATCH_FILEFLOW_H
#define KAVELO_BATCH_FILEFLOW_H

#include "batch/BatchUser.h"
#include "platform/Database.h"
#include "platform/Guarded.h"
#include "platform/Status.h"
#include "platform/TextCodec.h"

#include <QString>

#include <functional>
#include <memory>
#include <stop_token>

namespace kavelo::batch {

class CheckpointWorker;

// Progress of a long file: bytes of it done so far, and its size. Called at the start, after each batch (and more
// often where a user reports within a batch), and once more when the whole file is applied.
using ProgressHook = std::function<void(qint64 bytesDone, qint64 bytesTotal)>;

// Where and how the flow applies one master file.
struct FlowContext
{
    QString dbPath;
    // The settings key that names the database, for the error when it is empty ("DBname", "ImportDB").
    QString dbSetting;
    // The lines are applied in batches of at most about this much text (UTF-8), each sorted by key; the memory the
    // work needs grows with it.
    qsizetype batchBytes = 24 * 1024 * 1024;
    // Takes the connection after the commit for its checkpoint, so that the flow returns without waiting for it.
    // Without one, the flow checkpoints before it returns.
    CheckpointWorker* checkpoints = nullptr;
    // Asked for when the program is ending: the work stops before its next line or row, with nothing of it stored.
    std::stop_token stop = {};
    ProgressHook progress;
    // The rows are safe from a power cut when the flow returns: with a checkpoint worker, the commit syncs the
    // write-ahead log (synchronous=FULL); without one, the flow's own checkpoint syncs it before it returns.
    bool durableCommit = false;
    // Where the time of each phase is logged (debug).
    platform::LogCategory category = nullptr;
};

// What one kind of master file (an update file, a host file) does inside the flow: its statements, its batches,
// and what it puts in place together with the commit. Everything that knows tables, indexes and SQL is here, not
// in the flow.
class FileWork
{
  public:
    virtual ~FileWork() = default;

    // The file's kind, for "<kind> not found" ("update file").
    virtual QString kind() const = 0;
    // Prepares the work's statements on the flow's connection. `reader` is the file's, open for the whole apply.
    virtual platform::Status prepare(platform::Database& database, const platform::ShiftJisLineReader& reader) = 0;
    // Applies the batches; valid after prepare().
    virtual BatchUser& user() = 0;
    // After the last batch, the file closed, the transaction still open: what must be ready for the commit (an
    // export written to its temporary file).
    virtual platform::Status beforeCommit() { return platform::Status::ok(); }
    // Commits; a work that puts more in place with its rows (an export) does so here.
    virtual platform::Status commit(platform::Transaction& transaction) { return transaction.commit(); }
    // Finishes every statement: the connection closes, or goes on to its checkpoint, maybe on another thread. Called
    // whichever way the flow ends, and maybe more than once.
    virtual void finish() = 0;
};

// The connection of a flow, the one place where it is made: an existing database, tuned for applying a master file
// (an 8 MiB page cache; no checkpoint inside a commit, the flow checkpoints after it).
platform::Result<std::unique_ptr<platform::Database>> openConnection(const FlowContext& context);

// The flow of one master file: open the file and the connection, prepare the work, apply the lines in batches in
// one transaction, commit, then checkpoint. All or nothing: on failure or a stop the transaction rolls back, and
// the error names the file (and line). When it returns ok, the rows are committed.
platform::Status applyFile(const QString& path, const FlowContext& context, FileWork& work);

} // namespace kavelo::batch

#endif
