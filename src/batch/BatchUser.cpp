#include "batch/BatchUser.h"

namespace kavelo::batch {

using platform::Result;
using platform::Status;

namespace {

Status applyAndClear(LineBatch& batch, BatchUser& user, const std::function<void()>& applied)
{
    Status status = batch.isEmpty() ? Status::ok() : user.apply(batch);
    batch.clear();
    if (status.isOk() && applied) {
        applied();
    }
    return status;
}

} // namespace

Status applyInBatches(platform::ShiftJisLineReader& reader,
                      LineBatch& batch,
                      BatchUser& user,
                      const std::stop_token& stop,
                      const std::function<void()>& applied)
{
    batch.clear();
    for (;;) {
        if (stop.stop_requested()) {
            return stoppedWork(reader.path());
        }
        Result<std::optional<QStringView>> next = reader.nextView();
        if (!next.isOk()) {
            return next.status();
        }
        if (!next->has_value()) {
            return applyAndClear(batch, user, applied);
        }
        const std::optional<BatchUser::Admitted> admitted = user.admit(**next);
        if (!admitted) {
            continue;
        }
        if (!batch.hold(admitted->key, reader.lineBytes(), reader.lineNumber(), admitted->tag)) {
            return reader.lineError(QStringLiteral("not enough memory to hold the lines"));
        }
        if (batch.full()) {
            Status done = applyAndClear(batch, user, applied);
            if (!done.isOk()) {
                return done;
            }
        }
    }
}

Status undecodableLine(const QString& file, qint64 lineNumber)
{
    return Status::lineError(file, lineNumber, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
}

Status stoppedWork(const QString& file)
{
    return Status::fileError(file, QStringLiteral("the program is ending; nothing of this file is stored"));
}

} // namespace kavelo::batch
