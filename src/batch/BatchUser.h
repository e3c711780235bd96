#ifndef KAVELO_BATCH_BATCHUSER_H
#define KAVELO_BATCH_BATCHUSER_H

#include "batch/LineBatch.h"
#include "platform/Status.h"
#include "platform/TextCodec.h"

#include <QStringView>

#include <functional>
#include <optional>
#include <stop_token>

namespace kavelo::batch {

// What the batch engine asks of the one who applies a master file: which lines to hold, under which key, and what
// to do with a batch of them. The per-terminal update and the host import are its two users.
//
// Lines of different keys never touch each other's rows, so a batch may be applied in key order rather than in
// file order; the lines of one key stay in file order, and a user applies them as if one after the other.
class BatchUser
{
  public:
    struct Admitted
    {
        QStringView key; // may point into the line; copied when the line is held
        quint8 tag = 0;  // the user's own mark of the line, handed back with it
    };

    virtual ~BatchUser() = default;

    // The key of a line to hold, or nothing to pass the line over (it is then done with). Called for every line in
    // file order.
    virtual std::optional<Admitted> admit(QStringView line) = 0;
    // Applies a batch, which is not sorted yet. The lines are cleared afterwards.
    virtual platform::Status apply(LineBatch& batch) = 0;
};

// Reads every line of `reader` into `batch` and hands each full batch, and the last one, to `user`. Stops at the
// first error (a line that cannot be read, a batch that fails) and returns it, and before the next line once `stop`
// is asked for. `applied` (when given) runs after each batch.
platform::Status applyInBatches(platform::ShiftJisLineReader& reader,
                                LineBatch& batch,
                                BatchUser& user,
                                const std::stop_token& stop = {},
                                const std::function<void()>& applied = {});

// The error of a held line whose bytes no longer decode.
platform::Status undecodableLine(const QString& file, qint64 lineNumber);

// The error of work given up because the program is ending: nothing of `file` is stored.
platform::Status stoppedWork(const QString& file);

} // namespace kavelo::batch

#endif
