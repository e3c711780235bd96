// Closing time at a store: every terminal at once, each sending its order file and fetching its masters, served by
// the kavelo executable itself (headless) in a program folder of its own. The product master is a real export of
// the update engine: 108,000 products (about 20 MB) staged for terminals 1 to 11, and 100,000 products for
// terminal 12, whose fetch measures the compression.
//
//   build/bench_closing [--scenarios a,b,c,z] [--dir DIR] [--keep] [--kavelo PATH]
//
// --kavelo serves with another build's executable (the default is the one beside this benchmark).
//
//   a  11 terminals, each reading as fast as loopback goes
//   b  11 terminals, each reading at 4 MB/s
//   c  terminal 11 reading at 300 kB/s, the ten others at 4 MB/s
//   z  terminal 12 fetching its export, plain and compressed, unlimited and at 300 kB/s
//
// Prints for a, b, c the total time, each terminal's time from its connect to its BYE and the server's resident
// memory when idle and at its peak (VmRSS, VmHWM); for z the bytes on the wire and the time.

#include "ProductRecords.h"
#include "HeadlessServer.h"
#include "Usage.h"

#include <QFileInfo>

#include "client/TerminalClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <thread>
#include <vector>

namespace {

using namespace kavelo;

constexpr int kTerminals = 11;
constexpr int kCompressionTerminal = 12;
constexpr qint64 kBurstProducts = 108000;
constexpr qint64 kCompressionProducts = 100000;
constexpr qint64 kMB = 1000 * 1000;

struct Run
{
    QString home;
    quint16 port = 0;
    QString kavelo; // the executable
};

QString terminalFolder(const Run& run, int terminal, const char* sub)
{
    return QStringLiteral("%1/HT/%2/%3/").arg(run.home).arg(terminal, 4, 10, QLatin1Char('0')).arg(QLatin1String(sub));
}

bool runKavelo(const Run& run, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(run.kavelo, args + QStringList{QStringLiteral("--home"), run.home});
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "kavelo %s failed\n", qPrintable(args.join(u' ')));
        return false;
    }
    return true;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The terminal's product master, exported by the update engine from `products` new products.
bool exportProducts(const Run& run, int terminal, qint64 products)
{
    QDir().mkpath(terminalFolder(run, terminal, "rcv"));
    QDir().mkpath(terminalFolder(run, terminal, "snd"));
    QDir().mkpath(QStringLiteral("%1/HT/backup/%2/snd").arg(run.home).arg(terminal, 4, 10, QLatin1Char('0')));
    const QString update = terminalFolder(run, terminal, "rcv") + QStringLiteral("SHOMAS.dat");
    if (!bench::writeProductUpdateFile(update, products, 0, 1) ||
        !runKavelo(run, {QStringLiteral("update"), QStringLiteral("SHOMAS"), QString::number(terminal)})) {
        return false;
    }
    std::printf(
        "terminal %d: SHOMAS.csv of %lld products, %.1f MB\n",
        terminal,
        static_cast<long long>(products),
        static_cast<double>(QFileInfo(terminalFolder(run, terminal, "rcv") + QStringLiteral("SHOMAS.csv")).size()) /
            kMB);
    return true;
}

bool prepare(Run& run)
{
    if (!runKavelo(run, {QStringLiteral("init")})) {
        return false;
    }
    run.port = freePort();
    QFile ini(run.home + QStringLiteral("/KAVELO.ini"));
    if (!ini.open(QIODevice::Append)) {
        return false;
    }
    ini.write(QStringLiteral("ListenPort=%1\r\nStatusPort=0\r\n").arg(run.port).toLatin1());
    ini.close();
    if (!exportProducts(run, 1, kBurstProducts) || !exportProducts(run, kCompressionTerminal, kCompressionProducts)) {
        return false;
    }
    const QString exported = terminalFolder(run, 1, "rcv") + QStringLiteral("SHOMAS.csv");
    for (int t = 2; t <= kTerminals; ++t) {
        if (!QFile::copy(exported, terminalFolder(run, t, "rcv") + QStringLiteral("SHOMAS.csv"))) {
            return false;
        }
    }
    std::fflush(stdout);
    return true;
}

struct Outcome
{
    double seconds = 0;
    qint64 bytes = 0;
    QString error;
};

// One terminal's closing time: its order file, its control file, its masters, BYE.
Outcome closing(const Run& run, int terminal, qint64 readLimit, bool deflate, const QString& out)
{
    QElapsedTimer timer;
    timer.start();
    client::TerminalClient client(QStringLiteral("127.0.0.1"), run.port, 60000);
    client.setLinkRate(readLimit);
    platform::Status status = client.connectAs(terminal);
    QByteArray order;
    for (int line = 0; line < 200; ++line) {
        order += QByteArray::number(4901000000000LL + line * 17) + ",12,1\r\n";
    }
    if (status.isOk()) {
        status = client.put(QStringLiteral("S_HACH.dat"), order);
    }
    if (status.isOk()) {
        status = client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n");
    }
    Outcome outcome;
    if (status.isOk()) {
        QDir().mkpath(out);
        platform::Result<QStringList> fetched = client.get(out, deflate);
        status = fetched.isOk() ? client.bye() : fetched.status();
    }
    outcome.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    outcome.bytes = client.bytesReceived();
    outcome.error = status.message();
    return outcome;
}

