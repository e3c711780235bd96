#ifndef KAVELO_SHELL_COMMANDS_H
#define KAVELO_SHELL_COMMANDS_H

#include "backup/BackupPlan.h"
#include "jobs/JobRunner.h"
#include "platform/Status.h"
#include "shell/Settings.h"

#include <QString>
#include <QStringList>

namespace kavelo::shell {

// Exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // the work failed (a file, the database, a terminal)
constexpr int kExitUsage = 2;  // wrong command line, or no usable settings file

struct CommandContext
{
    QString home;     // absolute program folder; also the working folder
    QStringList args; // arguments after the command name, options already removed
    int argc = 0;     // the process's own, for QApplication
    char** argv = nullptr;
};

// Each command is one function in a file of its own; the window's is in the window's library (gui::runWindow).
int runInit(const CommandContext& context);
int runUpdate(const CommandContext& context);
int runImport(const CommandContext& context);
int runPoll(const CommandContext& context);
int runHeadless(const CommandContext& context);
int runBackup(const CommandContext& context);
int runVerify(const CommandContext& context);
int runRestore(const CommandContext& context);
int runTerminal(const CommandContext& context);

// Where a program folder's data lives for a backup, from its KAVELO.ini: the databases (a database on a server is
// noted, not backed up) and DATA.
platform::Result<backup::Sources> readBackupSources(const QString& programFolder);

// The program folder's absolute path: `requested`, or the folder of the executable.
QString programFolderPath(const QString& requested);
// Resolves the program folder (`requested`, or the folder of the executable) and makes it the working folder.
// `create` makes a missing folder (init). On failure prints the error and returns false.
bool enterHome(CommandContext& context, const QString& requested, bool create);

// Shared by the commands: logs to kavelo.log (and stderr), reads KAVELO.ini, logs its warnings. On failure prints
// the one-line error and returns the status; the command then exits with kExitUsage.
platform::Result<Settings> startCommand(const CommandContext& context, const QString& commandName, bool logToStderr);

// The job runner of the service or of a command, working where the settings say.
std::unique_ptr<jobs::JobRunner> jobRunner(const Settings& settings);
// Serves the command's event loop (a job's progress and outcome) until the runner has no job left.
void waitUntilIdle(jobs::JobRunner& runner);

// One line on stderr, prefixed "kavelo: ".
void printError(const QString& message);
void printLine(const QString& message);

} // namespace kavelo::shell

#endif
