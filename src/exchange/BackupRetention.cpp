#include "exchange/BackupRetention.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <functional>

namespace kavelo::exchange {

namespace {

constexpr int kReportedFailures = 5;

// Calls `visit` with each file of the backup tree whose name KAVELO gave it, its terminal and its time.
void forEachBackup(const FolderTree& tree, const std::function<void(const QFileInfo&, int, const QDateTime&)>& visit)
{
    static const QRegularExpression terminalId(QStringLiteral("^\\d{4,}$"));
    const QStringList terminals = QDir(tree.backupRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& id : terminals) {
        if (!terminalId.match(id).hasMatch()) {
            continue;
        }
        const QFileInfoList files = QDir(tree.backupFolder(id)).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
        for (const QFileInfo& file : files) {
            const QDateTime time = backupFileTime(file.fileName());
            if (time.isValid() && !file.isSymLink()) {
                visit(file, id.toInt(), time);
            }
        }
    }
}

} // namespace

QDateTime backupFileTime(const QString& name)
{
    static const QRegularExpression kavelos(QStringLiteral("^(\\d{14})_S_(HACH|TANA)\\.dat$"));
    const QRegularExpressionMatch match = kavelos.match(name);
    if (!match.hasMatch()) {
        return {};
    }
    return QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMddHHmmss"));
}

RetentionOutcome pruneBackupTree(const FolderTree& tree, int keepDays, const QDateTime& now, platform::FileOps& files)
{
    RetentionOutcome outcome;
    if (keepDays <= 0) {
        return outcome;
    }
    const QDateTime oldest = now.addDays(-keepDays);
    forEachBackup(tree, [&](const QFileInfo& file, int, const QDateTime& time) {
        if (time >= oldest) {
            return;
        }
        const qint64 size = file.size();
        const platform::Status removed = files.remove(file.filePath());
        if (removed.isOk()) {
            ++outcome.removed;
            outcome.bytes += size;
        } else if (++outcome.failed <= kReportedFailures) {
            outcome.failures << removed.message();
        }
    });
    return outcome;
}

std::map<int, QDateTime> newestBackups(const FolderTree& tree)
{
    std::map<int, QDateTime> newest;
    forEachBackup(tree, [&newest](const QFileInfo&, int terminal, const QDateTime& time) {
        QDateTime& known = newest[terminal];
        if (!known.isValid() || time > known) {
            known = time;
        }
    });
    return newest;
}

} // namespace kavelo::exchange
