// Transfer benchmark of the built-in terminal server over loopback:
//  1. upload of one large file (PUT), timed from the header to the OK;
//  2. terminals syncing at once: each sends CTRL.csv and fetches its six masters (GET).
// Usage: bench_transfer [--upload-mb 50] [--upload-name S_HACH.dat] [--rows 100000] [--terminals 11] [--runs 3]

#include "ServedBench.h"
#include "Usage.h"

#include "client/TerminalClient.h"
#include "exchange/FolderTree.h"
#include "masters/Masters.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace kavelo;
using bench::runOnThreads;
using bench::seconds;
using bench::SilentUi;

namespace {

// A CSV master of `rows` lines; row width roughly that of the master's export.
void writeMaster(const QString& path, const QString& master, int rows, int terminal)
{
    const int width = master == QLatin1String("SHOMAS") ? 120 : master == QLatin1String("JISYA") ? 40 : 70;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    QByteArray block;
    for (int row = 0; row < rows; ++row) {
        QByteArray line = QByteArray::number(terminal) + ',' + QByteArray::number(row).rightJustified(13, '0') + ',';
        line += QByteArray(width - line.size() - 2, 'A' + static_cast<char>(row % 26));
        line += "\r\n";
        block += line;
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block);
}

} // namespace

const char* const kUsage =
    "usage: bench_transfer [--upload-mb 50] [--upload-name S_HACH.dat] [--rows 100000] [--terminals 11] [--runs 3]\n"
    "A large upload over loopback, then that many terminals at once each sending CTRL.csv and fetching 6 masters of\n"
    "--rows rows (--terminals 0 leaves them out).\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int uploadMb = 50;
    int rows = 100000;
    int terminals = 11;
    int runs = 3;
    QString uploadName = QStringLiteral("S_HACH.dat");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const int value = args.at(i + 1).toInt();
        if (args.at(i) == QLatin1String("--upload-mb")) {
            uploadMb = value;
        } else if (args.at(i) == QLatin1String("--rows")) {
            rows = value;
        } else if (args.at(i) == QLatin1String("--terminals")) {
            terminals = value;
        } else if (args.at(i) == QLatin1String("--runs")) {
            runs = value;
        } else if (args.at(i) == QLatin1String("--upload-name")) {
            uploadName = args.at(i + 1);
        }
    }
    QLoggingCategory::setFilterRules(QStringLiteral("kavelo.*.info=false"));

    QTemporaryDir dir;
    const QString home = dir.path();
    const QString dataRoot = home + QStringLiteral("/HT/");
    for (int t = 1; t <= terminals; ++t) {
        const QString id = exchange::FolderTree::terminalId(t);
        QDir().mkpath(dataRoot + id + QStringLiteral("/rcv"));
        QDir().mkpath(dataRoot + id + QStringLiteral("/snd"));
        QDir().mkpath(dataRoot + QStringLiteral("backup/") + id + QStringLiteral("/snd"));
    }

    transfer::ServerConfig config;
    config.programFolder = home;
    config.listenPort = 0;
    config.maxFileSize = qint64(uploadMb + 1) * 1024 * 1024;
    SilentUi ui;
    transfer::TerminalServer server(config, nullptr, nullptr);
    transfer::UploadFiling filing(exchange::FolderTree(dataRoot, home));
    server.setSavedFileHandling(&filing);
    server.setListening(true);
    if (!server.Listening()) {
        return 1;
    }
    const quint16 port = static_cast<quint16>(server.PortNo());

    // 1. Upload.
    QByteArray content(qint64(uploadMb) * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 7919) >> 3);
    }
    std::vector<double> rates;
    for (int run = 0; run < runs; ++run) {
        qint64 ns = 0;
        platform::Status status;
        runOnThreads({[&] {
            client::TerminalClient client(QStringLiteral("127.0.0.1"), port);
            status = client.connectAs(1);
            QElapsedTimer timer;
            timer.start();
            if (status.isOk()) {
                status = client.put(uploadName, content);
            }
            ns = timer.nsecsElapsed();
            if (status.isOk()) {
                status = client.bye();
            }
        }});
        if (!status.isOk()) {
            std::fprintf(stderr, "upload failed: %s\n", qPrintable(status.message()));
            return 1;
        }
        rates.push_back(static_cast<double>(content.size()) / (1024.0 * 1024.0) / seconds(ns));
        std::printf(
            "upload %s %d MB: %.3f s, %.0f MB/s\n", qPrintable(uploadName), uploadMb, seconds(ns), rates.back());
    }
    std::sort(rates.begin(), rates.end());
    std::printf("upload median: %.0f MB/s\n", rates[rates.size() / 2]);
    content.clear();
    content.squeeze();

    // 2. Terminals syncing at once.
    qint64 bytesPerTerminal = 0;
    for (int t = 1; t <= terminals; ++t) {
        const QString rcv = dataRoot + exchange::FolderTree::terminalId(t) + QStringLiteral("/rcv/");
        for (const masters::MasterDefinition* master : masters::allMasters()) {
            const QString path = rcv + master->name + QStringLiteral(".csv");
            writeMaster(path, master->name, rows, t);
            if (t == 1) {
                bytesPerTerminal += QFile(path).size();
            }
        }
    }
    for (int run = 0; run < runs; ++run) {
        std::vector<platform::Status> results(terminals);
        std::vector<std::function<void()>> jobs;
        QTemporaryDir out;
        for (int t = 1; t <= terminals; ++t) {
            jobs.push_back([&, t] {
                const QString folder = out.filePath(QString::number(t));
                QDir().mkpath(folder);
                client::TerminalClient client(QStringLiteral("127.0.0.1"), port, 120000);
                platform::Status status = client.connectAs(t);
                if (status.isOk()) {
                    status = client.put(QStringLiteral("CTRL.csv"), "CTRL\r\n");
                }
                if (status.isOk()) {
                    platform::Result<QStringList> got = client.get(folder);
                    status = !got.isOk() ? got.status()
                             : got->size() == 6
                                 ? client.bye()
                                 : platform::Status::error(QStringLiteral("%1 masters").arg(got->size()));
                }
                results[t - 1] = status;
            });
        }
        QElapsedTimer timer;
        timer.start();
        runOnThreads(jobs);
        const qint64 ns = timer.nsecsElapsed();
        for (const platform::Status& status : results) {
            if (!status.isOk()) {
                std::fprintf(stderr, "sync failed: %s\n", qPrintable(status.message()));
                return 1;
            }
        }
        std::printf("%d terminals x 6 masters x %d rows (%.1f MB per terminal): %.2f s, %.0f MB/s\n",
                    terminals,
                    rows,
                    static_cast<double>(bytesPerTerminal) / (1024.0 * 1024.0),
                    seconds(ns),
                    static_cast<double>(bytesPerTerminal) * terminals / (1024.0 * 1024.0) / seconds(ns));
    }
    server.setListening(false);
    return 0;
}
