#include "wire/StagedSender.h"

#include "platform/FileMode.h"
#include "platform/Log.h"
#include "platform/SystemError.h"
#include "wire/Deflate.h"
#include "wire/FileStreamer.h"
#include "wire/ProtocolHeader.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QPromise>
#include <QTemporaryFile>
#include <QThreadPool>

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qint64 kReadChunk = 256 * 1024;
const QString kScratchTemplate = QStringLiteral(".kavelo-send-XXXXXX");

// Runs on a worker thread; the scratch file is used by nobody else meanwhile, the staged file is only read.
StagedSender::Prepared prepare(const platform::PinnedFile& file, QTemporaryFile* compressed)
{
    StagedSender::Prepared prepared;
    std::unique_ptr<Deflater> deflater = compressed ? std::make_unique<Deflater>() : nullptr;
    QByteArray out;
    for (;;) {
        platform::Result<QByteArray> read = file.read(prepared.size, kReadChunk);
        if (!read.isOk()) {
            prepared.status = read.status();
            return prepared;
        }
        const QByteArray& chunk = *read;
        if (chunk.isEmpty()) {
            break;
        }
        prepared.size += chunk.size();
        prepared.crc = crc32Update(prepared.crc, chunk);
        if (deflater) {
            out.clear();
            deflater->add(chunk, out);
            prepared.status = platform::writeAll(*compressed, out);
            if (!prepared.status.isOk()) {
                return prepared;
            }
        }
    }
    if (deflater) {
        out.clear();
        deflater->finish(out);
        prepared.status = platform::writeAll(*compressed, out);
        if (prepared.status.isOk()) {
            prepared.status = platform::flushAll(*compressed);
        }
    }
    return prepared;
}

} // namespace

StagedSender::StagedSender(QIODevice& device,
                           std::shared_ptr<const platform::PinnedFile> file,
                           QString name,
                           bool deflate,
                           QString scratchFolder,
                           QThreadPool& workers,
                           QObject* parent)
    : QObject(parent)
    , m_device(device)
    , m_file(std::move(file))
    , m_name(std::move(name))
    , m_deflate(deflate)
    , m_scratchFolder(std::move(scratchFolder))
    , m_workers(workers)
{
    connect(&m_watcher, &QFutureWatcher<Prepared>::finished, this, &StagedSender::onPrepared);
}

StagedSender::~StagedSender()
{
    // A worker still at it keeps its own references to the files; its result is dropped.
    m_watcher.disconnect(this);
}

void StagedSender::start()
{
    std::shared_ptr<QTemporaryFile> compressed;
    if (m_deflate) {
        compressed = std::make_shared<QTemporaryFile>(QDir(m_scratchFolder).filePath(kScratchTemplate));
        Status opened = platform::openTemporary(*compressed);
        if (!opened.isOk()) {
            QMetaObject::invokeMethod(
                this, [this, opened] { finish(opened); }, Qt::QueuedConnection);
            return;
        }
    }
    auto promise = std::make_shared<QPromise<Prepared>>();
    m_watcher.setFuture(promise->future());
    m_preparing = true;
    promise->start();
    m_workers.start([promise, file = m_file, compressed] {
        Prepared prepared;
        try {
            prepared = prepare(*file, compressed.get());
        } catch (const std::exception& e) {
            prepared.status =
                Status::error(QStringLiteral("%1: %2").arg(file->path(), QString::fromLocal8Bit(e.what())));
        }
        prepared.compressed = compressed;
        promise->addResult(std::move(prepared));
        promise->finish();
    });
}

void StagedSender::onPrepared()
{
    m_preparing = false;
    m_prepared = m_watcher.result();
    if (!m_prepared.status.isOk()) {
        finish(m_prepared.status);
        return;
    }
    QByteArray header;
    std::shared_ptr<const platform::PinnedFile> source = m_file;
    qint64 length = m_prepared.size;
    if (m_deflate) {
        platform::Result<std::shared_ptr<const platform::PinnedFile>> compressed =
            platform::PinnedFile::open(m_prepared.compressed->fileName());
        if (!compressed.isOk()) {
            finish(compressed.status());
            return;
        }
        source = *compressed;
        length = m_prepared.compressed->size();
        header = zfileLine(m_name, m_prepared.size, m_prepared.crc, length);
    } else {
        header = fileLine(m_name, m_prepared.size, m_prepared.crc);
    }
    m_wire = header.size() + length;
    m_device.write(header);
    m_started = true;
    // The frame is announced: a file that cannot be read now leaves it cut short (the caller closes).
    auto* streamer = new FileStreamer(m_device, source, 0, length, this);
    connect(streamer, &FileStreamer::finished, this, &StagedSender::finish);
    streamer->start();
}

void StagedSender::finish(const Status& status)
{
    if (m_done) {
        return;
    }
    m_done = true;
    if (!status.isOk()) {
        qCWarning(lcComm).noquote() << status.message();
    }
    Q_EMIT finished(status);
}

} // namespace kavelo::wire
