// How long a terminal waits for the answer to its HELLO while the master poll applies a 100,000-line product update:
// the service of this build serves on loopback in this process (as in the window or the headless service), a
// terminal on a thread of its own connects, says HELLO and BYE every 10 ms, and the 30th tick of the poll timer
// starts the poll. Terminals 3 and 7 hold 100,000 products each; terminal 7's update file replaces half of them and
// adds as many.
//
//   build/bench_reply [--runs N] [--dir DIR] [--keep]
//
// Prints for each run the time of the poll and, of the HELLOs sent while it ran, how many, the median, the 99th
// percentile and the longest wait (connect, HELLO, until "OK KAVELO 1" is read).

#include "ProductFolder.h"
#include "ServedBench.h"
#include "Usage.h"

#include "client/TerminalClient.h"
#include "distribution/MasterUpdate.h"
#include "exchange/FolderTree.h"
#include "masters/Masters.h"
#include "shell/Service.h"
#include "shell/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace kavelo;
using Clock = std::chrono::steady_clock;

constexpr qint64 kRowsPerTerminal = 100000;
constexpr qint64 kUpdateLines = 100000;
constexpr int kPauseMs = 10;

using Folder = bench::ProductFolder;

bool prepare(const Folder& folder)
{
    for (int terminal = 1; terminal <= 11; ++terminal) {
        QDir().mkpath(folder.context().tree.receiveFolder(exchange::FolderTree::terminalId(terminal)));
    }
    QFile ini(folder.home + QStringLiteral("/KAVELO.ini"));
    if (!ini.open(QIODevice::WriteOnly)) {
        return false;
    }
    ini.write(QStringLiteral("DBname=%1\r\nDATA=%2\r\nListenPort=0\r\nStatusPort=0\r\n")
                  .arg(folder.dbPath(), folder.dataRoot())
                  .toUtf8());
    ini.close();
    if (!bench::seedProducts(folder, kRowsPerTerminal)) {
        return false;
    }
    for (int terminal : {3, 7}) {
        QFile::remove(folder.updatePath(terminal));
    }
    return true;
}

struct Hello
{
    Clock::time_point at;
    double waitMs;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[index];
}

// One poll with the terminal saying HELLO meanwhile; false when something failed.
bool measure(const Folder& folder, int run)
{
    platform::Result<shell::Settings> settings = shell::ReadSettings(folder.home);
    if (!settings.isOk()) {
        std::fprintf(stderr, "%s\n", qPrintable(settings.status().message()));
        return false;
    }
    bench::SilentUi ui;
    shell::Service service(*settings, ui);
    if (!service.start()) {
        return false;
    }
    service.pollTimer().stop(); // the ticks come from here
    const quint16 port = static_cast<quint16>(service.server().PortNo());

    std::atomic<bool> done(false);
    std::mutex lock;
    std::vector<Hello> hellos;
    int failures = 0;
    std::thread terminal([&] {
        while (!done) {
            const Clock::time_point start = Clock::now();
            client::TerminalClient client(QStringLiteral("127.0.0.1"), port, 10000);
            const platform::Status hello = client.connectAs(3);
            const double waitMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            {
                std::lock_guard<std::mutex> guard(lock);
                if (hello.isOk()) {
                    hellos.push_back({start, waitMs});
                } else {
                    ++failures;
                }
            }
            if (hello.isOk()) {
                (void)client.bye();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
        }
    });

    // Let the terminal get going, then tick up to the poll and serve until it has ended.
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
    const Clock::time_point pollStart = Clock::now();
    for (int tick = 0; tick < 30; ++tick) {
        service.pollTick();
    }
    QEventLoop waiting;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &waiting, [&] {
        if (!service.pollRunning()) {
            waiting.quit();
        }
    });
    check.start(5);
    if (service.pollRunning()) {
        waiting.exec();
    }
    const Clock::time_point pollEnd = Clock::now();
    done = true;
    // The terminal's last session may still be waiting for this thread to serve it.
    QEventLoop drain;
    QTimer::singleShot(100, &drain, &QEventLoop::quit);
    drain.exec();
    terminal.join();
    service.stop();

    std::vector<double> during;
    for (const Hello& h : hellos) {
        if (h.at >= pollStart && h.at <= pollEnd) {
            during.push_back(h.waitMs);
        }
    }
    const bool applied = QFile::exists(folder.receiveFile(7, QStringLiteral("SHOMAS.sav")));
    std::printf("run %d: poll %.3f s%s; %zu HELLOs during it: median %.1f ms, 99th percentile %.1f ms, longest "
                "%.1f ms; %d failed\n",
                run,
                std::chrono::duration<double>(pollEnd - pollStart).count(),
                applied ? "" : " (NOT APPLIED)",
                during.size(),
                percentile(during, 0.5),
                percentile(during, 0.99),
                during.empty() ? 0.0 : *std::max_element(during.begin(), during.end()),
                failures);
    std::fflush(stdout);
    return applied && failures == 0 && !during.empty();
}

} // namespace

const char* const kUsage = "usage: bench_reply [--runs N] [--dir DIR] [--keep]\n"
                           "How long a terminal's HELLO waits for its answer while the poll applies a 100,000-line\n"
                           "product update in the same process.\n"
                           "--runs N           polls measured, each on a fresh copy of the database\n"
                           "--dir DIR, --keep  where the database and update file are made, and leave them there\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kavelo.*.info=false")); // the figures alone on the terminal
    QStringList args = app.arguments().mid(1);
    int runs = 3;
    QString dir;
    const bool keep = args.removeAll(QStringLiteral("--keep")) > 0;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs")) {
            runs = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--dir")) {
            dir = args[i + 1];
        }
    }
    QTemporaryDir temp((dir.isEmpty() ? QDir::tempPath() : dir) + QStringLiteral("/bench_reply-XXXXXX"));
    temp.setAutoRemove(!keep);
    const Folder folder{temp.path()};
    std::printf("preparing terminals 3 and 7 with %lld rows each in %s\n",
                static_cast<long long>(kRowsPerTerminal),
                qPrintable(folder.home));
    std::fflush(stdout);
    if (!prepare(folder)) {
        return 1;
    }
    const QString pristine = folder.home + QStringLiteral("/pristine.db");
    if (!QFile::copy(folder.dbPath(), pristine)) {
        return 1;
    }
    int failed = 0;
    for (int run = 1; run <= runs; ++run) {
        QFile::remove(folder.dbPath());
        QFile::remove(folder.dbPath() + QStringLiteral("-wal"));
        QFile::remove(folder.dbPath() + QStringLiteral("-shm"));
        QFile::remove(folder.receiveFile(7, QStringLiteral("SHOMAS.sav")));
        if (!QFile::copy(pristine, folder.dbPath()) ||
            !bench::writeProductUpdateFile(folder.updatePath(7), kUpdateLines, kRowsPerTerminal, 7, kRowsPerTerminal)) {
            return 1;
        }
        failed += measure(folder, run) ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
}
