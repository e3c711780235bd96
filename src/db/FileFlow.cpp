#include "db/FileFlow.h"

#include "batch/LineBatch.h"
#include "platform/Log.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>

namespace kavelo::db {

using platform::Result;
using platform::Status;

namespace {

const QLoggingCategory& category(const FlowContext& context)
{
    return context.category != nullptr ? context.category() : lcDb();
}

// Ends the work when the flow leaves, whichever way: before the store closes.
class Finishing
{
  public:
    explicit Finishing(FileWork& work)
        : m_work(work)
    {
    }
    ~Finishing() { m_work.finish(); }
    Finishing(const Finishing&) = delete;
    Finishing& operator=(const Finishing&) = delete;

  private:
    FileWork& m_work;
};

void report(const FlowContext& context, qint64 done, qint64 total)
{
    if (context.progress) {
        context.progress(done, total);
    }
}

Result<std::unique_ptr<MasterStore>> openFlowStore(const FlowContext& context)
{
    if (context.location.database.isEmpty()) {
        return Status::error(QStringLiteral("no database is set (settings key \"%1\")").arg(context.dbSetting));
    }
    return openStore(context.location, StoreOptions{context.checkpoints, context.durableCommit});
}

// The lines applied, the file closed, the work made ready and committed; the times of the phases logged.
Status applyAndCommit(const QString& path,
                      const FlowContext& context,
                      FileWork& work,
                      std::unique_ptr<platform::ShiftJisLineReader>& reader)
{
    const qint64 total = reader->fileSize();
    report(context, 0, total);
    QElapsedTimer phase;
    phase.start();
    batch::LineBatch lines(context.batchBytes);
    platform::ShiftJisLineReader& file = *reader;
    Status status = batch::applyInBatches(file, lines, work.user(), context.stop, [&context, &file] {
        report(context, file.bytesConsumed(), file.fileSize());
    });
    reader.reset(); // the file is closed before anything is written beside it
    const qint64 appliedMs = phase.restart();
    if (status.isOk()) {
        status = work.beforeCommit();
    }
    const qint64 preparedMs = phase.restart();
    if (status.isOk() && context.stop.stop_requested()) {
        status = batch::stoppedWork(path);
    }
    if (status.isOk()) {
        status = work.commit();
    }
    if (!status.isOk()) {
        // A statement cancelled by the stop fails with the server's words for it; the stop is what happened.
        return context.stop.stop_requested() ? batch::stoppedWork(path) : status;
    }
    qCDebug(category(context)).noquote() << QStringLiteral("%1: lines applied in %2 ms, then %3 ms before the commit, "
                                                           "committed in %4 ms")
                                                .arg(path)
                                                .arg(appliedMs)
                                                .arg(preparedMs)
                                                .arg(phase.elapsed());
    report(context, total, total);
    return Status::ok();
}

} // namespace

Status applyFile(const QString& path, const FlowContext& context, FileWork& work)
{
    if (!QFileInfo(path).isFile()) {
        return Status::fileError(path, work.kind() + QStringLiteral(" not found"));
    }
    Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(path);
    if (!reader.isOk()) {
        return reader.status();
    }
    Result<std::unique_ptr<MasterStore>> store = openFlowStore(context);
    if (!store.isOk()) {
        return store.status();
    }
    Status status = Status::ok();
    {
        // A stop cancels what the store runs now; the callback is gone before the store is.
        std::stop_callback interrupting(context.stop, [&store] { (*store)->interrupt(); });
        Finishing finishing(work);
        status = work.begin(**store, **reader);
        if (status.isOk()) {
            status = applyAndCommit(path, context, work, *reader);
        } else if (context.stop.stop_requested()) {
            status = batch::stoppedWork(path);
        }
    }
    if (!status.isOk()) {
        return status;
    }
    QElapsedTimer closing;
    closing.start();
    store->reset(); // a SQLite store checkpoints here, or hands its connection to the worker
    if (context.checkpoints == nullptr && !isServerUri(context.location.database)) {
        qCDebug(category(context)).noquote()
            << QStringLiteral("%1: checkpoint in %2 ms").arg(path).arg(closing.elapsed());
    }
    return Status::ok();
}

} // namespace kavelo::db
