// `kavelo backup` of a program folder the size of a busy store's, while the kavelo executable (headless) serves a
// terminal that uploads its order file again and again: the backup's time, and the longest a terminal's request
// (connect and HELLO, PUT, BYE) waits for its answer meanwhile, against the same without a backup.
//
//   build/bench_backup [--runs N] [--db-mb 80] [--files 10000] [--dir DIR] [--keep] [--kavelo PATH]
//
// The program folder: the master database filled by the update engine with products of terminals 1, 2, ... until it
// is at least --db-mb MB, and --files files in the backup tree (order files of about 4 kB, spread over the eleven
// terminals). Each run writes a new backup into a folder of its own; all are removed at the end, not between runs:
// thousands of files just removed make ext4 slow to create new ones for some minutes, which a nightly backup never
// meets.

#include "ProductRecords.h"
#include "HeadlessServer.h"
#include "Usage.h"

#include "client/TerminalClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using namespace kavelo;

constexpr qint64 kMB = 1000 * 1000;
constexpr qint64 kProductsPerTerminal = 100000;
constexpr int kTerminals = 11;

const char* const kUsage =
    "Usage: bench_backup [--runs N] [--db-mb MB] [--files N] [--dir DIR] [--keep] [--kavelo PATH]\n"
    "Times `kavelo backup` of a program folder with a master database of at least MB megabytes (default 80) and N\n"
    "files in the backup tree (default 10000), while the kavelo executable serves a terminal that uploads without\n"
    "pause; prints the backup's time and the longest wait of a terminal's request, with and without a backup.\n";

struct Options
{
    int runs = 3;
    qint64 dbMB = 80;
    int files = 10000;
    QString dir;
    bool keep = false;
    QString kavelo;
};

struct Run
{
    QString home;
    quint16 port = 0;
    QString kavelo;
};

bool runKavelo(const Run& run, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(run.kavelo, args + QStringList{QStringLiteral("--home"), run.home});
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "kavelo %s failed\n", qPrintable(args.join(u' ')));
        return false;
    }
    return true;
}

QString terminalId(int terminal)
{
    return QStringLiteral("%1").arg(terminal, 4, 10, QLatin1Char('0'));
}

// The database grows by the products of one terminal after another until it is large enough.
bool fillDatabase(const Run& run, qint64 megabytes)
{
    const QString db = run.home + QStringLiteral("/HT/0000/MasterConv.db");
    for (int terminal = 1; QFileInfo(db).size() < megabytes * kMB; ++terminal) {
        const QString rcv = QStringLiteral("%1/HT/%2/rcv/").arg(run.home, terminalId(terminal));
        QDir().mkpath(rcv);
        if (!bench::writeProductUpdateFile(rcv + QStringLiteral("SHOMAS.dat"), kProductsPerTerminal, 0, terminal) ||
            !runKavelo(run, {QStringLiteral("update"), QStringLiteral("SHOMAS"), QString::number(terminal)})) {
            return false;
        }
        QFile::remove(rcv + QStringLiteral("SHOMAS.dat"));
    }
    return true;
}

bool fillBackupTree(const Run& run, int files)
{
    QByteArray order;
    for (int line = 0; line < 200; ++line) {
        order += QByteArray::number(4901000000000LL + line * 17) + ",12,1\r\n";
    }
    const QDateTime first(QDate(2026, 1, 5), QTime(9, 0));
    for (int i = 0; i < files; ++i) {
        const int terminal = 1 + i % kTerminals;
        const QString name = first.addSecs(qint64(i / kTerminals) * 3600).toString(QStringLiteral("yyyyMMddHHmmss")) +
                             (i % 2 == 0 ? QStringLiteral("_S_HACH.dat") : QStringLiteral("_S_TANA.dat"));
        QFile file(QStringLiteral("%1/HT/backup/%2/snd/%3").arg(run.home, terminalId(terminal), name));
        if (!file.open(QIODevice::WriteOnly) || file.write(order) != order.size()) {
            return false;
        }
    }
    return true;
}

