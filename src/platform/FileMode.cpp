#include "platform/FileMode.h"

#include "platform/SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cerrno>

#include <sys/stat.h>

namespace kavelo::platform {

namespace {

constexpr unsigned kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// The umask without changing it: umask() can only be read by setting it, which for a moment would give a file
// created by another thread the wrong mode. Linux shows it in /proc; elsewhere it is read once, at the first call.
mode_t processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QByteArray content = status.readAll();
        const qsizetype at = content.indexOf("\nUmask:");
        if (at >= 0) {
            bool ok = false;
            const qsizetype end = content.indexOf('\n', at + 1);
            const uint mask = content.mid(at + 7, end - at - 7).trimmed().toUInt(&ok, 8);
            if (ok) {
                return static_cast<mode_t>(mask);
            }
        }
    }
    static const mode_t once = [] {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return mask;
    }();
    return once;
}

} // namespace

unsigned ordinaryFileMode()
{
    return 0666u & ~static_cast<unsigned>(processUmask());
}

Status openTemporary(QTemporaryFile& file)
{
    if (!file.open()) {
        return Status::fileError(QFileInfo(file.fileTemplate()).absolutePath(),
                                 fileReason(file),
                                 QStringLiteral("cannot create a temporary file"),
                                 failureKind(file));
    }
    return giveOrdinaryMode(file);
}

Status giveOrdinaryMode(QFileDevice& file, bool readOnly)
{
    const unsigned mode = readOnly ? ordinaryFileMode() & ~kWriteBits : ordinaryFileMode();
    if (::fchmod(file.handle(), static_cast<mode_t>(mode)) != 0) {
        return Status::fileError(file.fileName(), systemReason(errno), QStringLiteral("cannot set the file's mode"));
    }
    return Status::ok();
}

Status giveOrdinaryMode(const QString& path)
{
    if (::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(ordinaryFileMode())) != 0) {
        return Status::fileError(path, systemReason(errno), QStringLiteral("cannot set the file's mode"));
    }
    return Status::ok();
}

Status writeWholeFile(const QString& path, QByteArrayView content, unsigned mode)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return Status::fileError(path, fileReason(file), QStringLiteral("cannot write"), failureKind(file));
    }
    // Before a byte is written: a secret never sits in a file others may read, not even for a moment.
    if (::fchmod(file.handle(), static_cast<mode_t>(mode)) != 0) {
        const int error = errno;
        file.cancelWriting();
        return Status::error(QStringLiteral("%1: cannot set the file's mode: %2").arg(path, systemReason(error)));
    }
    Status written = writeAll(file, content, path);
    if (!written.isOk()) {
        file.cancelWriting();
        return written;
    }
    if (!file.commit()) {
        return Status::fileError(path, fileReason(file), QStringLiteral("cannot write"), failureKind(file));
    }
    return Status::ok();
}

} // namespace kavelo::platform
