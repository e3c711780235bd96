#ifndef KAVELO_BACKUP_BACKUPWRITER_H
#define KAVELO_BACKUP_BACKUPWRITER_H

#include "backup/BackupPlan.h"
#include "platform/Status.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace kavelo::backup {

// Progress of a long copy: files and bytes done of all.
struct Progress
{
    int files = 0;
    int totalFiles = 0;
    qint64 bytes = 0;
    qint64 totalBytes = 0;
};
using ProgressHook = std::function<void(const Progress&)>;

struct BackupOptions
{
    QString destination; // the folder that holds the backups; made when missing
    int keepCopies = 0;  // the newest this many backups in it are kept, older ones removed; 0: all kept
    QDateTime now;       // names the backup
    ProgressHook progress;
};

struct BackupReport
{
    QString folder; // the backup written
    int files = 0;
    int databases = 0;
    qint64 bytes = 0;
    QStringList notes;
    QStringList removedCopies; // older backups removed to keep BackupCopies
};

// The name pattern of the backups in a destination folder: kavelo-yyyyMMdd-HHmmss (a suffix -N for a second
// one in the same second).
bool isBackupName(const QString& name);

// Writes one backup of `sources` as a new folder kavelo-<time> in the destination: the databases first, each as a
// consistent copy taken while the service may write it, then every other file, then the manifest, all under a
// hidden temporary name that becomes the backup's name only when everything is on the disk. A failure (a full or
// read-only destination, an unreadable file) removes the half-written copy and names the reason; a backup that
// is there is whole. Only one backup at a time writes into a destination.
platform::Result<BackupReport> writeBackup(const Sources& sources, const BackupOptions& options);

} // namespace kavelo::backup

#endif
