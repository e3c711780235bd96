// The product master on a PostgreSQL server: one terminal's 100,000-line update with its export, and a
// 100,000-line host import in no key order, each in a child process of its own (so that its peak memory is its own)
// on a fresh copy of the tables; and two stores on two schemas updating at once against one after the other.
//
//   build/bench_pg [--uri URI] [--dir DIR] [--keep] [--repeat N] [--cases update,import,two]
//
// Without --uri it starts a throwaway cluster of its own with the server's default settings (scripts/pg-cluster,
// a Unix socket in DIR) and stops it at the end (--keep keeps its folder). Tables before the update: terminals 3 and 7
// hold 100,000 products each (stored by the flow itself), and the update file replaces 50,000 of terminal 7's and adds
// 50,000. Tables before the import: terminals 1 and 2 hold 100,000 products each, two in five of them the host file's
// keys; the host file (95 % replacements, every 20th line a delete) comes in no key order.
//
// Each run goes through the engine as the poll and the import window run it (distribution::updateMaster,
// import::importMaster): the file read, its batches handed to the server's store, the rows committed and, for the
// update, the export renamed into place. Prints one line per run: wall seconds (connecting included), the CPU
// seconds the server's processes spent on it (with the benchmark's own cluster: what its postmaster's finished
// children took, read when the child is done), the child's CPU seconds (user + system) and its peak RSS.

#include "HostRecords.h"
#include "ProductRecords.h"
#include "Usage.h"

#include "db/PgStore.h"
#include "distribution/MasterUpdate.h"
#include "exchange/FolderTree.h"
#include "import/HostImport.h"
#include "masters/Masters.h"
#include "platform/Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace kavelo;
using platform::Result;
using platform::Status;

constexpr int kRows = 100000;
constexpr int kLines = 100000;
constexpr double kTargetSeconds = 2.0;
constexpr double kTargetRssMiB = 64.0;
const QString kUpdatePristine = QStringLiteral("bench_update_pristine");
const QString kImportPristine = QStringLiteral("bench_import_pristine");

bool failed(const Status& status)
{
    if (status.isOk()) {
        return false;
    }
    std::fprintf(stderr, "bench_pg: %s\n", qPrintable(status.message()));
    return true;
}

const masters::MasterDefinition& shomas()
{
    return masters::productMaster();
}

QString table(const QString& schema)
{
    return platform::quoteIdentifier(schema) + QStringLiteral(".\"SHOMAS\"");
}

Result<std::unique_ptr<db::PgStore>> openStore(const QString& uri, const QString& schema)
{
    Result<std::unique_ptr<db::PgStore>> store = db::PgStore::open({uri, schema, 30});
    if (store.isOk()) {
        Status made = (*store)->ensureSchema();
        if (!made.isOk()) {
            return made;
        }
    }
    return store;
}

// Terminals 3 and 7 with 100,000 products each, stored by the update itself.
Status seedUpdate(const QString& uri, const QString& folder)
{
    Result<std::unique_ptr<db::PgStore>> store = openStore(uri, kUpdatePristine);
    if (!store.isOk()) {
        return store.status();
    }
    const exchange::FolderTree tree(folder + QStringLiteral("/seed/"), folder);
    for (qint64 terminal : {3, 7}) {
        const QString id = exchange::FolderTree::terminalId(terminal);
        QDir().mkpath(tree.receiveFolder(id));
        const QString path = tree.receiveFile(id, shomas().updateFileName());
        if (!bench::writeProductUpdateFile(path, kRows, 0, 1)) {
            return Status::error(QStringLiteral("cannot write %1").arg(path));
        }
        Result<distribution::UpdateSummary> seeded =
            distribution::updateMaster(shomas(), {db::StoreLocation(uri, kUpdatePristine), tree}, terminal);
        if (!seeded.isOk()) {
            return seeded.status();
        }
    }
    return Status::ok();
}

