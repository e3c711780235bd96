#include "backup/BackupWriter.h"

#include "backup/FileCopy.h"
#include "platform/Database.h"
#include "platform/SystemError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavelo::backup {

using platform::Result;
using platform::Status;

namespace {

const QString kLockName = QStringLiteral(".kavelo-backup.lock");

bool isPartialName(const QString& name)
{
    return name.startsWith(QLatin1String(".kavelo-")) && name.endsWith(QLatin1String(".partial"));
}

// Makes `path` and any missing parent, naming the reason when the system refuses.
Status makePath(const QString& path, mode_t mode = 0777)
{
    if (QFileInfo(path).isDir()) {
        return Status::ok();
    }
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path) {
        Status made = makePath(parent);
        if (!made.isOk()) {
            return made;
        }
    }
    if (::mkdir(QFile::encodeName(path).constData(), mode) != 0 && errno != EEXIST) {
        return Status::error(
            QStringLiteral("%1: cannot create the folder: %2").arg(path, platform::systemReason(errno)));
    }
    return Status::ok();
}

// Copies the planned files into `target`, folder by folder as the plan lists them.
class Copier
{
  public:
    Copier(const BackupPlan& plan, QString target, const ProgressHook& progress)
        : m_plan(plan)
        , m_target(std::move(target))
        , m_progress(progress)
    {
        m_done.totalFiles = static_cast<int>(plan.files.size());
        m_done.totalBytes = plan.bytes;
    }

    Status copyAll(Manifest& manifest)
    {
        Status folders = makeFolders();
        if (!folders.isOk()) {
            return folders;
        }
        for (const PlannedFile& file : m_plan.files) {
            Status copied = copyOne(file, manifest);
            if (!copied.isOk()) {
                return copied;
            }
            ++m_done.files;
            m_done.bytes += file.size;
            if (m_progress) {
                m_progress(m_done);
            }
        }
        return Status::ok();
    }

  private:
    // Every folder, with the mode of the one it copies (a receive folder made writable for the host's collector
    // stays so when restored).
    Status makeFolders()
    {
        for (const QString& folder : m_plan.folders) {
            const QString path = m_target + QLatin1Char('/') + folder;
            if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0) {
                return Status::error(
                    QStringLiteral("%1: cannot create the folder: %2").arg(path, platform::systemReason(errno)));
            }
            const QString source = sourceOf(folder);
            struct stat info = {};
            if (!source.isEmpty() && ::stat(QFile::encodeName(source).constData(), &info) == 0) {
                ::chmod(QFile::encodeName(path).constData(), info.st_mode & 07777);
            }
        }
        return Status::ok();
    }

    QString sourceOf(const QString& folder) const
    {
        for (const ManifestItem& item : m_plan.items) {
            if (item.folder && (folder == item.name || folder.startsWith(item.name + QLatin1Char('/')))) {
                return item.source + folder.mid(item.name.size());
            }
        }
        return QString();
    }

    Status copyOne(const PlannedFile& file, Manifest& manifest)
    {
        const QString target = m_target + QLatin1Char('/') + file.path;
        Result<FileDigest> digest = copyFile(file.source, target, true);
        if (digest.isOk() && digest->database) {
            digest = copyDatabase(file.source, target);
        }
        if (!digest.isOk()) {
            return digest.status();
        }
        if (!digest->vanished) { // moved on while we copied (an upload filed, a staged master sent): not kept
            manifest.files.push_back(ManifestFile{file.path, digest->size, digest->sha256, digest->database});
        }
        return Status::ok();
    }

    static Result<FileDigest> copyDatabase(const QString& source, const QString& target)
    {
        int fd = -1;
        qint64 sent = 0;
        Status copied = platform::backupSqlite(source, target, [&](qint64 copiedBytes) {
            if (fd < 0) {
                fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC);
            }
            if (fd >= 0 && copiedBytes > sent) {
                writeBehind(fd, sent, copiedBytes - sent);
                sent = copiedBytes;
            }
        });
        if (fd >= 0) {
            ::close(fd);
        }
        if (!copied.isOk()) {
            return copied;
        }
        struct stat info = {};
        if (::stat(QFile::encodeName(source).constData(), &info) == 0) {
            ::chmod(QFile::encodeName(target).constData(), info.st_mode & 07777);
        }
        Result<FileDigest> digest = digestFile(target);
        if (digest.isOk()) {
            digest->database = true;
        }
        return digest;
    }

    const BackupPlan& m_plan;
    const QString m_target;
    const ProgressHook& m_progress;
    Progress m_done;
};

