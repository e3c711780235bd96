// Measures the product master update of one terminal: terminals 7 and 3 hold 100,000 rows each, then a
// 100,000-line and a 1,000,000-line update file (half replacements, half new products) is applied to terminal 7,
// export included. Each measured update runs in a child process, so that its peak resident size is its own.
//
//   build/bench_update [--sizes 100000,1000000] [--repeat N] [--dir DIR] [--keep]
//
// Prints one line per run: lines, wall seconds of the update (until its rows are committed and its export is in
// place), seconds of the checkpoint it leaves to the worker thread, CPU seconds and peak RSS of the child in MiB.

#include "ProductFolder.h"
#include "Usage.h"

#include "batch/Checkpoints.h"
#include "distribution/MasterUpdate.h"
#include "platform/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace kavelo;

constexpr qint64 kRowsPerTerminal = 100000;

using Folder = bench::ProductFolder;

// Child: one measured update.
int runOne(const QString& home)
{
    Folder folder{home};
    batch::CheckpointWorker checkpoints;
    distribution::UpdateContext context = folder.context();
    context.checkpoints = &checkpoints;
    QElapsedTimer timer;
    timer.start();
    auto summary = distribution::UpdateSHOMAS(context, 7);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    // The checkpoint that the update leaves to the worker thread, timed on its own.
    timer.restart();
    checkpoints.waitForAll();
    const double checkpointSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (!summary.isOk()) {
        std::fprintf(stderr, "%s\n", qPrintable(summary.status().message()));
        return 1;
    }
    std::printf("  %lld lines read, %lld rows added, %lld replaced, %lld exported: %.3f s, then the checkpoint "
                "%.3f s\n",
                static_cast<long long>(summary->linesRead),
                static_cast<long long>(summary->rowsAdded),
                static_cast<long long>(summary->rowsReplaced),
                static_cast<long long>(summary->rowsExported),
                seconds,
                checkpointSeconds);
    return 0;
}

bool copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

const char* const kUsage = "usage: bench_update [--sizes 100000,1000000] [--repeat N] [--dir DIR] [--keep]\n"
                           "       bench_update --run FOLDER\n"
                           "Times a product master update of terminal 7, export included, each in a child process.\n"
                           "--sizes LIST       update file sizes in lines\n"
                           "--repeat N         runs of each size\n"
                           "--dir DIR, --keep  where the database and update files are made, and leave them there\n"
                           "--run FOLDER       one update in a folder a run with --keep left\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--run")) {
        return runOne(args[1]);
    }

    QList<qint64> sizes = {100000, 1000000};
    int repeat = 1;
    QString dir;
    bool keep = args.contains(QStringLiteral("--keep"));
    args.removeAll(QStringLiteral("--keep"));
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString& s : args[i + 1].split(u',')) {
                sizes << s.toLongLong();
            }
        } else if (args[i] == QLatin1String("--repeat")) {
            repeat = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--dir")) {
            dir = args[i + 1];
        }
    }
    QTemporaryDir temp(dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/bench_update-XXXXXX")
                                     : dir + QStringLiteral("/bench_update-XXXXXX"));
    temp.setAutoRemove(!keep);
    Folder folder{temp.path()};
    std::printf("preparing terminals 3 and 7 with %lld rows each in %s\n",
                static_cast<long long>(kRowsPerTerminal),
                qPrintable(folder.home));
    std::fflush(stdout);
    if (!bench::seedProducts(folder, kRowsPerTerminal)) {
        return 1;
    }
    const QString pristine = folder.home + QStringLiteral("/pristine.db");
    if (!copyFile(folder.dbPath(), pristine)) {
        return 1;
    }

    int failures = 0;
    for (qint64 size : sizes) {
        if (!bench::writeProductUpdateFile(folder.updatePath(7), size, kRowsPerTerminal, 7, kRowsPerTerminal)) {
            return 1;
        }
        for (int run = 0; run < repeat; ++run) {
            if (!copyFile(pristine, folder.dbPath())) {
                return 1;
            }
            QFile::remove(folder.dbPath() + QStringLiteral("-wal"));
            QFile::remove(folder.dbPath() + QStringLiteral("-shm"));
            std::fflush(stdout);
            const pid_t child = fork();
            if (child == 0) {
                const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
                const QByteArray home = folder.home.toLocal8Bit();
                execl(self.constData(), self.constData(), "--run", home.constData(), static_cast<char*>(nullptr));
                _exit(127);
            }
            int status = 0;
            struct rusage usage = {};
            wait4(child, &status, 0, &usage);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                ++failures;
            }
            const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
            std::printf("  %lld lines: child CPU %.3f s (user + system), peak RSS %.1f MiB\n",
                        static_cast<long long>(size),
                        cpu,
                        static_cast<double>(usage.ru_maxrss) / 1024.0);
            std::fflush(stdout);
        }
    }
    return failures == 0 ? 0 : 1;
}
