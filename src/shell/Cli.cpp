#include "shell/Cli.h"

#include "shell/Commands.h"

#include "platform/FolderLock.h"
#include "shell/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

namespace kavelo::shell {

namespace {

const char* const kUsage =
    "Usage:\n"
    "  kavelo [--home DIR]               open the window and serve the terminals\n"
    "  kavelo --headless [--home DIR]    serve the terminals without a window (logs to stderr)\n"
    "  kavelo init [--home DIR]          create KAVELO.ini, the terminal folders and the database tables\n"
    "  kavelo update MASTER TERMINAL [--home DIR]\n"
    "                                    apply a terminal's update file MASTER.dat and write MASTER.csv\n"
    "  kavelo import MASTER [--home DIR] import the host file MASTER.DAT into the import database\n"
    "  kavelo poll [--home DIR]          look for update files of terminals 1 to 11 once, now\n"
    "  kavelo backup DEST [--home DIR]   write a backup of the program folder into DEST/kavelo-<time>, while\n"
    "                                    KAVELO may serve; keeps the newest BackupCopies backups in DEST\n"
    "  kavelo verify DIR                 check a backup or a program folder (files, databases, KAVELO.ini)\n"
    "  kavelo restore SRC [--home DIR]   put the backup SRC in place of the program folder, which KAVELO must\n"
    "                                    not be using; the folder it replaces is kept as DIR.before-restore-<time>\n"
    "  kavelo terminal enroll N [--host H] [--qr FILE.png] [--home DIR]\n"
    "                                    give terminal N a key and show its enrollment QR code\n"
    "  kavelo terminal revoke N | list [--home DIR]\n"
    "                                    forget terminal N's key; list the enrolled terminals\n"
    "                                    (kavelo terminal --help tells more)\n"
    "  kavelo --help | --version\n"
    "\n"
    "MASTER is one of BUNMAS TENMAS SIRMAS TOKMAS SHOMAS JISYA.\n"
    "DIR is the program folder: it holds KAVELO.ini and kavelo.log, the terminals' keys (terminal-keys.txt)\n"
    "and the HTTPS certificate (tls/); received files land there and master files are staged there for the\n"
    "terminals. Default: the folder of the kavelo executable.\n"
    "While KAVELO serves, SIGHUP (systemctl reload kavelo) reads KAVELO.ini and the terminal keys again;\n"
    "what cannot change while it runs (DBname, DATA, ...) waits for a restart. SIGTERM stops --headless\n"
    "cleanly.\n"
    "DBname and ImportDB in KAVELO.ini are SQLite files, or PostgreSQL databases (postgresql://...) whose\n"
    "schema DBSchema holds the tables; init, update, import and the poll work on either.\n"
    "\n"
    "Exit codes: 0 success, 1 the work failed (verify: the folder is not sound), 2 wrong command line or no\n"
    "usable KAVELO.ini.\n";

struct ParsedArgs
{
    QString command;
    QStringList args;
    QString home;
    bool headless = false;
    bool help = false;
    bool version = false;
    QString error;
};

ParsedArgs parseArgs(int argc, char** argv)
{
    ParsedArgs parsed;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const bool terminalCommand = parsed.command == QLatin1String("terminal");
        if (terminalCommand && arg != QLatin1String("--home") && !arg.startsWith(QLatin1String("--home="))) {
            parsed.args << arg; // its own options, --help included
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            parsed.help = true;
        } else if (arg == QLatin1String("--version")) {
            parsed.version = true;
        } else if (arg == QLatin1String("--headless")) {
            parsed.headless = true;
        } else if (arg == QLatin1String("--home")) {
            if (i + 1 >= argc) {
                parsed.error = QStringLiteral("--home needs a folder");
                return parsed;
            }
            parsed.home = QString::fromLocal8Bit(argv[++i]);
        } else if (arg.startsWith(QLatin1String("--home="))) {
            parsed.home = arg.mid(7);
        } else if (arg.startsWith(QLatin1String("-")) && arg.size() > 1) {
            parsed.error = QStringLiteral("unknown option %1").arg(arg);
            return parsed;
        } else if (parsed.command.isEmpty()) {
            parsed.command = arg;
        } else {
            parsed.args << arg;
        }
    }
    static const QStringList kCommands = {QStringLiteral("init"),
                                          QStringLiteral("update"),
                                          QStringLiteral("import"),
                                          QStringLiteral("poll"),
                                          QStringLiteral("backup"),
                                          QStringLiteral("verify"),
                                          QStringLiteral("restore"),
                                          QStringLiteral("terminal")};
    if (!parsed.command.isEmpty() && !kCommands.contains(parsed.command)) {
        parsed.error = QStringLiteral("unknown command %1").arg(parsed.command);
    } else if (parsed.headless && !parsed.command.isEmpty()) {
        parsed.error = QStringLiteral("--headless does not go with a command");
    } else if (parsed.command == QLatin1String("verify") && !parsed.home.isEmpty()) {
        parsed.error = QStringLiteral("verify takes the folder to check, not --home");
    }
    return parsed;
}

// The commands whose arguments are folders: taken relative to where the command was given, before the program
// folder becomes the working folder.
bool takesFolders(const QString& command)
{
    return command == QLatin1String("backup") || command == QLatin1String("verify") ||
           command == QLatin1String("restore");
}

// Holds the program folder (shared) for as long as the command runs, so that no restore replaces it meanwhile.
platform::Result<std::unique_ptr<platform::FolderLock>> holdProgramFolder(const QString& home)
{
    platform::Result<std::unique_ptr<platform::FolderLock>> lock = platform::FolderLock::open(home);
    if (lock.isOk() && !(*lock)->tryLock(platform::FolderLock::Mode::Shared)) {
        return platform::Status::error(platform::FolderLock::busyReason(home, platform::FolderLock::Mode::Shared));
    }
    return lock;
}

int runCommand(const ParsedArgs& parsed, CommandContext& context)
{
    if (parsed.command == QLatin1String("verify")) {
        return runVerify(context);
    }
    const bool terminalHelp =
        context.args.contains(QLatin1String("--help")) || context.args.contains(QLatin1String("-h"));
    if (parsed.command == QLatin1String("terminal") && terminalHelp) {
        return runTerminal(context); // tells its usage without a program folder
    }
    if (parsed.command == QLatin1String("restore")) {
        context.home = programFolderPath(parsed.home); // replaced, so never entered
        return runRestore(context);
    }
    if (!enterHome(context, parsed.home, parsed.command == QLatin1String("init"))) {
        return kExitUsage;
    }
    platform::Result<std::unique_ptr<platform::FolderLock>> lock = holdProgramFolder(context.home);
    if (!lock.isOk()) {
        printError(lock.status().message());
        return kExitFailed;
    }
    if (parsed.headless) {
        return runHeadless(context);
    }
    if (parsed.command == QLatin1String("init")) {
        return runInit(context);
    }
    if (parsed.command == QLatin1String("update")) {
        return runUpdate(context);
    }
    if (parsed.command == QLatin1String("import")) {
        return runImport(context);
    }
    if (parsed.command == QLatin1String("backup")) {
        return runBackup(context);
    }
    if (parsed.command == QLatin1String("terminal")) {
        return runTerminal(context);
    }
    return runPoll(context);
}

} // namespace

