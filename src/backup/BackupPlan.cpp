#include "backup/BackupPlan.h"

#include "platform/FolderLock.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace kavelo::backup {

using platform::Result;
using platform::Status;

namespace {

// Files of transfers under way: an upload being received, a master being compressed for sending, a copy that is
// renamed into place once complete.
bool isTemporary(const QString& name)
{
    return name.startsWith(QLatin1String(".kavelo-")) ||
           (name.startsWith(QLatin1Char('.')) && name.endsWith(QLatin1String(".part")));
}

// A database's write-ahead log, shared memory or rollback journal, beside the database itself.
bool isDatabaseSideFile(const QString& name, const QSet<QString>& names)
{
    for (const QLatin1String suffix : {QLatin1String("-wal"), QLatin1String("-shm"), QLatin1String("-journal")}) {
        if (name.endsWith(suffix) && names.contains(name.chopped(suffix.size()))) {
            return true;
        }
    }
    return false;
}

void walk(const QString& folder, const QString& path, BackupPlan& plan)
{
    plan.folders << path;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    QSet<QString> names;
    for (const QFileInfo& entry : entries) {
        names.insert(entry.fileName());
    }
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (entry.isSymLink()) {
            plan.notes << QStringLiteral("left out, a symbolic link: %1").arg(entry.absoluteFilePath());
        } else if (entry.isDir()) {
            walk(entry.absoluteFilePath(), path + QLatin1Char('/') + name, plan);
        } else if (entry.isFile() && name != platform::FolderLock::kFileName && !isTemporary(name) &&
                   !isDatabaseSideFile(name, names)) {
            plan.files.push_back(PlannedFile{entry.absoluteFilePath(), path + QLatin1Char('/') + name, entry.size()});
            plan.bytes += entry.size();
        }
    }
}

// Adds an item from outside the program folder; its name.
QString addOutsideItem(BackupPlan& plan, const QString& source, bool folder)
{
    const QString outside = QStringLiteral("outside");
    if (!plan.folders.contains(outside)) {
        plan.folders << outside;
    }
    const QString name = QStringLiteral("%1/%2").arg(outside).arg(plan.items.size());
    plan.items.push_back(ManifestItem{name, source, folder});
    return name;
}

// The terminal folders and the backup tree under DATA, when DATA lies outside the program folder. DATA is a plain
// prefix: "/srv/HT/" gives /srv/HT/0001 ..., "/srv/HT" gives /srv/HT0001 ... and /srv/HTbackup.
void addDataFolders(const Sources& sources, BackupPlan& plan)
{
    const QString root = QDir(sources.programFolder).absoluteFilePath(QDir::fromNativeSeparators(sources.dataRoot));
    const bool isFolder = sources.dataRoot.isEmpty() || root.endsWith(QLatin1Char('/'));
    const QString base = isFolder ? QDir::cleanPath(root) : QFileInfo(root).absolutePath();
    const QString prefix = isFolder ? QString() : QFileInfo(root).fileName();
    if (isInside(base, sources.programFolder)) {
        return;
    }
    const QRegularExpression kavelos(QStringLiteral("^%1(\\d{4,}|backup)$").arg(QRegularExpression::escape(prefix)));
    const QFileInfoList entries = QDir(base).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!entry.isSymLink() && kavelos.match(entry.fileName()).hasMatch()) {
            walk(entry.absoluteFilePath(), addOutsideItem(plan, entry.absoluteFilePath(), true), plan);
        }
    }
}

void addOutsideDatabases(const Sources& sources, BackupPlan& plan)
{
    for (const QString& database : sources.databases) {
        const bool covered = std::any_of(plan.items.cbegin(), plan.items.cend(), [&](const ManifestItem& item) {
            return item.folder && isInside(database, item.source);
        });
        if (covered) {
            continue;
        }
        const QFileInfo info(database);
        if (!info.isFile()) {
            plan.notes << QStringLiteral("the database %1 does not exist: nothing of it to back up").arg(database);
            continue;
        }
        const QString name = addOutsideItem(plan, database, false);
        plan.folders << name;
        plan.files.push_back(PlannedFile{database, name + QLatin1Char('/') + info.fileName(), info.size()});
        plan.bytes += info.size();
    }
}

} // namespace

bool isInside(const QString& path, const QString& folder)
{
    const QString p = QDir::cleanPath(path);
    const QString f = QDir::cleanPath(folder);
    return p == f || p.startsWith(f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/'));
}

Result<BackupPlan> planBackup(const Sources& sources)
{
    if (!QFileInfo(sources.programFolder).isDir()) {
        return Status::error(QStringLiteral("%1: program folder not found").arg(sources.programFolder));
    }
    BackupPlan plan;
    plan.notes = sources.notes;
    plan.items.push_back(ManifestItem{ManifestItem::kProgram, QDir::cleanPath(sources.programFolder), true});
    walk(sources.programFolder, ManifestItem::kProgram, plan);
    addDataFolders(sources, plan);
    addOutsideDatabases(sources, plan);
    // The databases first: whatever a terminal uploads while the rest is copied is then filed after them.
    std::stable_partition(plan.files.begin(), plan.files.end(), [&](const PlannedFile& file) {
        return sources.databases.contains(file.source);
    });
    return plan;
}

} // namespace kavelo::backup
