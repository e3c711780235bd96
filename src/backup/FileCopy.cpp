#include "backup/FileCopy.h"

#include "platform/SystemError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavelo::backup {

using platform::Result;
using platform::Status;
using platform::systemReason;

namespace {

constexpr qsizetype kChunk = 1024 * 1024;
// Bytes of one file on their way to the disk at a time (writeBehind).
constexpr qint64 kInFlight = 8 * 1024 * 1024;
constexpr char kSqliteHeader[] = "SQLite format 3"; // and its NUL: the first 16 bytes of every database

// Closes a file descriptor when it goes out of scope.
class Fd
{
  public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

// SHA-256 as OpenSSL works it out, several times as fast as Qt's own.
class Sha256
{
  public:
    Sha256()
        : m_context(EVP_MD_CTX_new())
    {
        EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr);
    }
    ~Sha256() { EVP_MD_CTX_free(m_context); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, ssize_t size) { EVP_DigestUpdate(m_context, data, static_cast<size_t>(size)); }
    QByteArray hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(m_context, digest, &size);
        return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(size)).toHex();
    }

  private:
    EVP_MD_CTX* m_context;
};

std::vector<char>& buffer()
{
    thread_local std::vector<char> chunk(static_cast<size_t>(kChunk));
    return chunk;
}

QString error(const QString& path, const QString& what, int errnum)
{
    return QStringLiteral("%1: %2: %3").arg(path, what, systemReason(errnum));
}

// Reads the next piece of `fd` into the buffer: its length, 0 at the end, -1 on an error (errno set).
ssize_t readSome(int fd)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer().data(), static_cast<size_t>(kChunk));
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

bool writeAll(int fd, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, static_cast<size_t>(size));
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += put;
        size -= put;
    }
    return true;
}

} // namespace

void writeBehind(int fd, qint64 offset, qint64 length)
{
#ifdef Q_OS_LINUX
    // The range just written starts on its way to the disk; what lies more than kInFlight before its end must have
    // arrived there.
    ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
    const qint64 arrived = offset + length - kInFlight;
    if (arrived > 0) {
        const qint64 from = std::max<qint64>(0, offset - kInFlight);
        ::sync_file_range(
            fd, from, arrived - from, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    }
#else
    Q_UNUSED(fd);
    Q_UNUSED(offset);
    Q_UNUSED(length);
#endif
}

namespace {

bool startsLikeDatabase(ssize_t got)
{
    return got >= 16 && std::memcmp(buffer().data(), kSqliteHeader, 16) == 0;
}

// Copies what is left of `in` after the piece already read (`got` bytes) into `out`, each piece sent on its way to
// the disk at once (writeBehind).
Status copyRest(int in, int out, ssize_t got, const QString& source, const QString& target, FileDigest& digest)
{
    Sha256 hash;
    while (got > 0) {
        hash.add(buffer().data(), got);
        if (!writeAll(out, buffer().data(), got)) {
            return Status::error(error(target, QStringLiteral("write failed"), errno));
        }
        writeBehind(out, digest.size, got);
        digest.size += got;
        got = readSome(in);
    }
    if (got < 0) {
        return Status::error(error(source, QStringLiteral("read failed"), errno));
    }
    digest.sha256 = hash.hex();
    return Status::ok();
}

// Gives `out` the mode and modification time of `in`, then closes it, which reports a write the disk refused late.
Status finish(int in, Fd& out, const QString& target)
{
    struct stat info = {};
    if (::fstat(in, &info) != 0 || ::fchmod(out.get(), info.st_mode & 07777) != 0) {
        return Status::error(error(target, QStringLiteral("cannot set the file's mode"), errno));
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::futimens(out.get(), times) != 0) {
        return Status::error(error(target, QStringLiteral("cannot set the file's time"), errno));
    }
    if (::close(out.release()) != 0) {
        return Status::error(error(target, QStringLiteral("write failed"), errno));
    }
    return Status::ok();
}

} // namespace

Result<FileDigest> copyFile(const QString& source, const QString& target, bool databasesApart)
{
    FileDigest digest;
    Fd in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) {
        if (errno == ENOENT) {
            digest.vanished = true;
            return digest;
        }
        return Status::error(error(source, QStringLiteral("cannot open for copying"), errno));
    }
    ssize_t got = readSome(in.get());
    if (got < 0) {
        return Status::error(error(source, QStringLiteral("read failed"), errno));
    }
    if (databasesApart && startsLikeDatabase(got)) {
        digest.database = true;
        return digest;
    }
    Fd out(::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        return Status::error(error(target, QStringLiteral("cannot create"), errno));
    }
    Status copied = copyRest(in.get(), out.get(), got, source, target, digest);
    if (copied.isOk()) {
        copied = finish(in.get(), out, target);
    }
    if (!copied.isOk()) {
        QFile::remove(target);
        return copied;
    }
    return digest;
}

Result<FileDigest> digestFile(const QString& path)
{
    Fd in(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return Status::error(error(path, QStringLiteral("cannot open"), errno));
    }
    FileDigest digest;
    Sha256 hash;
    ssize_t got = 0;
    while ((got = readSome(in.get())) > 0) {
        hash.add(buffer().data(), got);
        digest.size += got;
    }
    if (got < 0) {
        return Status::error(error(path, QStringLiteral("read failed"), errno));
    }
    digest.sha256 = hash.hex();
    return digest;
}

Status syncFileSystem(const QString& path)
{
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return Status::error(error(path, QStringLiteral("cannot open"), errno));
    }
#ifdef Q_OS_LINUX
    if (::syncfs(fd.get()) != 0) {
        return Status::error(error(path, QStringLiteral("cannot write the file system out to the disk"), errno));
    }
#else
    ::sync();
#endif
    return Status::ok();
}

Status syncFolder(const QString& path)
{
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        return Status::error(error(path, QStringLiteral("cannot write the folder out to the disk"), errno));
    }
    return Status::ok();
}

} // namespace kavelo::backup
