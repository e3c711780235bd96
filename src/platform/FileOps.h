#ifndef KAVELO_PLATFORM_FILEOPS_H
#define KAVELO_PLATFORM_FILEOPS_H

#include "platform/Status.h"

#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace kavelo::platform {

// A file written in pieces under a temporary name and put in place whole (an upload): nothing is visible under its
// real name until commit().
class NewFile
{
  public:
    // Unless committed, the temporary file is removed.
    virtual ~NewFile() = default;
    // A full disk fails with Status::Kind::NoSpace.
    virtual Status write(QByteArrayView bytes) = 0;
    // Flushes the file to disk and renames it over `target` in one step, replacing a file of that name.
    virtual Status commit(const QString& target) = 0;
};

// The file operations the folder tree relies on. Every error names the path and the system's reason.
// Virtual so that tests can inject a failing step; real() is the one used in production.
class FileOps
{
  public:
    virtual ~FileOps() = default;

    static FileOps& real();

    virtual bool exists(const QString& path) const = 0;
    // Not forced: a read-only file (owner write bit cleared) is refused with an error.
    virtual Status remove(const QString& path) = 0;
    // Copies overwriting. The copy goes to a temporary file in the target's folder first and is renamed over the
    // target only when complete, so a failing copy leaves the previous target as it was. A read-only target is
    // refused. The copy has the mode of a new file (FileMode.h), read-only when the source is.
    virtual Status copy(const QString& source, const QString& target) = 0;
    // Renames `source` to `target`, which must not exist (callers delete an existing target first). Across file
    // systems the file is copied and the source removed only after the copy is complete.
    virtual Status move(const QString& source, const QString& target) = 0;
    // Replaces `target` with `source` in one step (rename over an existing target, on Windows too).
    virtual Status replace(const QString& source, const QString& target) = 0;
    // A new file in `folder` named after `nameTemplate` (whose XXXXXX is made unique), with the mode a new file gets
    // (FileMode.h); committed with replace().
    virtual Result<std::unique_ptr<NewFile>> create(const QString& folder, const QString& nameTemplate) = 0;
    // Bytes free for this process's user on the file system that holds `folder`; nothing when the system does not
    // say.
    virtual std::optional<qint64> availableBytes(const QString& folder) const = 0;
};

} // namespace kavelo::platform

#endif
