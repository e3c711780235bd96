#include "platform/FileOps.h"

#include "platform/FileMode.h"
#include "platform/Log.h"
#include "platform/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kavelo::platform {

namespace {

bool isReadOnly(const QString& path)
{
    return !(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
}

// Copies source to a temporary file beside target, flushed to disk, and returns its path. The copy gets the mode of
// a new file (see FileMode.h), read-only when the source is: a copy is a new file, not the source's twin.
Result<QString> copyToTemporary(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        return Status::fileError(source, fileReason(in), QStringLiteral("cannot open for copying"));
    }
    QFileInfo targetInfo(target);
    QTemporaryFile out(targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName() +
                       QStringLiteral(".XXXXXX.part"));
    out.setAutoRemove(true);
    Status opened = openTemporary(out);
    if (!opened.isOk()) {
        return opened.prefixed(target + QStringLiteral(": "));
    }
    QByteArray chunk;
    for (;;) {
        chunk = in.read(1024 * 1024);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                return Status::fileError(source, fileReason(in), QStringLiteral("read failed"));
            }
            break;
        }
        Status written = writeAll(out, chunk, target);
        if (!written.isOk()) {
            return written;
        }
    }
    Status flushed = flushAll(out, target);
    if (!flushed.isOk()) {
        return flushed;
    }
    if (isReadOnly(source)) {
        Status mode = giveOrdinaryMode(out, true);
        if (!mode.isOk()) {
            return mode;
        }
    }
    out.setAutoRemove(false);
    return out.fileName();
}

// The temporary file of a NewFile; its commit is the owner's replace().
class TemporaryNewFile final : public NewFile
{
  public:
    TemporaryNewFile(FileOps& files, std::unique_ptr<QTemporaryFile> file)
        : m_files(files)
        , m_file(std::move(file))
    {
    }

    Status write(QByteArrayView bytes) override { return writeAll(*m_file, bytes); }

    Status commit(const QString& target) override
    {
        const QString temporary = m_file->fileName();
        Status status = flushAll(*m_file);
#ifdef Q_OS_UNIX
        if (status.isOk() && ::fsync(m_file->handle()) != 0) {
            const int error = errno;
            status =
                Status::fileError(temporary, systemReason(error), QStringLiteral("sync failed"), kindOfErrno(error));
        }
#endif
        m_file->close();
        if (status.isOk()) {
            status = m_files.replace(temporary, target);
        }
        if (status.isOk()) {
            m_file->setAutoRemove(false);
        }
        m_file.reset(); // removes the temporary file unless it is in place
        return status;
    }

  private:
    FileOps& m_files;
    std::unique_ptr<QTemporaryFile> m_file;
};

class RealFileOps final : public FileOps
{
  public:
    bool exists(const QString& path) const override
    {
        QFileInfo info(path);
        return info.exists() && !info.isDir();
    }

    Status remove(const QString& path) override
    {
        if (isReadOnly(path)) {
            return Status::fileError(path, QStringLiteral("the file is read-only"), QStringLiteral("cannot delete"));
        }
        QFile file(path);
        if (!file.remove()) {
            return Status::fileError(path, fileReason(file), QStringLiteral("cannot delete"));
        }
        return Status::ok();
    }

    Status copy(const QString& source, const QString& target) override
    {
        if (exists(target) && isReadOnly(target)) {
            return Status::fileError(
                target, QStringLiteral("the file is read-only"), QStringLiteral("cannot overwrite"));
        }
        Result<QString> temporary = copyToTemporary(source, target);
        if (!temporary.isOk()) {
            return temporary.status();
        }
        Status renamed = replace(*temporary, target);
        if (!renamed.isOk()) {
            QFile::remove(*temporary);
        }
        return renamed;
    }

    Status move(const QString& source, const QString& target) override
    {
        if (!exists(source)) {
            return Status::fileError(source, QStringLiteral("the file does not exist"), QStringLiteral("cannot move"));
        }
        if (QFileInfo::exists(target)) {
            return Status::fileError(
                target, QStringLiteral("the file already exists"), QStringLiteral("cannot move %1 there").arg(source));
        }
        QFile file(source);
        if (file.rename(target)) {
            return Status::ok();
        }
        return Status::fileError(source, fileReason(file), QStringLiteral("cannot move to %1").arg(target));
    }

    Status replace(const QString& source, const QString& target) override
    {
#ifdef Q_OS_WIN
        // rename() refuses an existing target here; MoveFileEx replaces it (and copies across volumes).
        if (!MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(source).utf16()),
                         reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(target).utf16()),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
            return Status::fileError(target,
                                     qt_error_string(static_cast<int>(GetLastError())),
                                     QStringLiteral("cannot replace with %1").arg(source));
        }
        return Status::ok();
#else
        // std::rename replaces an existing target in one step on POSIX systems.
        if (std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0) {
            if (errno == EXDEV) {
                Status copied = copy(source, target);
                if (!copied.isOk()) {
                    return copied;
                }
                return remove(source);
            }
            return Status::fileError(target, systemReason(errno), QStringLiteral("cannot replace with %1").arg(source));
        }
        return Status::ok();
#endif
    }

    Result<std::unique_ptr<NewFile>> create(const QString& folder, const QString& nameTemplate) override
    {
        auto file = std::make_unique<QTemporaryFile>(QDir(folder).filePath(nameTemplate));
        Status opened = openTemporary(*file);
        if (!opened.isOk()) {
            return opened;
        }
        return std::unique_ptr<NewFile>(std::make_unique<TemporaryNewFile>(*this, std::move(file)));
    }

    std::optional<qint64> availableBytes(const QString& folder) const override
    {
        const QStorageInfo disk(folder);
        if (!disk.isValid() || !disk.isReady() || disk.bytesAvailable() < 0) {
            return std::nullopt;
        }
        return disk.bytesAvailable();
    }
};

} // namespace

FileOps& FileOps::real()
{
    static RealFileOps instance;
    return instance;
}

} // namespace kavelo::platform