int burst(const Run& run, const char* label, const std::vector<qint64>& limits)
{
    bench::HeadlessServer server(run.kavelo, run.home, run.port);
    if (!server.ready()) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    const qint64 idle = server.rss();
    std::vector<Outcome> outcomes(limits.size());
    std::vector<std::thread> threads;
    QElapsedTimer timer;
    timer.start();
    for (size_t i = 0; i < limits.size(); ++i) {
        threads.emplace_back([&, i] {
            const int terminal = static_cast<int>(i) + 1;
            outcomes[i] = closing(run, terminal, limits[i], false, run.home + QStringLiteral("/out/%1").arg(terminal));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double total = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    int failures = 0;
    std::printf("%s: %zu terminals, total %.2f s; server RSS idle %.1f MiB, peak %.1f MiB\n",
                label,
                limits.size(),
                total,
                static_cast<double>(idle) / (1024 * 1024),
                static_cast<double>(server.peak()) / (1024 * 1024));
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = outcomes[i];
        std::printf("  terminal %2zu (%s): %6.2f s, %.1f MB%s%s\n",
                    i + 1,
                    limits[i] == 0 ? "unlimited" : qPrintable(QStringLiteral("%1 kB/s").arg(limits[i] / 1000)),
                    o.seconds,
                    static_cast<double>(o.bytes) / kMB,
                    o.error.isEmpty() ? "" : ", FAILED: ",
                    qPrintable(o.error));
        failures += o.error.isEmpty() ? 0 : 1;
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}

int compression(const Run& run)
{
    bench::HeadlessServer server(run.kavelo, run.home, run.port);
    if (!server.ready()) {
        return 1;
    }
    int failures = 0;
    for (qint64 limit : {qint64(0), qint64(300 * 1000)}) {
        for (bool deflate : {false, true}) {
            const Outcome o = closing(run, kCompressionTerminal, limit, deflate, run.home + QStringLiteral("/out/z"));
            std::printf("z: %-11s %-10s %6.2f s, %.2f MB on the wire%s%s\n",
                        deflate ? "GET deflate" : "GET",
                        limit == 0 ? "unlimited" : "300 kB/s",
                        o.seconds,
                        static_cast<double>(o.bytes) / kMB,
                        o.error.isEmpty() ? "" : ", FAILED: ",
                        qPrintable(o.error));
            std::fflush(stdout);
            failures += o.error.isEmpty() ? 0 : 1;
        }
    }
    return failures;
}

} // namespace

const char* const kUsage =
    "usage: bench_closing [--scenarios a,b,c,z] [--dir DIR] [--keep] [--kavelo PATH]\n"
    "Closing time: the kavelo executable serves terminals that each send S_HACH.dat and fetch about 20 MB of masters.\n"
    "  a  11 terminals, each reading as fast as loopback goes\n"
    "  b  11 terminals, each reading at 4 MB/s\n"
    "  c  terminal 11 reading at 300 kB/s, the ten others at 4 MB/s\n"
    "  z  terminal 12 fetching a 100,000-product export, plain and compressed, unlimited and at 300 kB/s\n"
    "--dir DIR      where the program folder is made (default: the temporary folder)\n"
    "--keep         leave it there\n"
    "--kavelo PATH  serve with another build's executable (default: the one beside this benchmark)\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QStringList scenarios = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("z")};
    QString dir = QDir::tempPath();
    QString kavelo = QCoreApplication::applicationDirPath() + QStringLiteral("/kavelo");
    const bool keep = args.removeAll(QStringLiteral("--keep")) > 0;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--scenarios")) {
            scenarios = args[i + 1].split(u',');
        } else if (args[i] == QLatin1String("--dir")) {
            dir = args[i + 1];
        } else if (args[i] == QLatin1String("--kavelo")) {
            kavelo = args[i + 1];
        }
    }
    QTemporaryDir temp(dir + QStringLiteral("/bench_closing-XXXXXX"));
    temp.setAutoRemove(!keep);
    Run run{temp.path(), 0, kavelo};
    if (!prepare(run)) {
        return 1;
    }
    const qint64 four = 4 * kMB;
    int failures = 0;
    if (scenarios.contains(QStringLiteral("a"))) {
        failures += burst(run, "a (unlimited)", std::vector<qint64>(kTerminals, 0));
    }
    if (scenarios.contains(QStringLiteral("b"))) {
        failures += burst(run, "b (4 MB/s each)", std::vector<qint64>(kTerminals, four));
    }
    if (scenarios.contains(QStringLiteral("c"))) {
        std::vector<qint64> limits(kTerminals, four);
        limits.back() = 300 * 1000;
        failures += burst(run, "c (one at 300 kB/s)", limits);
    }
    if (scenarios.contains(QStringLiteral("z"))) {
        failures += compression(run);
    }
    return failures == 0 ? 0 : 1;
}
