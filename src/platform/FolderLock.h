#ifndef KAVELO_PLATFORM_FOLDERLOCK_H
#define KAVELO_PLATFORM_FOLDERLOCK_H

#include "platform/Status.h"

#include <QString>

#include <memory>

namespace kavelo::platform {

// A lock on a program folder, held for as long as the object lives: the window, the service and the commands that
// work in the folder hold it shared; a restore, which replaces the folder, holds it alone. It is the system's
// advisory lock on the file "kavelo.lock" in the folder, so a process that dies, even killed, lets go of it.
class FolderLock
{
  public:
    enum class Mode
    {
        Shared,
        Exclusive,
    };

    static inline const QString kFileName = QStringLiteral("kavelo.lock");

    // Opens (or creates) the folder's lock file; an error names it with the system's reason.
    static Result<std::unique_ptr<FolderLock>> open(const QString& folder);
    ~FolderLock();

    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting. False while another process holds it in the other mode, or while the
    // folder is being replaced under it.
    bool tryLock(Mode mode);

    // Why the lock in `mode` was not had, in the words of the command line and the log.
    static QString busyReason(const QString& folder, Mode mode);

  private:
    FolderLock(QString folder, int fd);

    bool reopen();

    QString m_folder;
    int m_fd;
};

} // namespace kavelo::platform

#endif