QString programFolderPath(const QString& requested)
{
    return QDir::cleanPath(
        QDir(requested.isEmpty() ? QCoreApplication::applicationDirPath() : requested).absolutePath());
}

bool enterHome(CommandContext& context, const QString& requested, bool create)
{
    const QString home = programFolderPath(requested);
    if (!QFileInfo(home).isDir()) {
        if (!create || !QDir().mkpath(home)) {
            printError(QStringLiteral("%1: program folder not found").arg(home));
            return false;
        }
    }
    if (!QDir::setCurrent(home)) {
        printError(QStringLiteral("%1: cannot enter the program folder").arg(home));
        return false;
    }
    context.home = home;
    return true;
}

void printError(const QString& message)
{
    writeStderrLine(QtCriticalMsg, QStringLiteral("kavelo: ") + message);
}

void printLine(const QString& message)
{
    std::fprintf(stdout, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stdout);
}

int runKavelo(int argc, char** argv, WindowProgram window)
{
    ParsedArgs parsed = parseArgs(argc, argv);
    if (parsed.help) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (parsed.version) {
        std::printf("kavelo %s\n", KAVELO_VERSION);
        return kExitOk;
    }
    if (!parsed.error.isEmpty()) {
        printError(parsed.error);
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }

    if (parsed.command.isEmpty() && !parsed.headless) {
        return window(argc, argv, parsed.home);
    }

    CommandContext context;
    context.args = parsed.args;
    context.argc = argc;
    context.argv = argv;
    QCoreApplication app(argc, argv);
    if (takesFolders(parsed.command)) {
        for (QString& folder : context.args) {
            folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
        }
    }
    return runCommand(parsed, context);
}

} // namespace kavelo::shell
