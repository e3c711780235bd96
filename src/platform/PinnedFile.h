#ifndef KAVELO_PLATFORM_PINNEDFILE_H
#define KAVELO_PLATFORM_PINNEDFILE_H

#include "platform/Status.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace kavelo::platform {

// A file held open and read at given offsets, from any thread and by any number of readers at once. Its bytes are
// those of the file that was opened, even after another file has replaced its name (a replace is a rename, never a
// write into the old file).
class PinnedFile
{
  public:
    // Opens `path` for reading; the error names the path and the system's reason.
    static Result<std::shared_ptr<const PinnedFile>> open(const QString& path);
    ~PinnedFile();
    PinnedFile(const PinnedFile&) = delete;
    PinnedFile& operator=(const PinnedFile&) = delete;

    const QString& path() const { return m_path; }
    // The file's size now; -1 when the system cannot tell.
    qint64 size() const;
    // Up to `maxBytes` from `offset`; fewer at the end of the file, none past it.
    Result<QByteArray> read(qint64 offset, qint64 maxBytes) const;

  private:
    struct Handle;
    PinnedFile(QString path, std::unique_ptr<Handle> handle);

    QString m_path;
    std::unique_ptr<Handle> m_handle;
};

} // namespace kavelo::platform

#endif
