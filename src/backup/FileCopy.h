#ifndef KAVELO_BACKUP_FILECOPY_H
#define KAVELO_BACKUP_FILECOPY_H

#include "platform/Status.h"

#include <QByteArray>
#include <QString>

namespace kavelo::backup {

// A file as copied or read: its size and the SHA-256 of its bytes (lower-case hex).
struct FileDigest
{
    qint64 size = 0;
    QByteArray sha256;
    bool database = false; // starts like an SQLite database: not copied, see copyFile()
    bool vanished = false; // the source was gone when its turn came
};

// Copies the regular file `source` into the new file `target` (an existing one is an error), with its permission
// bits and modification time, working out the digest on the way. When `databasesApart` and the file starts like an
// SQLite database, nothing is written and the result says so: a live database is copied with the online backup
// API instead. A source that no longer exists is not an error but reported as vanished.
platform::Result<FileDigest> copyFile(const QString& source, const QString& target, bool databasesApart);

// The digest of a file as it is now.
platform::Result<FileDigest> digestFile(const QString& path);

// Sends `length` bytes just written at `offset` of the file open as `fd` on their way to the disk, and waits for
// what lies more than 8 MiB before their end to arrive there. A backup so writes as the disk takes it, not into
// memory first and then all at once: a terminal's upload, which the service makes sure is on the disk, then waits
// behind a few megabytes of the backup's rather than behind all of it.
void writeBehind(int fd, qint64 offset, qint64 length);

// Writes out whatever the file system holding `path` still has in memory, so that a rename that follows stands
// on data that is on the disk.
platform::Status syncFileSystem(const QString& path);

// Flushes a folder's entries (a rename in it) to the disk.
platform::Status syncFolder(const QString& path);

} // namespace kavelo::backup

#endif
