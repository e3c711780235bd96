#include "wire/ScratchCompression.h"

#include "platform/FileMode.h"
#include "platform/SystemError.h"

#include <QDir>
#include <QPromise>
#include <QTemporaryFile>
#include <QThreadPool>

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qint64 kReadChunk = 256 * 1024;
const QString kScratchTemplate = QStringLiteral(".kavelo-send-XXXXXX");

Status compress(const platform::PinnedFile& source, Deflater::Format format, QTemporaryFile& scratch)
{
    Deflater deflater(format);
    QByteArray out;
    for (qint64 offset = 0;;) {
        platform::Result<QByteArray> chunk = source.read(offset, kReadChunk);
        if (!chunk.isOk()) {
            return chunk.status();
        }
        out.clear();
        if (chunk->isEmpty()) {
            deflater.finish(out);
        } else {
            deflater.add(*chunk, out);
        }
        Status written = platform::writeAll(scratch, out);
        if (!written.isOk()) {
            return written;
        }
        if (chunk->isEmpty()) {
            return platform::flushAll(scratch);
        }
        offset += chunk->size();
    }
}

} // namespace

QFuture<Compressed> compressToScratch(QThreadPool& workers,
                                      std::shared_ptr<const platform::PinnedFile> source,
                                      Deflater::Format format,
                                      const QString& scratchFolder)
{
    auto promise = std::make_shared<QPromise<Compressed>>();
    QFuture<Compressed> future = promise->future();
    promise->start();
    auto scratch = std::make_shared<QTemporaryFile>(QDir(scratchFolder).filePath(kScratchTemplate));
    Compressed opened;
    opened.status = platform::openTemporary(*scratch);
    if (!opened.status.isOk()) {
        promise->addResult(opened);
        promise->finish();
        return future;
    }
    workers.start([promise, source, format, scratch] {
        Compressed result;
        try {
            result.status = compress(*source, format, *scratch);
        } catch (const std::exception& e) {
            result.status =
                Status::error(QStringLiteral("%1: %2").arg(source->path(), QString::fromLocal8Bit(e.what())));
        }
        if (result.status.isOk()) {
            platform::Result<std::shared_ptr<const platform::PinnedFile>> file =
                platform::PinnedFile::open(scratch->fileName());
            result.status = file.isOk() ? Status::ok() : file.status();
            if (file.isOk()) {
                result.file = *file;
            }
        }
        result.scratch = scratch;
        promise->addResult(std::move(result));
        promise->finish();
    });
    return future;
}

} // namespace kavelo::wire
