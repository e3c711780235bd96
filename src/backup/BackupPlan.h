#ifndef KAVELO_BACKUP_BACKUPPLAN_H
#define KAVELO_BACKUP_BACKUPPLAN_H

#include "backup/Manifest.h"
#include "platform/Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace kavelo::backup {

// Where a program folder's data lives, as its settings say.
struct Sources
{
    QString programFolder; // absolute
    QString dataRoot;      // DATA: a plain prefix of the terminal folders; relative to the program folder
    QStringList databases; // the SQLite databases the settings name (DBname, ImportDB), absolute
    QStringList notes;     // what is not KAVELO's to back up, e.g. a master database on a server
};

// Reads a program folder's settings into its Sources; an error when KAVELO.ini is missing or unusable.
using SourcesReader = std::function<platform::Result<Sources>(const QString& programFolder)>;

struct PlannedFile
{
    QString source; // absolute
    QString path;   // inside the backup
    qint64 size = 0;
};

// What one backup copies, found by walking the folders: the program folder whole but for what is not worth
// keeping (temporary files of transfers under way, the lock, a database's -wal, -shm and -journal, which the
// database's own copy makes whole), and the terminal folders, the backup tree and the databases that the settings
// put outside it. Symbolic links are left out (and noted): they may lead anywhere.
struct BackupPlan
{
    std::vector<ManifestItem> items;
    QStringList folders;
    std::vector<PlannedFile> files; // the databases the settings name first
    QStringList notes;
    qint64 bytes = 0;
};

platform::Result<BackupPlan> planBackup(const Sources& sources);

// True when `path` is `folder` or lies inside it (both absolute and clean).
bool isInside(const QString& path, const QString& folder);

} // namespace kavelo::backup

#endif
