#ifndef KAVELO_BACKUP_BACKUPCHECK_H
#define KAVELO_BACKUP_BACKUPCHECK_H

#include "backup/BackupPlan.h"
#include "backup/Manifest.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kavelo::backup {

// What `kavelo verify` found in a folder.
struct CheckReport
{
    bool isBackup = false;
    std::optional<Manifest> manifest; // a backup's, when it could be read
    int filesChecked = 0;
    int databasesChecked = 0;
    QStringList problems; // each names the file and what is wrong; none: sound
    QStringList notes;    // worth knowing, not wrong

    bool sound() const { return problems.isEmpty(); }
};

// Checks a backup (a folder with a manifest) or a program folder. A backup: every file of the manifest is there
// with its size and SHA-256, every database passes SQLite's integrity_check, and its KAVELO.ini is readable. A
// program folder: its KAVELO.ini is readable and the databases it names pass integrity_check. A folder that looks
// like a backup without its manifest (one cut off while it was written) is not sound. Nothing is written.
CheckReport checkFolder(const QString& folder, const SourcesReader& readSources);

// SQLite's integrity_check of the database at `path`, opened for reading only: its complaints, none when sound.
QStringList integrityProblems(const QString& path);

} // namespace kavelo::backup

#endif
