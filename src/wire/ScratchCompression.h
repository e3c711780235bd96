#ifndef KAVELO_WIRE_SCRATCHCOMPRESSION_H
#define KAVELO_WIRE_SCRATCHCOMPRESSION_H

#include "platform/PinnedFile.h"
#include "platform/Status.h"
#include "wire/Deflate.h"

#include <QFuture>
#include <QString>

#include <memory>

class QTemporaryFile;
class QThreadPool;

namespace kavelo::wire {

struct Compressed
{
    platform::Status status;
    std::shared_ptr<QTemporaryFile> scratch;          // the compressed bytes; removed when the last owner lets go
    std::shared_ptr<const platform::PinnedFile> file; // the same, to read at offsets
};

// Compresses `source` into a scratch file of `scratchFolder` (".kavelo-send-XXXXXX") on one of `workers`, so that
// the event loop never waits for it.
QFuture<Compressed> compressToScratch(QThreadPool& workers,
                                      std::shared_ptr<const platform::PinnedFile> source,
                                      Deflater::Format format,
                                      const QString& scratchFolder);

} // namespace kavelo::wire

#endif
