#include "shell/Commands.h"

#include "backup/BackupCheck.h"
#include "backup/BackupRestore.h"
#include "backup/BackupWriter.h"
#include "platform/Log.h"
#include "shell/Logging.h"

#include <QDir>
#include <QElapsedTimer>

#include <QFile>

#include <cstdio>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavelo::shell {

namespace {

// A copy shorter than this shows no progress; on a terminal the line is rewritten at most every 200 ms, elsewhere
// (the journal of the nightly backup) a line is written every 10 s.
constexpr qint64 kQuietMs = 1000;
constexpr qint64 kTerminalEveryMs = 200;
constexpr qint64 kLogEveryMs = 10000;

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / 1e6, 0, 'f', 1);
}

// The progress of a long copy on stderr.
class ProgressLine
{
  public:
    explicit ProgressLine(QString what)
        : m_what(std::move(what))
        , m_terminal(::isatty(STDERR_FILENO) != 0)
    {
        m_clock.start();
    }
    ~ProgressLine() { finish(); }

    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(const backup::Progress& progress)
    {
        const qint64 now = m_clock.elapsed();
        if (now < kQuietMs || now - m_shownAt < (m_terminal ? kTerminalEveryMs : kLogEveryMs)) {
            return;
        }
        m_shownAt = now;
        const QString line = QStringLiteral("%1: %2 of %3 files, %4 of %5")
                                 .arg(m_what)
                                 .arg(progress.files)
                                 .arg(progress.totalFiles)
                                 .arg(megabytes(progress.bytes), megabytes(progress.totalBytes));
        if (m_terminal) {
            std::fprintf(stderr, "\rkavelo: %s   ", line.toLocal8Bit().constData());
            m_open = true;
            std::fflush(stderr);
        } else {
            writeStderrLine(QtInfoMsg, QStringLiteral("kavelo: ") + line);
        }
    }

    void finish()
    {
        if (m_open) {
            std::fputc('\n', stderr);
            std::fflush(stderr);
            m_open = false;
        }
    }

    qint64 elapsedMs() const { return m_clock.elapsed(); }

  private:
    QString m_what;
    bool m_terminal;
    bool m_open = false;
    qint64 m_shownAt = 0;
    QElapsedTimer m_clock;
};

bool isServerDatabase(const QString& name)
{
    return name.startsWith(QLatin1String("postgresql://")) || name.startsWith(QLatin1String("postgres://"));
}

// What verify looked at, for its last line.
QString checkedWhat(const backup::CheckReport& report)
{
    if (report.manifest) {
        return QStringLiteral("backup of %1 from %2, %3 files, %4 databases")
            .arg(report.manifest->programFolder,
                 report.manifest->createdAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .arg(report.filesChecked)
            .arg(report.databasesChecked);
    }
    if (report.isBackup) {
        return QStringLiteral("backup");
    }
    return QStringLiteral("program folder, %1 databases").arg(report.databasesChecked);
}

} // namespace

platform::Result<backup::Sources> readBackupSources(const QString& programFolder)
{
    platform::Result<Settings> settings = ReadSettings(programFolder);
    if (!settings.isOk()) {
        return settings.status();
    }
    backup::Sources sources;
    sources.programFolder = QDir::cleanPath(QDir(programFolder).absolutePath());
    sources.dataRoot = settings->DataRoot;
    const std::pair<QString, QString> databases[] = {{kKeyDbName, settings->DBPath},
                                                     {kKeyImportDb, settings->importDb}};
    for (const auto& [key, name] : databases) {
        if (isServerDatabase(name)) {
            // The address is not repeated: it may carry a user name.
            sources.notes << QStringLiteral(
                                 "%1 names a database on a server: it is not KAVELO's to back up; back it up "
                                 "with the server's own tools (pg_dump)")
                                 .arg(key);
            continue;
        }
        const QString path = name.isEmpty() ? QString() : QDir::cleanPath(QDir(programFolder).absoluteFilePath(name));
        if (!path.isEmpty() && !sources.databases.contains(path)) {
            sources.databases << path;
        }
    }
    return sources;
}

