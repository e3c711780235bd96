// Load benchmark: 11 simulated terminals, all started at once against one server on loopback, each doing
// `--rounds` rounds (default 200) of upload S_HACH.dat + S_TANA.dat + CTRL.csv + GET, while master polls apply
// product updates on the server's thread. Checks that every upload is accounted for and every terminal received
// only its own masters; reports time, sessions per second and memory. Exit 1 when anything did not hold.
//
//   build/bench_load [--rounds N] [--rows N]
#include "Usage.h"
#include "../tests/reliability/LoadScenario.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

const char* const kUsage =
    "usage: bench_load [--rounds N] [--rows N]\n"
    "11 terminals at once, each doing N rounds (default 200) of S_HACH.dat + S_TANA.dat + CTRL.csv + GET, while polls\n"
    "apply product updates of --rows lines (default 300). Exit 1 when an upload or a master went missing or astray.\n";

int main(int argc, char** argv)
{
    if (kavelo::bench::printedUsage(argc, argv, kUsage)) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    kavelo::reliability::load::Options options;
    options.rounds = 200;
    options.timeoutMs = 3600000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            options.rounds = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--rows") == 0) {
            options.productRows = std::atoi(argv[i + 1]);
        }
    }
    const kavelo::reliability::load::Report report = kavelo::reliability::load::run(options);
    std::printf("terminals            %d\n", options.terminals);
    std::printf("rounds per terminal  %d\n", options.rounds);
    std::printf("sessions             %d (%d uploads, %d GETs, %d master files received)\n",
                report.sessions,
                report.uploads,
                report.gets,
                report.mastersReceived);
    std::printf("wall time            %.1f s (%.1f sessions/s)\n",
                report.elapsedMs / 1000.0,
                report.elapsedMs > 0 ? report.sessions * 1000.0 / report.elapsedMs : 0.0);
    std::printf("polls                %d (%d product updates applied, %d failed)\n",
                report.polls,
                report.pollUpdates,
                report.pollFailures);
    std::printf("RSS after 1/4        %lld KiB\n", static_cast<long long>(report.rssAfterFirstQuarterKb));
    std::printf("RSS at the end       %lld KiB\n", static_cast<long long>(report.rssEndKb));
    std::printf("peak RSS             %lld KiB\n", static_cast<long long>(report.peakRssKb));
    std::printf("problems             %lld\n", static_cast<long long>(report.problems.size()));
    for (const QString& problem : report.problems.mid(0, 20)) {
        std::printf("  %s\n", problem.toLocal8Bit().constData());
    }
    return report.problems.isEmpty() ? 0 : 1;
}
