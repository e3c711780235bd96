#ifndef KAVELO_BACKUP_BACKUPRESTORE_H
#define KAVELO_BACKUP_BACKUPRESTORE_H

#include "backup/BackupPlan.h"
#include "backup/BackupWriter.h"
#include "platform/Status.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace kavelo::backup {

struct RestoreOptions
{
    QString backupFolder;
    QString programFolder; // where the program folder is restored; made when missing
    QDateTime now;         // names the folders kept aside
    ProgressHook progress;
};

struct RestoreReport
{
    QStringList restored;    // the folders and files put in place
    QStringList keptAside;   // what they replaced, renamed "<name>.before-restore-<time>"
    QStringList notRestored; // parts from outside the program folder, when restoring into another folder
};

// Puts a backup back. Refused, with nothing touched, when the backup is not sound (checkFolder) or while KAVELO
// uses the program folder (its lock). Everything is first copied beside its place ("<name>.restoring-<time>",
// each file checked against the manifest again), then each part takes its place by renames: the program folder in
// one step, the old one kept aside until the administrator removes it. Parts from outside the program folder
// (DATA or a database elsewhere) go back to where they came from only when the program folder is restored where
// it was. Run by root, the restored files get the owner of the folder they replace.
platform::Result<RestoreReport> restoreBackup(const RestoreOptions& options, const SourcesReader& readSources);

} // namespace kavelo::backup

#endif