// Terminals 1 and 2 with 100,000 products each, two in five of them the host file's own keys (as bench_import
// --imported 0 --held 40 builds the SQLite table).
Status seedImport(const QString& uri)
{
    Result<std::unique_ptr<db::PgStore>> store = openStore(uri, kImportPristine);
    if (!store.isOk()) {
        return store.status();
    }
    QStringList columns{QStringLiteral("\"端末ID\"")};
    QStringList values{QStringLiteral("t.id")};
    for (const QString& column : shomas().columns) {
        columns << platform::quoteIdentifier(column);
        values << (column == shomas().keyColumn
                       ? QStringLiteral("rpad('49' || lpad((CASE WHEN g % 100 < 40 THEN g ELSE g + t.n * 2000000 END)"
                                        "::text, 11, '0'), 13)")
                       : QStringLiteral("'value ' || (g % 1000)"));
    }
    return (*store)->connection().exec(
        QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM (VALUES ('0001', 1), ('0002', 2)) t(id, n), "
                       "generate_series(0, %4) g ORDER BY t.n, g")
            .arg(table(kImportPristine), columns.join(u','), values.join(u','))
            .arg(kRows - 1));
}

// A fresh copy of a pristine schema's product table in `schema`, analysed and on disk.
Status copySchema(const QString& uri, const QString& pristine, const QString& schema)
{
    Result<std::unique_ptr<db::PgConnection>> admin = db::PgConnection::connect(uri);
    if (!admin.isOk()) {
        return admin.status();
    }
    db::PgConnection& c = **admin;
    Status status = c.exec(QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(platform::quoteIdentifier(schema)));
    if (status.isOk()) {
        Result<std::unique_ptr<db::PgStore>> store = openStore(uri, schema);
        status = store.isOk() ? Status::ok() : store.status();
    }
    if (status.isOk()) {
        status = c.exec(QStringLiteral("INSERT INTO %1 OVERRIDING SYSTEM VALUE SELECT * FROM %2 ORDER BY kavelo_row")
                            .arg(table(schema), table(pristine)));
    }
    if (status.isOk()) {
        status =
            c.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence($1, 'kavelo_row'), max(kavelo_row)) FROM %1")
                       .arg(table(schema)),
                   {db::textParameter(table(schema))});
    }
    if (status.isOk()) {
        status = c.exec(QStringLiteral("VACUUM ANALYZE %1").arg(table(schema)));
    }
    if (status.isOk() && !c.exec(QStringLiteral("CHECKPOINT")).isOk()) {
        std::fprintf(stderr, "bench_pg: no CHECKPOINT (not a superuser?); the copy's writes may count\n");
    }
    return status;
}

// CPU seconds (user + system) that the finished children of a process of this machine took: of the server's
// postmaster, its connections' processes once they have ended. 0 for pid 0.
double childrenCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid == 0 || !stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray line = stat.readAll();
    // The fields after the command name (in parentheses): cutime and cstime are the 14th and 15th of them.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15) {
        return 0;
    }
    return static_cast<double>(fields[13].toLongLong() + fields[14].toLongLong()) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Child: one update or import through the engine; prints its wall seconds and its counts. `root`: the folder tree's
// DATA for an update, the import folder for an import.
int runChild(const QStringList& args)
{
    const QString& what = args[0];
    const db::StoreLocation location(args[1], args[2]);
    const QString& root = args[3];
    QElapsedTimer timer;
    timer.start();
    if (what == QLatin1String("update")) {
        Result<distribution::UpdateSummary> counts =
            distribution::updateMaster(shomas(), {location, exchange::FolderTree(root, root)}, 7);
        if (failed(counts.isOk() ? Status::ok() : counts.status())) {
            return 1;
        }
        std::printf("  update: %.3f s; %lld lines, %lld added, %lld replaced, %lld exported\n",
                    static_cast<double>(timer.nsecsElapsed()) / 1e9,
                    static_cast<long long>(counts->linesRead),
                    static_cast<long long>(counts->rowsAdded),
                    static_cast<long long>(counts->rowsReplaced),
                    static_cast<long long>(counts->rowsExported));
    } else {
        Result<import::ImportSummary> counts = import::importMaster(shomas(), {location, root});
        if (failed(counts.isOk() ? Status::ok() : counts.status())) {
            return 1;
        }
        std::printf("  import: %.3f s; %lld records, %lld replaced, %lld deleted\n",
                    static_cast<double>(timer.nsecsElapsed()) / 1e9,
                    static_cast<long long>(counts->recordsRead),
                    static_cast<long long>(counts->replaced),
                    static_cast<long long>(counts->deleted));
    }
    std::fflush(stdout);
    return 0;
}

