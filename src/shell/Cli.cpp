#include "shell/Cli.h"

#include "shell/Commands.h"

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
    "  kavelo --help | --version\n"
    "\n"
    "MASTER is one of BUNMAS TENMAS SIRMAS TOKMAS SHOMAS JISYA.\n"
    "DIR is the program folder: it holds KAVELO.ini and kavelo.log, received files land there and master\n"
    "files are staged there for the terminals. Default: the folder of the kavelo executable.\n"
    "DBname and ImportDB in KAVELO.ini are SQLite files, or PostgreSQL databases (postgresql://...) whose\n"
    "schema DBSchema holds the tables; init, update, import and the poll work on either.\n"
    "\n"
    "Exit codes: 0 success, 1 the work failed, 2 wrong command line or no usable KAVELO.ini.\n";

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
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
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
    static const QStringList kCommands = {QStringLiteral("init"), QStringLiteral("update"), QStringLiteral("import"),
                                          QStringLiteral("poll")};
    if (!parsed.command.isEmpty() && !kCommands.contains(parsed.command)) {
        parsed.error = QStringLiteral("unknown command %1").arg(parsed.command);
    } else if (parsed.headless && !parsed.command.isEmpty()) {
        parsed.error = QStringLiteral("--headless does not go with a command");
    }
    return parsed;
}

} // namespace

bool enterHome(CommandContext& context, const QString& requested, bool create)
{
    QString home = requested.isEmpty() ? QCoreApplication::applicationDirPath() : requested;
    home = QDir(home).absolutePath();
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
    std::fprintf(stderr, "kavelo: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
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
    if (!enterHome(context, parsed.home, parsed.command == QLatin1String("init"))) {
        return kExitUsage;
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
    return runPoll(context);
}

} // namespace kavelo::shell
