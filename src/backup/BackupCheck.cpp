#include "backup/BackupCheck.h"

#include "backup/FileCopy.h"
#include "platform/Database.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace kavelo::backup {

using platform::Database;
using platform::Result;

namespace {

// The complaints of integrity_check beyond this many say nothing new.
constexpr int kMaxIntegrityLines = 10;

const QString kSettingsName = QStringLiteral("KAVELO.ini"); // at the top of a program folder, never of a backup

void checkFiles(const QString& folder, const Manifest& manifest, CheckReport& report)
{
    for (const QString& path : manifest.folders) {
        if (!QFileInfo(QDir(folder).filePath(path)).isDir()) {
            report.problems << QStringLiteral("%1: folder missing").arg(QDir(folder).filePath(path));
        }
    }
    for (const ManifestFile& file : manifest.files) {
        const QString path = QDir(folder).filePath(file.path);
        Result<FileDigest> digest = digestFile(path);
        ++report.filesChecked;
        if (!digest.isOk()) {
            report.problems << digest.status().message();
        } else if (digest->size != file.size) {
            report.problems
                << QStringLiteral("%1: %2 bytes, the manifest says %3").arg(path).arg(digest->size).arg(file.size);
        } else if (digest->sha256 != file.sha256) {
            report.problems << QStringLiteral("%1: its content differs from the manifest (SHA-256)").arg(path);
        } else if (file.database) {
            ++report.databasesChecked;
            report.problems << integrityProblems(path);
        }
    }
}

void checkBackup(const QString& folder, const SourcesReader& readSources, CheckReport& report)
{
    report.isBackup = true;
    Result<Manifest> manifest = Manifest::read(folder);
    if (!manifest.isOk()) {
        report.problems << manifest.status().message();
        return;
    }
    report.manifest = *manifest;
    report.notes = manifest->notes;
    checkFiles(folder, *manifest, report);
    Result<Sources> settings = readSources(QDir(folder).filePath(ManifestItem::kProgram));
    if (!settings.isOk()) {
        report.problems << settings.status().message();
    }
}

void checkProgramFolder(const QString& folder, const SourcesReader& readSources, CheckReport& report)
{
    Result<Sources> sources = readSources(folder);
    if (!sources.isOk()) {
        report.problems << sources.status().message();
        return;
    }
    report.notes = sources->notes;
    for (const QString& database : sources->databases) {
        if (!QFileInfo(database).isFile()) {
            report.problems << QStringLiteral("%1: database not found").arg(database);
            continue;
        }
        ++report.databasesChecked;
        report.problems << integrityProblems(database);
    }
}

} // namespace

QStringList integrityProblems(const QString& path)
{
    Result<std::unique_ptr<Database>> database = Database::openSqlite(path, Database::OpenMode::ReadOnly);
    if (!database.isOk()) {
        return {database.status().message()};
    }
    Result<std::unique_ptr<platform::Statement>> check =
        (*database)->prepare(QStringLiteral("PRAGMA integrity_check(%1)").arg(kMaxIntegrityLines));
    if (!check.isOk()) {
        return {check.status().message()};
    }
    QStringList problems;
    for (;;) {
        Result<bool> row = (*check)->step();
        if (!row.isOk()) {
            return problems << row.status().message();
        }
        if (!*row) {
            return problems;
        }
        const QString line = (*check)->text(0);
        if (line != QLatin1String("ok")) {
            problems << QStringLiteral("%1: integrity_check: %2").arg(path, line);
        }
    }
}

CheckReport checkFolder(const QString& folder, const SourcesReader& readSources)
{
    CheckReport report;
    const QDir dir(folder);
    if (!QFileInfo(folder).isDir()) {
        report.problems << QStringLiteral("%1: folder not found").arg(folder);
    } else if (dir.exists(Manifest::kFileName) || (dir.exists(ManifestItem::kProgram) && !dir.exists(kSettingsName)) ||
               QFileInfo(folder).fileName().endsWith(QLatin1String(".partial"))) {
        checkBackup(folder, readSources, report);
    } else {
        checkProgramFolder(folder, readSources, report);
    }
    return report;
}

} // namespace kavelo::backup