Status writeManifest(const Manifest& manifest, const QString& folder)
{
    QFile file(QDir(folder).filePath(Manifest::kFileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return Status::error(
            QStringLiteral("%1: cannot create the manifest: %2").arg(file.fileName(), platform::fileReason(file)));
    }
    Status written = platform::writeAll(file, manifest.toJson());
    if (written.isOk()) {
        written = platform::flushAll(file);
    }
    return written;
}

QString freeName(const QString& destination, const QDateTime& now)
{
    const QString base = QStringLiteral("kavelo-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(QDir(destination).filePath(name)); ++n) {
        name = base + QLatin1Char('-') + QString::number(n);
    }
    return name;
}

// Removes what a backup that was cut off (a crash, a power loss) left behind.
void removeStalePartials(const QString& destination, const QString& ours)
{
    const QStringList names = QDir(destination).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (isPartialName(name) && name != ours) {
            QDir(QDir(destination).filePath(name)).removeRecursively();
        }
    }
}

QStringList removeOlderCopies(const QString& destination, int keep)
{
    QStringList removed;
    if (keep <= 0) {
        return removed;
    }
    QStringList copies;
    for (const QString& name : QDir(destination).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (isBackupName(name)) {
            copies << name;
        }
    }
    // kavelo-yyyyMMdd-HHmmss sorts by time; a suffix -N sorts after its own second.
    while (copies.size() > keep) {
        const QString oldest = QDir(destination).filePath(copies.takeFirst());
        if (QDir(oldest).removeRecursively()) {
            removed << oldest;
        }
    }
    return removed;
}

} // namespace

bool isBackupName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^kavelo-\\d{8}-\\d{6}(-\\d+)?$"));
    return pattern.match(name).hasMatch();
}

Result<BackupReport> writeBackup(const Sources& sources, const BackupOptions& options)
{
    const QString destination = QDir::cleanPath(QDir(options.destination).absolutePath());
    Result<BackupPlan> plan = planBackup(sources);
    if (!plan.isOk()) {
        return plan.status();
    }
    for (const ManifestItem& item : plan->items) {
        if (item.folder && isInside(destination, item.source)) {
            return Status::error(QStringLiteral("%1 lies inside %2: a backup cannot be written into what it backs up")
                                     .arg(destination, item.source));
        }
    }
    Status made = makePath(destination);
    if (!made.isOk()) {
        return made;
    }
    // Made before the lock, so that a full or read-only destination is named with the system's reason.
    const QString partialName = QStringLiteral(".kavelo-%1-%2.partial")
                                    .arg(options.now.toString(QStringLiteral("yyyyMMdd-HHmmss")))
                                    .arg(QCoreApplication::applicationPid());
    const QString partial = QDir(destination).filePath(partialName);
    made = makePath(partial, 0700);
    if (!made.isOk()) {
        return made;
    }
    QLockFile lock(QDir(destination).filePath(kLockName));
    if (!lock.tryLock(0)) {
        QDir(partial).removeRecursively();
        return Status::error(QStringLiteral("%1: another backup is being written there").arg(destination));
    }
    removeStalePartials(destination, partialName);

    Manifest manifest;
    manifest.kaveloVersion = QStringLiteral(KAVELO_VERSION);
    manifest.createdAt = options.now;
    manifest.programFolder = QDir::cleanPath(sources.programFolder);
    manifest.items = plan->items;
    manifest.folders = plan->folders;
    manifest.notes = plan->notes;
    Copier copier(*plan, partial, options.progress);
    Status written = copier.copyAll(manifest);
    if (written.isOk()) {
        written = writeManifest(manifest, partial);
    }
    if (written.isOk()) {
        written = syncFileSystem(partial);
    }
    const QString folder = QDir(destination).filePath(freeName(destination, options.now));
    if (written.isOk() &&
        std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(folder).constData()) != 0) {
        written = Status::error(
            QStringLiteral("%1: cannot rename to %2: %3").arg(partial, folder, platform::systemReason(errno)));
    }
    if (!written.isOk()) {
        QDir(partial).removeRecursively();
        return written.prefixed(QStringLiteral("backup failed, nothing kept: "));
    }
    Status synced = syncFolder(destination);
    if (!synced.isOk()) {
        return synced;
    }

    BackupReport report;
    report.folder = folder;
    report.notes = plan->notes;
    for (const ManifestFile& file : manifest.files) {
        ++report.files;
        report.bytes += file.size;
        report.databases += file.database ? 1 : 0;
    }
    report.removedCopies = removeOlderCopies(destination, options.keepCopies);
    return report;
}

} // namespace kavelo::backup
