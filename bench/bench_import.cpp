// Host import benchmark: a product master host file of 100,000 and of 1,000,000 lines imported into a table that
// already holds 100,000 imported rows and 200,000 terminal rows (two terminals of 100,000 products each, product
// codes stored padded to 13 characters). The host file replaces the imported rows (the first 100,000 of its keys
// are theirs); the terminals' products are their own. The host file is in key order; with --shuffled its keys come
// in no particular order (the same records, the same flags). Each size runs in a child process of its own, so that
// its peak memory is its own.
//
//   build/bench_import [--dir DIR] [--keep] [--imported N] [--held PERCENT | --shared-keys] [--shuffled]
//                      [--sizes 100000,1000000]
//
// --imported N: the table holds N imported rows (the host file's first N keys) instead of 100,000.
// --held PERCENT: the terminals' products are, for that share of the host file's first 100,000 keys, the host's
// own (two in five of them for 40; each such replacement also deletes two terminal rows, as in the first import
// after the terminals were updated), and products of their own for the rest. --shared-keys is --held 100.
// --keep leaves the databases and host files in DIR.
//
// Prints one line per size: seconds, lines per second, peak RSS; and whether the targets hold (100,000 lines in
// 0.4 s at most, 1,000,000 in 11 times the 100,000 figure at most, peak RSS 64 MiB at most).

#include "HostRecords.h"
#include "Usage.h"
#include "import/HostImport.h"
#include "masters/Masters.h"
#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using kavelo::bench::hostProductCode;
using kavelo::bench::writeHostFile;
using kavelo::platform::Database;
using kavelo::platform::Result;
using kavelo::platform::Status;

constexpr int kTerminalRows = 100000;
constexpr int kTerminals = 2;
constexpr double kTarget100k = 0.4;
constexpr double kFactor1M = 11.0;
constexpr long kTargetRssKiB = 64 * 1024;

bool failed(const Status& status)
{
    if (status.isOk()) {
        return false;
    }
    std::fprintf(stderr, "bench_import: %s\n", status.message().toLocal8Bit().constData());
    return true;
}

// Whether the terminals hold product n (of the first 100,000) as the host file has it: for `held` percent of them,
// spread evenly.
bool heldByTerminals(int n, int held)
{
    return n % 100 < held;
}

