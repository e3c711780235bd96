#ifndef KAVELO_BACKUP_MANIFEST_H
#define KAVELO_BACKUP_MANIFEST_H

#include "platform/Status.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace kavelo::backup {

// A top-level piece of a backup and where it came from. "program" is the program folder; "outside/1", ... are
// folders or database files that the settings place outside it (DATA or DBname elsewhere), each kept under its
// name: a folder's content directly, a file as "outside/N/<its name>".
struct ManifestItem
{
    static inline const QString kProgram = QStringLiteral("program");

    QString name;
    QString source; // absolute path of the folder or file backed up
    bool folder = true;
};

// One file of a backup, by its path inside the backup ("program/HT/0000/MasterConv.db").
struct ManifestFile
{
    QString path;
    qint64 size = 0;
    QByteArray sha256;     // lower-case hex
    bool database = false; // an SQLite database, copied with the online backup API
};

// What a backup holds, written last as "manifest.json": a backup folder without it is not a backup.
struct Manifest
{
    static inline const QString kFileName = QStringLiteral("manifest.json");
    static constexpr int kFormat = 1;

    QString kaveloVersion;
    QDateTime createdAt;
    QString programFolder;
    std::vector<ManifestItem> items;
    QStringList folders; // every folder inside the items, empty ones too, by path inside the backup
    std::vector<ManifestFile> files;
    QStringList notes; // what the backup leaves out and why

    QByteArray toJson() const;
    // Reads the manifest of the backup in `backupFolder`; an error names what is wrong with it.
    static platform::Result<Manifest> read(const QString& backupFolder);

    // The item a path inside the backup belongs to; null when none.
    const ManifestItem* itemOf(const QString& path) const;
};

} // namespace kavelo::backup

#endif
