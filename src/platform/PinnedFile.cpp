#include "platform/PinnedFile.h"

#include "platform/SystemError.h"

#include <QFile>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <mutex>
#endif

namespace kavelo::platform {

#ifdef Q_OS_UNIX

struct PinnedFile::Handle
{
    int fd = -1;
};

Result<std::shared_ptr<const PinnedFile>> PinnedFile::open(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Status::fileError(path, systemReason(errno), QStringLiteral("cannot read"));
    }
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    return std::shared_ptr<const PinnedFile>(new PinnedFile(path, std::move(handle)));
}

PinnedFile::~PinnedFile()
{
    ::close(m_handle->fd);
}

qint64 PinnedFile::size() const
{
    struct stat info = {};
    return ::fstat(m_handle->fd, &info) == 0 ? static_cast<qint64>(info.st_size) : -1;
}

Result<QByteArray> PinnedFile::read(qint64 offset, qint64 maxBytes) const
{
    QByteArray bytes(static_cast<qsizetype>(qMax<qint64>(0, maxBytes)), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(m_handle->fd,
                                    bytes.data() + done,
                                    static_cast<size_t>(bytes.size() - done),
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Status::fileError(m_path, systemReason(errno), QStringLiteral("cannot read"));
        }
        if (got == 0) {
            break; // the end of the file
        }
        done += got;
    }
    bytes.truncate(done);
    return bytes;
}

#else

// Without positional reads: one QFile, reads one at a time.
struct PinnedFile::Handle
{
    QFile file;
    std::mutex mutex;
};

Result<std::shared_ptr<const PinnedFile>> PinnedFile::open(const QString& path)
{
    auto handle = std::make_unique<Handle>();
    handle->file.setFileName(path);
    if (!handle->file.open(QIODevice::ReadOnly)) {
        return Status::fileError(path, fileReason(handle->file), QStringLiteral("cannot read"));
    }
    return std::shared_ptr<const PinnedFile>(new PinnedFile(path, std::move(handle)));
}

PinnedFile::~PinnedFile() = default;

qint64 PinnedFile::size() const
{
    std::lock_guard lock(m_handle->mutex);
    return m_handle->file.size();
}

Result<QByteArray> PinnedFile::read(qint64 offset, qint64 maxBytes) const
{
    std::lock_guard lock(m_handle->mutex);
    if (!m_handle->file.seek(offset)) {
        return Status::fileError(m_path, fileReason(m_handle->file), QStringLiteral("cannot read"));
    }
    QByteArray bytes = m_handle->file.read(maxBytes);
    if (bytes.isEmpty() && m_handle->file.error() != QFileDevice::NoError) {
        return Status::fileError(m_path, fileReason(m_handle->file), QStringLiteral("cannot read"));
    }
    return bytes;
}

#endif

PinnedFile::PinnedFile(QString path, std::unique_ptr<Handle> handle)
    : m_path(std::move(path))
    , m_handle(std::move(handle))
{
}

} // namespace kavelo::platform
