#include "wire/FileStreamer.h"

#include <QIODevice>
#include <QSslSocket>

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qint64 kReadChunk = 256 * 1024;
// Bytes written but not yet taken by the connection; more is written only below this.
constexpr qint64 kHighWater = 256 * 1024;

} // namespace

FileStreamer::FileStreamer(
    QIODevice& device, std::shared_ptr<const platform::PinnedFile> file, qint64 offset, qint64 length, QObject* parent)
    : QObject(parent)
    , m_device(device)
    , m_file(std::move(file))
    , m_offset(offset)
    , m_left(length)
{
    connect(&m_device, &QIODevice::bytesWritten, this, [this] {
        if (m_started && !m_done) {
            writeMore();
        }
    });
    if (auto* tls = qobject_cast<QSslSocket*>(&m_device)) {
        connect(tls, &QSslSocket::encryptedBytesWritten, this, [this] {
            if (m_started && !m_done) {
                writeMore();
            }
        });
    }
}

void FileStreamer::start()
{
    m_started = true;
    QMetaObject::invokeMethod(
        this, [this] { writeMore(); }, Qt::QueuedConnection);
}

qint64 FileStreamer::backlog() const
{
    const auto* tls = qobject_cast<const QSslSocket*>(&m_device);
    return m_device.bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

void FileStreamer::writeMore()
{
    while (!m_done && m_left > 0 && backlog() < kHighWater) {
        platform::Result<QByteArray> chunk = m_file->read(m_offset, qMin(kReadChunk, m_left));
        if (!chunk.isOk() || chunk->isEmpty()) {
            finish(chunk.isOk() ? Status::error(QStringLiteral("%1: cut short on the disk").arg(m_file->path()))
                                : chunk.status());
            return;
        }
        m_device.write(*chunk);
        m_offset += chunk->size();
        m_left -= chunk->size();
        m_written += chunk->size();
    }
    if (!m_done && m_left == 0) {
        finish(Status::ok());
    }
}

void FileStreamer::finish(const Status& status)
{
    if (m_done) {
        return;
    }
    m_done = true;
    Q_EMIT finished(status);
}

} // namespace kavelo::wire