// The table before the import: `imported` imported rows and 100,000 products for each of two terminals.
Status buildDatabase(const QString& path, int imported, int held)
{
    Result<std::unique_ptr<Database>> database = Database::openSqlite(path, Database::OpenMode::CreateIfMissing);
    if (!database.isOk()) {
        return database.status();
    }
    Status schema = kavelo::masters::ensureSchema(**database);
    if (!schema.isOk()) {
        return schema;
    }
    const kavelo::masters::MasterDefinition& shomas = kavelo::masters::productMaster();
    QStringList columns{kavelo::platform::quoteIdentifier(kavelo::masters::kTerminalIdColumn)};
    QStringList marks{QStringLiteral("?1")};
    for (const QString& column : shomas.columns) {
        columns << kavelo::platform::quoteIdentifier(column);
        marks << QStringLiteral("?%1").arg(marks.size() + 1);
    }
    Result<std::unique_ptr<kavelo::platform::Statement>> insert =
        (*database)->prepare(QStringLiteral("INSERT INTO \"SHOMAS\" (%1) VALUES (%2)")
                                 .arg(columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    if (!insert.isOk()) {
        return insert.status();
    }
    Status begun = (*database)->exec(QStringLiteral("BEGIN"));
    if (!begun.isOk()) {
        return begun;
    }
    for (int terminal = 0; terminal <= kTerminals; ++terminal) {
        for (int n = 0; n < (terminal == 0 ? imported : kTerminalRows); ++n) {
            if (terminal == 0) {
                (*insert)->bindNull(1);
            } else {
                (*insert)->bind(1, QStringLiteral("000%1").arg(terminal));
            }
            // Terminal products live far above the host file's keys unless they are held.
            const int product = terminal == 0 || heldByTerminals(n, held) ? n : n + terminal * 2000000;
            const QString code = terminal == 0 ? hostProductCode(product) : hostProductCode(product).leftJustified(13);
            int index = 1;
            for (const QString& column : shomas.columns) {
                ++index;
                if (column == shomas.keyColumn) {
                    (*insert)->bind(index, code);
                } else {
                    (*insert)->bind(index, QStringLiteral("value %1").arg(n % 1000));
                }
            }
            Result<bool> stepped = (*insert)->step();
            (*insert)->reset();
            if (!stepped.isOk()) {
                return stepped.status();
            }
        }
    }
    return (*database)->exec(QStringLiteral("COMMIT"));
}

// The fresh copy of the table goes to disk before the import starts: otherwise the import's own syncs would also
// write the copy.
bool syncToDisk(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// User and system time of this process so far: on a shared machine the wall time also counts the waits for a core.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Child: one import, then "seconds peak-RSS-KiB records CPU-seconds" on stdout.
int runChild(const QString& dbPath, const QString& importDir)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuSeconds();
    Result<kavelo::import::ImportSummary> summary =
        kavelo::import::importMaster(kavelo::masters::productMaster(), {dbPath, importDir});
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    if (failed(summary.isOk() ? Status::ok() : summary.status())) {
        return 1;
    }
    std::printf("%.3f %ld %lld %.3f\n", seconds, peakRssKiB(), static_cast<long long>(summary->recordsRead), cpu);
    return 0;
}

struct Figures
{
    int lines = 0;
    double seconds = 0;
    long rssKiB = 0;
    double cpu = 0;
};

} // namespace

const char* const kUsage =
    "usage: bench_import [--dir DIR] [--keep] [--imported N] [--held PERCENT | --shared-keys] [--shuffled]\n"
    "                    [--sizes 100000,1000000]\n"
    "       bench_import --child DATABASE HOSTFOLDER\n"
    "Times the host import of a product master into a table of 200,000 terminal rows (see docs/performance.md).\n"
    "--imported N       the table also holds N imported rows (default 100000)\n"
    "--held PERCENT     that share of the first 100,000 keys are also the terminals' products (--shared-keys: 100)\n"
    "--shuffled         the host file in no key order\n"
    "--sizes LIST       host file sizes in lines\n"
    "--dir DIR, --keep  where the tables and host files are made, and leave them there\n"
    "--child            one import of HOSTFOLDER into DATABASE, timed\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == QLatin1String("--child")) {
        return runChild(args[1], args[2]);
    }

    QString dir;
    bool keep = false;
    int imported = 100000;
    int held = 0;
    bool shuffled = false;
    std::vector<int> sizes = {100000, 1000000};
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--dir") && i + 1 < args.size()) {
            dir = args[++i];
        } else if (args[i] == QLatin1String("--shuffled")) {
            shuffled = true;
        } else if (args[i] == QLatin1String("--shared-keys")) {
            held = 100;
        } else if (args[i] == QLatin1String("--held") && i + 1 < args.size()) {
            held = args[++i].toInt();
        } else if (args[i] == QLatin1String("--imported") && i + 1 < args.size()) {
            imported = args[++i].toInt();
        } else if (args[i] == QLatin1String("--keep")) {
            keep = true;
        } else if (args[i] == QLatin1String("--sizes") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& size : args[++i].split(QLatin1Char(','))) {
                sizes.push_back(size.toInt());
            }
        } else {
            std::fprintf(stderr,
                         "usage: bench_import [--dir DIR] [--keep] [--imported N] [--held PERCENT | --shared-keys] "
                         "[--shuffled] [--sizes 100000,1000000]\n");
            return 2;
        }
    }
    QTemporaryDir temporary;
    if (dir.isEmpty()) {
        dir = temporary.path();
    }
    QDir().mkpath(dir);

    Result<QByteArray> kanji =
        kavelo::platform::encodeShiftJis(QStringLiteral("ベンチ用テスト商品　規格５００ｍｌ入").leftJustified(20));
    if (failed(kanji.isOk() ? Status::ok() : kanji.status())) {
        return 1;
    }
    const QString templateDb = QDir(dir).filePath(QStringLiteral("template.db"));
    QFile::remove(templateDb);
    std::printf("building the table: %d imported rows, %d terminal rows (%d %% of the first 100,000 host keys held by "
                "the terminals); host files %s...\n",
                imported,
                kTerminalRows * kTerminals,
                held,
                shuffled ? "in no particular key order" : "in key order");
    std::fflush(stdout);
    if (failed(buildDatabase(templateDb, imported, held))) {
        return 1;
    }

    std::vector<Figures> results;
    for (int lines : sizes) {
        const QString importDir = QDir(dir).filePath(QStringLiteral("host-%1/").arg(lines));
        QDir().mkpath(importDir);
        if (failed(writeHostFile(importDir + QStringLiteral("SHOMAS.DAT"), lines, *kanji, shuffled))) {
            return 1;
        }
        const QString db = QDir(dir).filePath(QStringLiteral("run-%1.db").arg(lines));
        QFile::remove(db);
        if (!QFile::copy(templateDb, db) || !syncToDisk(db)) {
            std::fprintf(stderr, "bench_import: cannot copy %s\n", templateDb.toLocal8Bit().constData());
            return 1;
        }
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), db, importDir});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::fprintf(stderr, "bench_import: the import of %d lines failed\n", lines);
            return 1;
        }
        const QStringList out = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char(' '));
        Figures figures{lines, out.value(0).toDouble(), out.value(1).toLong(), out.value(3).toDouble()};
        results.push_back(figures);
        std::printf("%9d lines: %7.3f s (CPU %7.3f s), %9.0f lines/s, peak RSS %6.1f MiB\n",
                    lines,
                    figures.seconds,
                    figures.cpu,
                    lines / figures.seconds,
                    figures.rssKiB / 1024.0);
        std::fflush(stdout);
        if (!keep) {
            QFile::remove(db);
            QFile::remove(importDir + QStringLiteral("SHOMAS.DAT"));
        }
    }
    if (!keep) {
        QFile::remove(templateDb);
    }

    bool ok = true;
    double base = 0;
    for (const Figures& f : results) {
        if (f.lines == 100000) {
            base = f.seconds;
            ok = ok && f.seconds <= kTarget100k;
        }
        ok = ok && f.rssKiB <= kTargetRssKiB;
    }
    for (const Figures& f : results) {
        if (f.lines == 1000000 && base > 0) {
            std::printf("1,000,000 / 100,000 lines: %.2f times (target at most %.0f)\n", f.seconds / base, kFactor1M);
            ok = ok && f.seconds <= kFactor1M * base;
        }
    }
    std::printf("targets %s\n", ok ? "met" : "NOT met");
    return ok ? 0 : 1;
}
