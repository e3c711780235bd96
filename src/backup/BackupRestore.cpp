#include "backup/BackupRestore.h"

#include "backup/BackupCheck.h"
#include "backup/FileCopy.h"
#include "platform/FolderLock.h"
#include "platform/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace kavelo::backup {

using platform::Result;
using platform::Status;

namespace {

// Problems of an unsound backup shown in the refusal; the rest are counted.
constexpr int kShownProblems = 5;
const QStringList kDatabaseSideSuffixes{QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};

struct Owner
{
    uid_t uid;
    gid_t gid;
};

// One part of the backup on its way to its place.
struct Part
{
    const ManifestItem* item;
    QString place;   // where it goes
    QString staging; // where it is copied first
};

QByteArray local(const QString& path)
{
    return QFile::encodeName(path);
}

Status renameTo(const QString& from, const QString& to)
{
    if (std::rename(local(from).constData(), local(to).constData()) != 0) {
        return Status::error(
            QStringLiteral("%1: cannot rename to %2: %3").arg(from, to, platform::systemReason(errno)));
    }
    return Status::ok();
}

// Copies the files of one part out of the backup, each checked against the manifest.
class Stager
{
  public:
    Stager(const QString& backup, const Manifest& manifest, const ProgressHook& progress)
        : m_backup(backup)
        , m_manifest(manifest)
        , m_progress(progress)
    {
        m_done.totalFiles = static_cast<int>(manifest.files.size());
        for (const ManifestFile& file : manifest.files) {
            m_done.totalBytes += file.size;
        }
    }

    void setOwner(std::optional<Owner> owner) { m_owner = owner; }

    Status stage(const Part& part)
    {
        const ManifestItem& item = *part.item;
        if (item.folder) {
            for (const QString& folder : m_manifest.folders) {
                if (folder == item.name || folder.startsWith(item.name + QLatin1Char('/'))) {
                    Status made =
                        makeFolder(QDir(m_backup).filePath(folder), part.staging + folder.mid(item.name.size()));
                    if (!made.isOk()) {
                        return made;
                    }
                }
            }
        }
        for (const ManifestFile& file : m_manifest.files) {
            if (m_manifest.itemOf(file.path) == &item) {
                Status copied = copy(file, item.folder ? part.staging + file.path.mid(item.name.size()) : part.staging);
                if (!copied.isOk()) {
                    return copied;
                }
            }
        }
        return Status::ok();
    }

  private:
    Status makeFolder(const QString& from, const QString& path)
    {
        struct stat info = {};
        if (::stat(local(from).constData(), &info) != 0 || ::mkdir(local(path).constData(), 0700) != 0 ||
            ::chmod(local(path).constData(), info.st_mode & 07777) != 0) {
            return Status::error(
                QStringLiteral("%1: cannot create the folder: %2").arg(path, platform::systemReason(errno)));
        }
        return giveOwner(path);
    }

    Status copy(const ManifestFile& file, const QString& target)
    {
        const QString source = QDir(m_backup).filePath(file.path);
        Result<FileDigest> digest = copyFile(source, target, false);
        if (!digest.isOk()) {
            return digest.status();
        }
        if (digest->vanished || digest->size != file.size || digest->sha256 != file.sha256) {
            return Status::error(QStringLiteral("%1: changed since it was checked").arg(source));
        }
        ++m_done.files;
        m_done.bytes += file.size;
        if (m_progress) {
            m_progress(m_done);
        }
        return giveOwner(target);
    }

    Status giveOwner(const QString& path)
    {
        if (m_owner && ::lchown(local(path).constData(), m_owner->uid, m_owner->gid) != 0) {
            return Status::error(QStringLiteral("%1: cannot give it the owner of the folder it replaces: %2")
                                     .arg(path, platform::systemReason(errno)));
        }
        return Status::ok();
    }