pid_t startChild(const QStringList& args)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::vector<QByteArray> bytes{QCoreApplication::applicationFilePath().toLocal8Bit(), QByteArray("--child")};
        for (const QString& arg : args) {
            bytes.push_back(arg.toLocal8Bit());
        }
        std::vector<char*> argv;
        for (QByteArray& b : bytes) {
            argv.push_back(b.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Waits for the children; true when all succeeded. Prints each one's CPU time and peak RSS.
bool waitFor(const std::vector<pid_t>& children, double& maxRssMiB)
{
    bool ok = true;
    for (pid_t child : children) {
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const double rss = static_cast<double>(usage.ru_maxrss) / 1024.0;
        maxRssMiB = std::max(maxRssMiB, rss);
        std::printf("    child: CPU %.3f s (user + system), peak RSS %.1f MiB\n", cpu, rss);
    }
    return ok;
}

// Runs children with the given arguments at once and waits for them; prints the server's CPU time for them when
// the postmaster's pid is known.
bool runChildren(const std::vector<QStringList>& children, qint64 postmaster, double& maxRssMiB)
{
    if (postmaster != 0) {
        QThread::msleep(300); // the server reaps the processes of connections that have just ended
    }
    const double serverBefore = childrenCpuSeconds(postmaster);
    std::vector<pid_t> started;
    for (const QStringList& args : children) {
        started.push_back(startChild(args));
    }
    const bool ok = waitFor(started, maxRssMiB);
    if (postmaster != 0) {
        QThread::msleep(300);
        std::printf("    server processes: CPU %.2f s\n", childrenCpuSeconds(postmaster) - serverBefore);
    }
    return ok;
}

double seconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// Starts the throwaway cluster; its URI, or empty text.
QString startCluster(const QString& folder)
{
    QProcess script;
    script.start(QStringLiteral(KAVELO_SOURCE_DIR "/scripts/pg-cluster"), {QStringLiteral("start"), folder});
    script.waitForFinished(180000);
    if (script.exitCode() != 0) {
        std::fprintf(stderr, "bench_pg: the cluster did not start: %s\n", script.readAllStandardError().constData());
        return QString();
    }
    return QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed();
}

struct Options
{
    QString uri;
    QString dir;
    bool keep = false;
    int repeat = 1;
    QStringList cases{QStringLiteral("update"), QStringLiteral("import"), QStringLiteral("two")};
};

Options parseOptions(QStringList args)
{
    Options o;
    o.keep = args.removeAll(QStringLiteral("--keep")) > 0;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--uri")) {
            o.uri = args[i + 1];
        } else if (args[i] == QLatin1String("--dir")) {
            o.dir = args[i + 1];
        } else if (args[i] == QLatin1String("--repeat")) {
            o.repeat = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--cases")) {
            o.cases = args[i + 1].split(u',');
        }
    }
    return o;
}

