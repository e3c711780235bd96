// The terminals' HTTPS API, served by the kavelo executable itself (headless) in a program folder of its own.
//
//   build/bench_https [--scenarios closing,speed] [--runs N] [--dir DIR] [--keep] [--kavelo PATH]
//
//   closing  11 terminals at once, each PUT S_HACH.dat, PUT CTRL.csv and GET its 20 MB SHOMAS.csv read at 4 MB/s,
//            beside 40 connections that never say a word: the total time and the server's resident memory
//            (VmRSS when idle, VmHWM at its peak)
//   speed    one terminal over loopback: a 50 MB upload and a 50 MB download, TLS included, in MB/s
//
// Each scenario runs --runs times (default 3) against a fresh server; the median is printed last.

#include "HeadlessServer.h"
#include "Usage.h"

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

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace kavelo;

constexpr int kTerminals = 11;
constexpr int kSpeedTerminal = 12;
constexpr int kSilent = 40;
constexpr qint64 kMB = 1000 * 1000;
constexpr qint64 kMaster = 20 * kMB;
constexpr qint64 kLarge = 50 * kMB;

struct Run
{
    QString home;
    QString kavelo;
    quint16 v1Port = 0;
    quint16 httpsPort = 0;
    QString sha256;
    QMap<int, QByteArray> keys;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString folderOf(const Run& run, int terminal, const char* sub)
{
    return QStringLiteral("%1/HT/%2/%3/").arg(run.home).arg(terminal, 4, 10, QLatin1Char('0')).arg(QLatin1String(sub));
}

// A master of `size` bytes shaped as a product master's lines.
QByteArray masterOf(qint64 size)
{
    QByteArray content;
    content.reserve(size + 100);
    for (qint64 i = 0; content.size() < size; ++i) {
        content += QByteArray::number(4901000000000LL + i) + ",0001,PRODUCT " + QByteArray::number(i % 9973) +
                   ",0000198,0000298,20261209\r\n";
    }
    content.truncate(size);
    return content;
}

QString kaveloRun(const Run& run, const QStringList& args)
{
    QProcess process;
    process.start(run.kavelo, args + QStringList{QStringLiteral("--home"), run.home});
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        std::fprintf(
            stderr, "kavelo %s failed: %s\n", qPrintable(args.join(u' ')), process.readAllStandardError().constData());
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool prepare(Run& run)
{
    if (kaveloRun(run, {QStringLiteral("init")}).isEmpty()) {
        return false;
    }
    run.v1Port = freePort();
    run.httpsPort = freePort();
    QFile ini(run.home + QStringLiteral("/KAVELO.ini"));
    if (!ini.open(QIODevice::Append)) {
        return false;
    }
    ini.write(QStringLiteral("ListenPort=%1\r\nHttpsPort=%2\r\nStatusPort=0\r\n")
                  .arg(run.v1Port)
                  .arg(run.httpsPort)
                  .toLatin1());
    ini.close();
    for (int terminal = 1; terminal <= kSpeedTerminal; ++terminal) {
        const QString printed =
            kaveloRun(run, {QStringLiteral("terminal"), QStringLiteral("enroll"), QString::number(terminal)});
        for (const QString& line : printed.split(u'\n')) {
            if (line.startsWith(QLatin1String("kavelo://"))) {
                platform::Result<client::Enrollment> enrollment = client::parseEnrollment(line);
                if (!enrollment.isOk()) {
                    return false;
                }
                run.keys.insert(terminal, enrollment->key);
                run.sha256 = enrollment->sha256;
            }
        }
        QDir().mkpath(folderOf(run, terminal, "rcv"));
        QDir().mkpath(folderOf(run, terminal, "snd"));
        QDir().mkpath(QStringLiteral("%1/HT/backup/%2/snd").arg(run.home).arg(terminal, 4, 10, QLatin1Char('0')));
        QFile master(folderOf(run, terminal, "rcv") + QStringLiteral("SHOMAS.csv"));
        if (!master.open(QIODevice::WriteOnly) ||
            master.write(masterOf(terminal == kSpeedTerminal ? kLarge : kMaster)) < 0) {
            return false;
        }
    }
    return run.keys.size() == kSpeedTerminal;
}

client::TerminalClient::Https httpsOf(const Run& run)
{
    return {QStringLiteral("127.0.0.1"), run.httpsPort, run.sha256};
}

struct Outcome
{
    double seconds = 0;
    QString error;
};

// One terminal's closing time over HTTPS: its order file, its control file, its master read at 4 MB/s.
Outcome closing(const Run& run, int terminal, const QString& out)
{
    QElapsedTimer timer;
    timer.start();
    client::TerminalClient client(httpsOf(run), 60000);
    platform::Status status = client.connectAs(terminal, run.keys.value(terminal));
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
    if (status.isOk()) {
        QDir().mkpath(out);
        client.setLinkRate(4 * kMB);
        platform::Result<QStringList> fetched = client.get(out, false);
        status = fetched.isOk() ? client.bye() : fetched.status();
    }
    return Outcome{static_cast<double>(timer.nsecsElapsed()) / 1e9, status.message()};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool closingRun(const Run& run, double& total, double& peakMiB)
{
    bench::HeadlessServer server(run.kavelo, run.home, run.httpsPort);
    if (!server.ready()) {
        std::fprintf(stderr, "the server did not start\n");
        return false;
    }
    const qint64 idle = server.rss();
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < kSilent; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QStringLiteral("127.0.0.1"), run.httpsPort);
        silent.back()->waitForConnected(1000);
    }
    std::vector<Outcome> outcomes(kTerminals);
    std::vector<std::thread> threads;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kTerminals; ++i) {
        threads.emplace_back(
            [&, i] { outcomes[i] = closing(run, i + 1, run.home + QStringLiteral("/out/%1").arg(i + 1)); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    total = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    peakMiB = static_cast<double>(server.peak()) / (1024 * 1024);
    bool ok = true;
    std::printf("closing: %d terminals beside %d silent connections, total %.2f s; server RSS idle %.1f MiB, "
                "peak %.1f MiB\n",
                kTerminals,
                kSilent,
                total,
                static_cast<double>(idle) / (1024 * 1024),
                peakMiB);
    for (int i = 0; i < kTerminals; ++i) {
        std::printf("  terminal %2d: %6.2f s%s%s\n",
                    i + 1,
                    outcomes[i].seconds,
                    outcomes[i].error.isEmpty() ? "" : ", FAILED: ",
                    qPrintable(outcomes[i].error));
        ok = ok && outcomes[i].error.isEmpty();
    }
    std::fflush(stdout);
    return ok;
}

bool speedRun(const Run& run, double& up, double& down)
{
    bench::HeadlessServer server(run.kavelo, run.home, run.httpsPort);
    if (!server.ready()) {
        return false;
    }
    const QByteArray upload = masterOf(kLarge);
    client::TerminalClient client(httpsOf(run), 120000);
    platform::Status status = client.connectAs(kSpeedTerminal, run.keys.value(kSpeedTerminal));
    QElapsedTimer timer;
    timer.start();
    if (status.isOk()) {
        status = client.put(QStringLiteral("BIG.dat"), upload); // stored whole, then deleted as any other name
    }
    up = static_cast<double>(kLarge) / kMB / (static_cast<double>(timer.nsecsElapsed()) / 1e9);
    if (status.isOk()) {
        status = client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n");
    }
    const QString out = run.home + QStringLiteral("/out/speed");
    QDir().mkpath(out);
    timer.restart();
    if (status.isOk()) {
        platform::Result<QStringList> fetched = client.get(out, false);
        status = fetched.isOk() ? client.bye() : fetched.status();
    }
    down = static_cast<double>(kLarge) / kMB / (static_cast<double>(timer.nsecsElapsed()) / 1e9);
    std::printf("speed: 50 MB up %.0f MB/s, 50 MB down %.0f MB/s%s%s\n",
                up,
                down,
                status.isOk() ? "" : ", FAILED: ",
                qPrintable(status.message()));
    std::fflush(stdout);
    return status.isOk();
}

} // namespace

const char* const kUsage =
    "usage: bench_https [--scenarios closing,speed] [--runs N] [--dir DIR] [--keep] [--kavelo PATH]\n"
    "The terminals' HTTPS API, served by the kavelo executable (headless) in a program folder of its own.\n"
    "  closing  11 terminals at once: PUT S_HACH.dat, PUT CTRL.csv, GET a 20 MB master read at 4 MB/s, beside 40\n"
    "           silent connections; the total time and the server's resident memory (idle, peak)\n"
    "  speed    one terminal over loopback: a 50 MB upload and a 50 MB download, TLS included\n"
    "--runs N       each scenario N times against a fresh server (default 3); the median is printed last\n"
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
    QStringList scenarios = {QStringLiteral("closing"), QStringLiteral("speed")};
    QString dir = QDir::tempPath();
    QString kaveloPath = QCoreApplication::applicationDirPath() + QStringLiteral("/kavelo");
    int runs = 3;
    const bool keep = args.removeAll(QStringLiteral("--keep")) > 0;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--scenarios")) {
            scenarios = args[i + 1].split(u',');
        } else if (args[i] == QLatin1String("--dir")) {
            dir = args[i + 1];
        } else if (args[i] == QLatin1String("--kavelo")) {
            kaveloPath = args[i + 1];
        } else if (args[i] == QLatin1String("--runs")) {
            runs = qMax(1, args[i + 1].toInt());
        }
    }
    QTemporaryDir temp(dir + QStringLiteral("/bench_https-XXXXXX"));
    temp.setAutoRemove(!keep);
    Run run{temp.path(), kaveloPath, 0, 0, {}, {}};
    if (!prepare(run)) {
        std::fprintf(stderr, "preparing the program folder failed\n");
        return 1;
    }
    bool ok = true;
    if (scenarios.contains(QStringLiteral("closing"))) {
        std::vector<double> totals;
        std::vector<double> peaks;
        for (int i = 0; i < runs; ++i) {
            double total = 0;
            double peak = 0;
            ok = closingRun(run, total, peak) && ok;
            totals.push_back(total);
            peaks.push_back(peak);
        }
        std::printf("closing, median of %d: total %.2f s (target 10 s), server peak RSS %.1f MiB (target 256 MiB)\n",
                    runs,
                    median(totals),
                    median(peaks));
    }
    if (scenarios.contains(QStringLiteral("speed"))) {
        std::vector<double> ups;
        std::vector<double> downs;
        for (int i = 0; i < runs; ++i) {
            double up = 0;
            double down = 0;
            ok = speedRun(run, up, down) && ok;
            ups.push_back(up);
            downs.push_back(down);
        }
        std::printf("speed, median of %d: upload %.0f MB/s, download %.0f MB/s (target 150 MB/s each)\n",
                    runs,
                    median(ups),
                    median(downs));
    }
    return ok ? 0 : 1;
}
