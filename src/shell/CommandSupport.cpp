#include "shell/Commands.h"

#include "db/MasterStore.h"
#include "platform/Log.h"
#include "shell/Logging.h"

#include <QDir>
#include <QEventLoop>

namespace kavelo::shell {

platform::Result<Settings> startCommand(const CommandContext& context, const QString& commandName, bool logToStderr)
{
    installLogHandler(QDir(context.home).filePath(kLogFileName), logToStderr);
    qCInfo(lcShell).noquote() << "kavelo" << KAVELO_VERSION << commandName << "in" << context.home;
    platform::Result<Settings> settings = ReadSettings(context.home);
    if (!settings.isOk()) {
        qCCritical(lcShell).noquote() << settings.status().message();
        if (!logToStderr) {
            printError(settings.status().message());
        }
        return settings;
    }
    setLogRotation(settings->logMaxBytes, settings->logKeep);
    qCInfo(lcShell).noquote() << "settings read: DBname=" + db::describeDatabase(settings->DBPath)
                              << "DATA=" + settings->DataRoot;
    for (const QString& warning : settings->warnings) {
        qCWarning(lcShell).noquote() << warning;
    }
    return settings;
}

std::unique_ptr<jobs::JobRunner> jobRunner(const Settings& settings)
{
    return std::make_unique<jobs::JobRunner>(
        distribution::UpdateContext{db::StoreLocation(settings.DBPath, settings.dbSchema, settings.dbLockWait),
                                    exchange::FolderTree(settings.DataRoot, settings.programFolder)},
        import::ImportContext{db::StoreLocation(settings.importDb, settings.dbSchema, settings.dbLockWait),
                              settings.importDir});
}

void waitUntilIdle(jobs::JobRunner& runner)
{
    QEventLoop loop;
    QObject::connect(&runner, &jobs::JobRunner::stateChanged, &loop, [&loop, &runner] {
        if (!runner.busy()) {
            loop.quit();
        }
    });
    if (runner.busy()) {
        loop.exec();
    }
}

} // namespace kavelo::shell
