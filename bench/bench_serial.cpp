// Terminals on a serial line: the built-in server serving one end of a pseudo-terminal pair made by socat, a
// terminal on the other end, in this process. Measures a 1 MB upload (S_TANA.dat) and a GET deflate of a 5 MB
// product master, once at the fastest rate the pair allows and once at 115200 baud (8N1: 11,520 bytes a second;
// a pseudo-terminal does not keep to a baud rate, so the terminal keeps to it).
//
//   build/bench_serial [--rates 0,115200]       0: as fast as the pair goes
//
// Needs socat (scripts/install-deps installs it).

#include "ProductRecords.h"
#include "ServedBench.h"
#include "Usage.h"

#include "../tests/support/PtyPair.h"

#include "client/TerminalClient.h"
#include "exchange/FolderTree.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

using namespace kavelo;

namespace {

constexpr qint64 kUploadBytes = 1000 * 1000;
constexpr qint64 kMasterBytes = 5 * 1000 * 1000;

bool writeMaster(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    std::mt19937_64 rng(5);
    QByteArray block;
    for (qint64 n = 0; file.size() + block.size() < kMasterBytes; ++n) {
        auto line = platform::encodeShiftJis(bench::productLine(n, rng));
        if (!line.isOk()) {
            return false;
        }
        block += *line + "\r\n";
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block.left(kMasterBytes - file.size()));
    return true;
}

struct Figures
{
    double uploadSeconds = 0;
    double getSeconds = 0;
    qint64 getBytes = 0;
    platform::Status status;
};

Figures measure(const QString& line, qint32 baud, const QString& out)
{
    Figures figures;
    client::TerminalClient client(client::TerminalClient::SerialLine{line, 115200}, 600000);
    client.setLinkRate(baud / 10); // 8 data bits, a start and a stop bit
    QByteArray upload(kUploadBytes, Qt::Uninitialized);
    for (qint64 i = 0; i < upload.size(); ++i) {
        upload[i] = static_cast<char>('0' + (i * 7) % 10);
    }
    figures.status = client.connectAs(1);
    QElapsedTimer timer;
    timer.start();
    if (figures.status.isOk()) {
        figures.status = client.put(QStringLiteral("S_TANA.dat"), upload);
    }
    figures.uploadSeconds = bench::seconds(timer.nsecsElapsed());
    if (figures.status.isOk()) {
        figures.status = client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n");
    }
    if (figures.status.isOk()) {
        const qint64 before = client.bytesReceived();
        timer.restart();
        platform::Result<QStringList> got = client.get(out, true);
        figures.getSeconds = bench::seconds(timer.nsecsElapsed());
        figures.getBytes = client.bytesReceived() - before;
        figures.status = got.isOk() ? client.bye() : got.status();
    }
    return figures;
}

} // namespace

const char* const kUsage =
    "usage: bench_serial [--rates 0,115200]\n"
    "A 1 MB upload and a GET deflate of a 5 MB master over a socat pseudo-terminal pair, at each rate in baud\n"
    "(0: as fast as the pair goes).\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QList<qint32> rates = {0, 115200};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--rates")) {
            rates.clear();
            for (const QString& rate : args.at(i + 1).split(u',')) {
                rates << rate.toInt();
            }
        }
    }
    QLoggingCategory::setFilterRules(QStringLiteral("kavelo.*.info=false"));
    test::PtyPair pty;
    if (!pty.running()) {
        std::fprintf(stderr, "socat could not make a pseudo-terminal pair\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString home = dir.path();
    const QString dataRoot = home + QStringLiteral("/HT/");
    for (const char* sub : {"0001/rcv", "0001/snd", "backup/0001/snd"}) {
        QDir().mkpath(dataRoot + QLatin1String(sub));
    }
    if (!writeMaster(dataRoot + QStringLiteral("0001/rcv/SHOMAS.csv"))) {
        return 1;
    }
    transfer::ServerConfig config;
    config.programFolder = home;
    config.listenPort = 0;
    config.serialPort = pty.serverEnd();
    bench::SilentUi ui;
    transfer::TerminalServer server(config, nullptr, nullptr);
    transfer::UploadFiling filing(exchange::FolderTree(dataRoot, home));
    server.setSavedFileHandling(&filing);
    server.setListening(true);
    QDir().mkpath(home + QStringLiteral("/out"));
    int failures = 0;
    for (qint32 rate : rates) {
        Figures figures;
        bench::runOnThreads({[&] { figures = measure(pty.terminalEnd(), rate, home + QStringLiteral("/out")); }});
        const QString label = rate == 0 ? QStringLiteral("fastest") : QStringLiteral("%1 baud").arg(rate);
        if (!figures.status.isOk()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(label), qPrintable(figures.status.message()));
            ++failures;
            continue;
        }
        std::printf("%s: 1 MB upload %.2f s (%.0f kB/s); GET deflate of a 5 MB master %.2f s, %.2f MB on the line\n",
                    qPrintable(label),
                    figures.uploadSeconds,
                    static_cast<double>(kUploadBytes) / 1000.0 / figures.uploadSeconds,
                    figures.getSeconds,
                    static_cast<double>(figures.getBytes) / 1e6);
    }
    server.setListening(false);
    return failures == 0 ? 0 : 1;
}
