#include "batch/BatchUser.h"

namespace kavelo::batch {

using platform::Result;
using platform::Status;

namespace {

Status applyAndClear(LineBatch& batch, BatchUser& user)
{
    Status applied = batch.isEmpty() ? Status::ok() : user.apply(batch);
    batch.clear();
    return applied;
}

} // namespace

Status applyInBatches(platform::ShiftJisLineReader& reader, LineBatch& batch, BatchUser& user)
{
    batch.clear();
    for (;;) {
        Result<std::optional<QStringView>> next = reader.nextView();
        if (!next.isOk()) {
            return next.status();
        }
        if (!next->has_value()) {
            return applyAndClear(batch, user);
        }
        const std::optional<BatchUser::Admitted> admitted = user.admit(**next);
        if (!admitted) {
            continue;
        }
        if (!batch.hold(admitted->key, reader.lineBytes(), reader.lineNumber(), admitted->tag)) {
            return reader.lineError(QStringLiteral("not enough memory to hold the lines"));
        }
        if (batch.full()) {
            Status applied = applyAndClear(batch, user);
            if (!applied.isOk()) {
                return applied;
            }
        }
    }
}

} // namespace kavelo::batch