bool prepare(Run& run, const Options& options)
{
    if (!runKavelo(run, {QStringLiteral("init")})) {
        return false;
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    run.port = probe.serverPort();
    probe.close();
    QFile ini(run.home + QStringLiteral("/KAVELO.ini"));
    if (!ini.open(QIODevice::Append)) {
        return false;
    }
    ini.write(QStringLiteral("ListenPort=%1\r\nStatusPort=0\r\n").arg(run.port).toLatin1());
    ini.close();
    if (!fillDatabase(run, options.dbMB) || !fillBackupTree(run, options.files)) {
        return false;
    }
    std::printf("program folder %s: database %.1f MB, %d files in the backup tree\n",
                qPrintable(run.home),
                static_cast<double>(QFileInfo(run.home + QStringLiteral("/HT/0000/MasterConv.db")).size()) / kMB,
                options.files);
    std::fflush(stdout);
    return true;
}

// A terminal uploading its order file again and again until told to stop: every request's wait, in ms.
class Terminal
{
  public:
    enum Kind
    {
        Hello,
        Put,
        Bye,
    };

    explicit Terminal(quint16 port)
        : m_thread([this, port] { loop(port); })
    {
    }
    std::vector<double> stop()
    {
        m_stop = true;
        m_thread.join();
        return m_waits;
    }
    int failures() const { return m_failures; }
    // The longest wait of each kind of request.
    double longest(Kind kind) const { return m_longest[kind]; }

  private:
    void loop(quint16 port)
    {
        const QByteArray order(4000, '1');
        while (!m_stop) {
            client::TerminalClient client(QStringLiteral("127.0.0.1"), port, 10000);
            const bool ok = timed(Hello, [&] { return client.connectAs(3).isOk(); }) &&
                            timed(Put, [&] { return client.put(QStringLiteral("S_HACH.dat"), order).isOk(); }) &&
                            timed(Bye, [&] { return client.bye().isOk(); });
            m_failures += ok ? 0 : 1;
        }
    }
    template <typename Request> bool timed(Kind kind, Request request)
    {
        QElapsedTimer timer;
        timer.start();
        const bool ok = request();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        m_waits.push_back(ms);
        m_longest[kind] = std::max(m_longest[kind], ms);
        return ok;
    }

    std::atomic<bool> m_stop{false};
    std::vector<double> m_waits;
    double m_longest[3] = {};
    int m_failures = 0;
    std::thread m_thread;
};

struct Waits
{
    double max = 0;
    double p99 = 0;
    size_t requests = 0;
    double hello = 0; // the longest of each kind
    double put = 0;
    double bye = 0;
};

Waits summarise(const Terminal& terminal, std::vector<double> waits)
{
    Waits w;
    w.hello = terminal.longest(Terminal::Hello);
    w.put = terminal.longest(Terminal::Put);
    w.bye = terminal.longest(Terminal::Bye);
    if (waits.empty()) {
        return w;
    }
    std::sort(waits.begin(), waits.end());
    w.max = waits.back();
    w.p99 = waits[waits.size() * 99 / 100];
    w.requests = waits.size();
    return w;
}

// The terminal's waits over `seconds` without a backup.
Waits baseline(const Run& run, double seconds)
{
    Terminal terminal(run.port);
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
    std::vector<double> waits = terminal.stop();
    return summarise(terminal, std::move(waits));
}

bool backupOnce(const Run& run, const QString& destination, double& seconds, Waits& waits)
{
    Terminal terminal(run.port);
    QThread::msleep(300); // the terminal is under way
    QElapsedTimer timer;
    timer.start();
    const bool ok = runKavelo(run, {QStringLiteral("backup"), destination});
    seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::vector<double> all = terminal.stop();
    waits = summarise(terminal, std::move(all));
    if (terminal.failures() > 0) {
        std::fprintf(stderr, "%d of the terminal's sessions failed\n", terminal.failures());
    }
    return ok;
}

Options parseOptions(const QStringList& args)
{
    Options options;
    for (int i = 1; i < args.size(); ++i) {
        const QString next = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (args.at(i) == QLatin1String("--runs")) {
            options.runs = next.toInt();
            ++i;
        } else if (args.at(i) == QLatin1String("--db-mb")) {
            options.dbMB = next.toLongLong();
            ++i;
        } else if (args.at(i) == QLatin1String("--files")) {
            options.files = next.toInt();
            ++i;
        } else if (args.at(i) == QLatin1String("--dir")) {
            options.dir = next;
            ++i;
        } else if (args.at(i) == QLatin1String("--kavelo")) {
            options.kavelo = next;
            ++i;
        } else if (args.at(i) == QLatin1String("--keep")) {
            options.keep = true;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    if (bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(app.arguments());
    QTemporaryDir temporary(options.dir.isEmpty() ? QDir::tempPath() + QStringLiteral("/bench_backup-XXXXXX")
                                                  : options.dir + QStringLiteral("/bench_backup-XXXXXX"));
    temporary.setAutoRemove(!options.keep);
    Run run;
    run.home = temporary.path() + QStringLiteral("/home");
    run.kavelo =
        options.kavelo.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/kavelo") : options.kavelo;
    if (!prepare(run, options)) {
        return 1;
    }
    bench::HeadlessServer server(run.kavelo, run.home, run.port);
    if (!server.ready()) {
        std::fprintf(stderr, "kavelo --headless did not start listening\n");
        return 1;
    }
    for (int i = 0; i < options.runs; ++i) {
        const Waits quiet = baseline(run, 3.0);
        double seconds = 0;
        Waits during;
        const QString destination = temporary.path() + QStringLiteral("/backups-%1").arg(i);
        if (!backupOnce(run, destination, seconds, during)) {
            return 1;
        }
        std::printf(
            "run %d: backup %.2f s; terminal during it: %zu requests, longest wait %.1f ms (HELLO %.1f, PUT %.1f, "
            "BYE %.1f), 99th percentile %.1f ms; without a backup: %zu requests, longest %.1f ms (HELLO %.1f, "
            "PUT %.1f, BYE %.1f), 99th percentile %.1f ms\n",
            i + 1,
            seconds,
            during.requests,
            during.max,
            during.hello,
            during.put,
            during.bye,
            during.p99,
            quiet.requests,
            quiet.max,
            quiet.hello,
            quiet.put,
            quiet.bye,
            quiet.p99);
        std::fflush(stdout);
    }
    if (options.keep) {
        std::printf("kept %s\n", qPrintable(temporary.path()));
    }
    return 0;
}
