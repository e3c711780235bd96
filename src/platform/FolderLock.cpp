#include "platform/FolderLock.h"

#include "platform/SystemError.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kavelo::platform {

namespace {

QString lockPath(const QString& folder)
{
    return QDir(folder).filePath(FolderLock::kFileName);
}

#ifdef Q_OS_UNIX
int openLockFile(const QByteArray& path)
{
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES) {
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC); // made by another user: a read-only file locks as well
    }
    return fd;
}

// True while `path` still names the file open as `fd`: a restore may have put another folder in its place.
bool stillNamed(int fd, const QByteArray& path)
{
    struct stat open = {};
    struct stat named = {};
    return ::fstat(fd, &open) == 0 && ::stat(path.constData(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}
#endif

} // namespace

FolderLock::FolderLock(QString folder, int fd)
    : m_folder(std::move(folder))
    , m_fd(fd)
{
}

QString FolderLock::busyReason(const QString& folder, Mode mode)
{
    return mode == Mode::Shared
               ? QStringLiteral("%1 is being restored (kavelo restore holds %2); start again when it has finished")
                     .arg(folder, lockPath(folder))
               : QStringLiteral("%1 is in use by KAVELO (the window, the service or a command holds %2); stop it first")
                     .arg(folder, lockPath(folder));
}

#ifdef Q_OS_UNIX

Result<std::unique_ptr<FolderLock>> FolderLock::open(const QString& folder)
{
    const int fd = openLockFile(QFile::encodeName(lockPath(folder)));
    if (fd < 0) {
        return Status::error(
            QStringLiteral("%1: cannot open the lock file: %2").arg(lockPath(folder), systemReason(errno)));
    }
    return std::unique_ptr<FolderLock>(new FolderLock(folder, fd));
}

FolderLock::~FolderLock()
{
    ::close(m_fd);
}

bool FolderLock::tryLock(Mode mode)
{
    const QByteArray path = QFile::encodeName(lockPath(m_folder));
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::flock(m_fd, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
            return false;
        }
        if (stillNamed(m_fd, path)) {
            return true;
        }
        // The folder was replaced between the open and the lock: lock the one there now.
        if (!reopen()) {
            return false;
        }
    }
    return false;
}

bool FolderLock::reopen()
{
    const int fd = openLockFile(QFile::encodeName(lockPath(m_folder)));
    if (fd < 0) {
        return false;
    }
    ::close(m_fd);
    m_fd = fd;
    return true;
}

#else

// Elsewhere there is no lock yet: KAVELO is packaged for Debian, where the lock above is taken.
Result<std::unique_ptr<FolderLock>> FolderLock::open(const QString& folder)
{
    return std::unique_ptr<FolderLock>(new FolderLock(folder, -1));
}

FolderLock::~FolderLock() = default;

bool FolderLock::tryLock(Mode)
{
    return true;
}

bool FolderLock::reopen()
{
    return true;
}

#endif

} // namespace kavelo::platform