    const QString& m_backup;
    const Manifest& m_manifest;
    const ProgressHook& m_progress;
    std::optional<Owner> m_owner;
    Progress m_done;
};

// Root restoring a folder of the service's user gives the copies that user, or the service could not write them.
std::optional<Owner> ownerFor(const QString& place)
{
    struct stat info = {};
    if (::geteuid() != 0 || ::lstat(local(place).constData(), &info) != 0 || info.st_uid == 0) {
        return std::nullopt;
    }
    return Owner{info.st_uid, info.st_gid};
}

void removeStaging(const Part& part)
{
    if (part.item->folder) {
        QDir(part.staging).removeRecursively();
    } else {
        QFile::remove(part.staging);
    }
}

// The renames that put a staged part in its place, the old one first set aside; a database file takes its -wal
// and -shm with it, which belong to the old database and would spoil the restored one.
Result<QString> swapIn(const Part& part, const QString& aside)
{
    const bool replacing = QFileInfo::exists(part.place) || QFileInfo(part.place).isSymLink();
    if (replacing) {
        Status moved = renameTo(part.place, aside);
        if (!moved.isOk()) {
            return moved;
        }
        for (const QString& suffix : part.item->folder ? QStringList() : kDatabaseSideSuffixes) {
            if (QFileInfo::exists(part.place + suffix)) {
                static_cast<void>(renameTo(part.place + suffix, aside + suffix));
            }
        }
    }
    Status placed = renameTo(part.staging, part.place);
    if (!placed.isOk()) {
        if (replacing) {
            static_cast<void>(renameTo(aside, part.place));
        }
        return placed;
    }
    static_cast<void>(syncFolder(QFileInfo(part.place).absolutePath()));
    return replacing ? aside : QString();
}

Status stagePart(Stager& stager, const Part& part)
{
    if (QFileInfo::exists(part.staging)) {
        return Status::error(QStringLiteral("%1 is in the way").arg(part.staging));
    }
    stager.setOwner(ownerFor(part.place));
    Status staged = stager.stage(part);
    if (!staged.isOk()) {
        return staged;
    }
    return syncFileSystem(QFileInfo(part.staging).absolutePath());
}

Status refuseUnsound(const QString& backup, const CheckReport& check)
{
    if (!check.isBackup) {
        return Status::error(QStringLiteral("%1 is not a backup (it has no %2)").arg(backup, Manifest::kFileName));
    }
    QStringList shown = check.problems.mid(0, kShownProblems);
    if (check.problems.size() > kShownProblems) {
        shown << QStringLiteral("%1 more").arg(check.problems.size() - kShownProblems);
    }
    return Status::error(QStringLiteral("%1 is not a sound backup, nothing was restored: %2")
                             .arg(backup, shown.join(QStringLiteral("; "))));
}

} // namespace

Result<RestoreReport> restoreBackup(const RestoreOptions& options, const SourcesReader& readSources)
{
    const QString backup = QDir::cleanPath(QDir(options.backupFolder).absolutePath());
    const QString target = QDir::cleanPath(QDir(options.programFolder).absolutePath());
    const CheckReport check = checkFolder(backup, readSources);
    if (!check.sound() || !check.manifest) {
        return refuseUnsound(backup, check);
    }
    const Manifest& manifest = *check.manifest;
    std::unique_ptr<platform::FolderLock> lock;
    if (QFileInfo(target).isDir()) {
        Result<std::unique_ptr<platform::FolderLock>> opened = platform::FolderLock::open(target);
        if (!opened.isOk()) {
            return opened.status();
        }
        lock = std::move(*opened);
        if (!lock->tryLock(platform::FolderLock::Mode::Exclusive)) {
            return Status::error(platform::FolderLock::busyReason(target, platform::FolderLock::Mode::Exclusive));
        }
    } else if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        return Status::error(QStringLiteral("%1: cannot create the folder").arg(QFileInfo(target).absolutePath()));
    }

    const QString stamp = options.now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const bool samePlace = target == QDir::cleanPath(manifest.programFolder);
    RestoreReport report;
    std::vector<Part> parts;
    for (const ManifestItem& item : manifest.items) {
        const bool program = item.name == ManifestItem::kProgram;
        if (!program && !samePlace) {
            report.notRestored << QStringLiteral("%1 (from outside the program folder; it is in %2)")
                                      .arg(item.source, QDir(backup).filePath(item.name));
            continue;
        }
        const QString place = program ? target : item.source;
        parts.push_back(Part{&item, place, place + QStringLiteral(".restoring-") + stamp});
    }

    Stager stager(backup, manifest, options.progress);
    for (const Part& part : parts) {
        Status staged = stagePart(stager, part);
        if (!staged.isOk()) {
            for (const Part& done : parts) {
                removeStaging(done);
            }
            return staged.prefixed(QStringLiteral("restore failed, nothing was changed: "));
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        const Part& part = parts[i];
        Result<QString> aside = swapIn(part, part.place + QStringLiteral(".before-restore-") + stamp);
        if (!aside.isOk()) {
            for (size_t rest = i; rest < parts.size(); ++rest) {
                removeStaging(parts[rest]);
            }
            return aside.status().prefixed(
                QStringLiteral("restore stopped after %1 of %2 parts: ").arg(report.restored.size()).arg(parts.size()));
        }
        report.restored << part.place;
        if (!aside->isEmpty()) {
            report.keptAside << *aside;
        }
    }
    return report;
}

} // namespace kavelo::backup