int runBench(const Options& o, const QString& home, const QString& uri, qint64 postmaster)
{
    // DATA of the two stores' folder trees (terminal 7's update file in each), and the import folder.
    const QString rootA = home + QStringLiteral("/a/");
    const QString rootB = home + QStringLiteral("/b/");
    const QString hostRoot = home + QStringLiteral("/host/");
    const QString updateA =
        exchange::FolderTree(rootA, home).receiveFile(QStringLiteral("0007"), shomas().updateFileName());
    const QString updateB =
        exchange::FolderTree(rootB, home).receiveFile(QStringLiteral("0007"), shomas().updateFileName());
    QDir().mkpath(QFileInfo(updateA).absolutePath());
    QDir().mkpath(QFileInfo(updateB).absolutePath());
    QDir().mkpath(hostRoot);
    std::printf("preparing the tables and files in %s\n", qPrintable(home));
    std::fflush(stdout);
    if (failed(seedUpdate(uri, home)) || failed(seedImport(uri))) {
        return 1;
    }
    if (!bench::writeProductUpdateFile(updateA, kLines, kRows, 7, kRows) || !QFile::copy(updateA, updateB)) {
        return 1;
    }
    auto kanji = platform::encodeShiftJis(QStringLiteral("特選コーヒー豆ブレンド"));
    if (!kanji.isOk() ||
        failed(bench::writeHostFile(hostRoot + shomas().hostFileName(), kLines, kanji->leftJustified(20, ' '), true))) {
        return 1;
    }
    const QString runA = QStringLiteral("run_a");
    const QString runB = QStringLiteral("run_b");
    const QString update = QStringLiteral("update");
    bool ok = true;
    double maxRss = 0;
    for (int run = 0; run < o.repeat && ok; ++run) {
        for (const QString& c : o.cases) {
            if (c == update || c == QLatin1String("import")) {
                const bool updates = c == update;
                ok = ok && !failed(copySchema(uri, updates ? kUpdatePristine : kImportPristine, runA));
                ok = ok && runChildren({{c, uri, runA, updates ? rootA : hostRoot}}, postmaster, maxRss);
            } else if (c == QLatin1String("two")) {
                for (const QString& schema : {runA, runB}) {
                    ok = ok && !failed(copySchema(uri, kUpdatePristine, schema));
                }
                QElapsedTimer timer;
                timer.start();
                ok = ok && runChildren({{update, uri, runA, rootA}}, 0, maxRss);
                ok = ok && runChildren({{update, uri, runB, rootB}}, 0, maxRss);
                const double apart = seconds(timer);
                for (const QString& schema : {runA, runB}) {
                    ok = ok && !failed(copySchema(uri, kUpdatePristine, schema));
                }
                timer.restart();
                ok = ok && runChildren({{update, uri, runA, rootA}, {update, uri, runB, rootB}}, 0, maxRss);
                std::printf("  two schemas: one after the other %.3f s, at once %.3f s\n", apart, seconds(timer));
            }
        }
    }
    std::printf("peak RSS of a child: %.1f MiB (target %.0f MiB); targets in seconds: %.1f each\n",
                maxRss,
                kTargetRssMiB,
                kTargetSeconds);
    return ok ? 0 : 1;
}

} // namespace

const char* const kUsage =
    "usage: bench_pg [--uri URI] [--dir DIR] [--keep] [--repeat N] [--cases update,import,two]\n"
    "Times a product master update of terminal 7 (100,000 lines, export included), a 100,000-line host import in\n"
    "no key order and two updates on two schemas at once against one after the other, on a PostgreSQL server,\n"
    "each in a child process.\n"
    "--uri URI     a server and database to use (its role may create schemas); default: a throwaway cluster of\n"
    "              its own in DIR, with the server's default settings, stopped at the end\n"
    "--dir DIR     where the files (and the cluster) are made; --keep leaves them there\n"
    "--repeat N    runs of each case\n"
    "--cases LIST  which of update, import, two\n";

int main(int argc, char** argv)
{
    if (bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kavelo.db.info=false")); // the tables made for each run
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 5 && args[0] == QLatin1String("--child")) {
        return runChild(args.mid(1));
    }
    const Options o = parseOptions(args);
    QTemporaryDir temp((o.dir.isEmpty() ? QDir::tempPath() : o.dir) + QStringLiteral("/bench_pg-XXXXXX"));
    temp.setAutoRemove(!o.keep);
    // The cluster's own user must reach its folder inside this one.
    QFile::setPermissions(temp.path(),
                          QFile::permissions(temp.path()) | QFile::ExeGroup | QFile::ExeOther | QFile::ReadGroup |
                              QFile::ReadOther);
    const QString cluster = temp.path() + QStringLiteral("/cluster");
    const QString uri = o.uri.isEmpty() ? startCluster(cluster) : o.uri;
    if (uri.isEmpty()) {
        return 1;
    }
    // With its own cluster, the server's CPU time is read from its postmaster.
    QFile pidFile(cluster + QStringLiteral("/data/postmaster.pid"));
    const qint64 postmaster =
        o.uri.isEmpty() && pidFile.open(QIODevice::ReadOnly) ? pidFile.readLine().trimmed().toLongLong() : 0;
    const int result = runBench(o, temp.path(), uri, postmaster);
    if (o.uri.isEmpty()) {
        QProcess::execute(QStringLiteral(KAVELO_SOURCE_DIR "/scripts/pg-cluster"), {QStringLiteral("stop"), cluster});
    }
    return result;
}