int runBackup(const CommandContext& context)
{
    if (context.args.size() != 1) {
        printError(QStringLiteral("backup needs one destination folder: kavelo backup DEST [--home DIR]"));
        return kExitUsage;
    }
    // Root would leave files of its own in the service's folder (a rotated log, the database's shared memory),
    // which the service could then not write.
    struct stat folder = {};
    if (::geteuid() == 0 && ::stat(QFile::encodeName(context.home).constData(), &folder) == 0 && folder.st_uid != 0) {
        const struct passwd* owner = ::getpwuid(folder.st_uid);
        const QString user = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(folder.st_uid);
        printError(QStringLiteral("%1 belongs to the user %2: run the backup as that user, for example runuser -u %2 "
                                  "-- kavelo backup %3 --home %1")
                       .arg(context.home, user, context.args.front()));
        return kExitUsage;
    }
    platform::Result<Settings> settings = startCommand(context, QStringLiteral("backup"), false);
    if (!settings.isOk()) {
        return kExitUsage;
    }
    platform::Result<backup::Sources> sources = readBackupSources(context.home);
    if (!sources.isOk()) {
        printError(sources.status().message());
        return kExitUsage;
    }
    ProgressLine progress(QStringLiteral("backup"));
    backup::BackupOptions options;
    options.destination = context.args.front();
    options.keepCopies = settings->backupCopies;
    options.now = QDateTime::currentDateTime();
    options.progress = [&progress](const backup::Progress& done) { progress.update(done); };
    platform::Result<backup::BackupReport> report = backup::writeBackup(*sources, options);
    progress.finish();
    if (!report.isOk()) {
        qCCritical(lcShell).noquote() << report.status().message();
        printError(report.status().message());
        return kExitFailed;
    }
    const QString summary = QStringLiteral("backup written: %1 (%2 files, %3 databases, %4, %5 s)")
                                .arg(report->folder)
                                .arg(report->files)
                                .arg(report->databases)
                                .arg(megabytes(report->bytes))
                                .arg(static_cast<double>(progress.elapsedMs()) / 1000.0, 0, 'f', 1);
    qCInfo(lcShell).noquote() << summary;
    printLine(summary);
    for (const QString& note : report->notes) {
        qCWarning(lcShell).noquote() << "backup:" << note;
        printLine(QStringLiteral("note: ") + note);
    }
    for (const QString& removed : report->removedCopies) {
        qCInfo(lcShell).noquote() << "backup: removed the older backup" << removed;
        printLine(
            QStringLiteral("removed the older backup %1 (BackupCopies=%2)").arg(removed).arg(settings->backupCopies));
    }
    return kExitOk;
}

int runVerify(const CommandContext& context)
{
    if (context.args.size() != 1) {
        printError(QStringLiteral("verify needs one folder, a backup or a program folder: kavelo verify DIR"));
        return kExitUsage;
    }
    const QString folder = context.args.front();
    const backup::CheckReport report = backup::checkFolder(folder, readBackupSources);
    for (const QString& problem : report.problems) {
        printError(problem);
    }
    for (const QString& note : report.notes) {
        printLine(QStringLiteral("note: ") + note);
    }
    const QString what = checkedWhat(report);
    if (!report.sound()) {
        printError(QStringLiteral("%1: %2: %3 %4")
                       .arg(folder, what)
                       .arg(report.problems.size())
                       .arg(report.problems.size() == 1 ? QStringLiteral("problem") : QStringLiteral("problems")));
        return kExitFailed;
    }
    printLine(QStringLiteral("%1: %2: sound").arg(folder, what));
    return kExitOk;
}

int runRestore(const CommandContext& context)
{
    if (context.args.size() != 1) {
        printError(QStringLiteral("restore needs one backup folder: kavelo restore SRC [--home DIR]"));
        return kExitUsage;
    }
    ProgressLine progress(QStringLiteral("restore"));
    backup::RestoreOptions options;
    options.backupFolder = context.args.front();
    options.programFolder = context.home;
    options.now = QDateTime::currentDateTime();
    options.progress = [&progress](const backup::Progress& done) { progress.update(done); };
    platform::Result<backup::RestoreReport> report = backup::restoreBackup(options, readBackupSources);
    progress.finish();
    if (!report.isOk()) {
        printError(report.status().message());
        return kExitFailed;
    }
    // The restored folder's own log tells what happened to it.
    installLogHandler(QDir(context.home).filePath(kLogFileName), false);
    const QString summary =
        QStringLiteral("restored %1 from %2").arg(report->restored.join(QStringLiteral(", ")), options.backupFolder);
    qCInfo(lcShell).noquote() << summary;
    printLine(summary);
    for (const QString& aside : report->keptAside) {
        qCInfo(lcShell).noquote() << "restore: the folder before is kept as" << aside;
        printLine(QStringLiteral("kept aside: %1 (remove it once the restored one serves)").arg(aside));
    }
    for (const QString& part : report->notRestored) {
        printLine(QStringLiteral("not restored: %1").arg(part));
    }
    return kExitOk;
}

} // namespace kavelo::shell
