// Commands killed with SIGKILL at seeded random moments: the database holds the state before or the state after
// (never a mix), the input file is untouched, the export is the old one or the new one, whole; a rerun then gives
// exactly what an uninterrupted run gives.
#include "ReliabilitySupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <functional>
#include <sys/types.h>

using namespace kavelo;
using namespace kavelo::test;
using namespace kavelo::reliability;

namespace {

constexpr int kKills = 12;
constexpr int kRows = 8000;
constexpr quint32 kSeed = 20261208;

QByteArray productFile(int firstCode, int count, int version)
{
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        lines << productRecord(firstCode + i, version);
    }
    return sjisLines(lines);
}

// Starts kavelo with the arguments and kills it with SIGKILL after `delayMs`; true when the kill came before the
// process ended by itself.
bool startAndKill(const QStringList& args, int delayMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(kaveloPath(), args);
    if (!process.waitForStarted(30000)) {
        ADD_FAILURE() << "kavelo did not start: " << process.errorString().toStdString();
        return false;
    }
    bool finished = process.waitForFinished(delayMs);
    if (!finished) {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(30000);
    }
    return !finished;
}

// Files left in a folder besides the expected ones: a killed writer may leave its temporary file, never a
// half-written file under a real name.
void expectOnlyTemporaries(const QString& folder, const QStringList& expected)
{
    for (const QString& name : fileNames(folder)) {
        if (expected.contains(name)) {
            continue;
        }
        EXPECT_FALSE(name.endsWith(QLatin1String(".csv")) || name.endsWith(QLatin1String(".dat")) ||
                     name.endsWith(QLatin1String(".DAT")) || name.endsWith(QLatin1String(".sav")))
            << "unexpected file " << name.toStdString() << " in " << folder.toStdString();
    }
}

// Kills `args` at seeded random moments spread over `windowMs` (the length of an uninterrupted run). A run that
// ends before its kill is tried again with half the delay, so that every trial kills a running process. After each
// kill `afterKill` checks the files and `afterRerun` checks what an uninterrupted rerun left. Returns the number
// of kills that landed while the command ran.
int killAtRandomMoments(const QStringList& args,
                        int windowMs,
                        quint32 seed,
                        const std::function<void()>& restore,
                        const std::function<void()>& afterKill,
                        const std::function<void()>& afterRerun)
{
    QRandomGenerator rng(seed);
    int killedMidway = 0;
    for (int i = 0; i < kKills; ++i) {
        // The i-th kill falls somewhere in the i-th slice of the run.
        int delay = (windowMs * i + static_cast<int>(rng.bounded(windowMs))) / kKills;
        for (int attempt = 0; attempt < 6; ++attempt, delay /= 2) {
            SCOPED_TRACE(
                QStringLiteral("kill %1 after %2 ms (run takes %3 ms)").arg(i).arg(delay).arg(windowMs).toStdString());
            restore();
            const bool killed = startAndKill(args, delay);
            afterKill();
            KaveloRun rerun = runKavelo(args);
            EXPECT_EQ(rerun.exitCode, 0) << rerun.err.toStdString();
            afterRerun();
            if (killed) {
                ++killedMidway;
                break;
            }
        }
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    return killedMidway;
}

} // namespace

TEST(CrashSafety, UpdateKilledAtRandomMomentsLeavesBeforeOrAfter)
{
    ProgramFolder folder;
    const QString home = folder.home();
    const QString dat = folder.rcv(7) + QStringLiteral("SHOMAS.dat");
    const QString csv = folder.rcv(7) + QStringLiteral("SHOMAS.csv");

    // Before: terminals 3 and 7 hold 3,000 rows each and terminal 7 has its export.
    writeFile(folder.rcv(3) + QStringLiteral("SHOMAS.dat"), productFile(1, 3000, 1));
    writeFile(dat, productFile(1, 3000, 1));
    KaveloRun first = runKavelo(
        {QStringLiteral("update"), QStringLiteral("SHOMAS"), QStringLiteral("7"), QStringLiteral("--home"), home});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    KaveloRun three = runKavelo(
        {QStringLiteral("update"), QStringLiteral("SHOMAS"), QStringLiteral("3"), QStringLiteral("--home"), home});
    ASSERT_EQ(three.exitCode, 0) << three.err.toStdString();

    const QString snapshot = folder.path(QStringLiteral("before.db"));
    ASSERT_TRUE(QFile::copy(folder.dbPath(), snapshot));
    const QString before = dumpTables(folder.dbPath());
    const QByteArray oldCsv = readFile(csv);
    ASSERT_FALSE(oldCsv.isEmpty());

    // The large update: replaces the 3,000 rows and adds 5,000.
    const QByteArray update = productFile(1, kRows, 2);
    writeFile(dat, update);
    KaveloRun full = runKavelo(
        {QStringLiteral("update"), QStringLiteral("SHOMAS"), QStringLiteral("7"), QStringLiteral("--home"), home});
    ASSERT_EQ(full.exitCode, 0) << full.err.toStdString();
    const QString after = dumpTables(folder.dbPath());
    const QByteArray newCsv = readFile(csv);
    ASSERT_NE(before, after);
    ASSERT_NE(oldCsv, newCsv);
    const int window = static_cast<int>(full.elapsedMs) + 20;

    const QStringList args{
        QStringLiteral("update"), QStringLiteral("SHOMAS"), QStringLiteral("7"), QStringLiteral("--home"), home};
    const int killedMidway = killAtRandomMoments(
        args,
        window,
        kSeed,
        [&] {
            restoreDatabase(snapshot, folder.dbPath());
            writeFile(csv, oldCsv);
        },
        [&] {
            const QString state = dumpTables(folder.dbPath());
            EXPECT_TRUE(state == before || state == after) << "the database holds a mix of before and after";
            EXPECT_EQ(readFile(dat), update) << "the update file must stay as it was";
            const QByteArray exported = readFile(csv);
            EXPECT_TRUE(exported == oldCsv || exported == newCsv) << "the export is neither the old nor the new one";
            expectOnlyTemporaries(folder.rcv(7), {QStringLiteral("SHOMAS.dat"), QStringLiteral("SHOMAS.csv")});
        },
        [&] {
            EXPECT_EQ(dumpTables(folder.dbPath()), after);
            EXPECT_EQ(readFile(csv), newCsv);
        });
    EXPECT_GE(killedMidway, 10) << "at least ten kills must land while the update runs";
}

TEST(CrashSafety, ImportKilledAtRandomMomentsLeavesBeforeOrAfter)
{
    ProgramFolder folder;
    const QString home = folder.home();
    const QString host = folder.importDir() + QStringLiteral("SHOMAS.DAT");

    // Before: 3,000 imported rows beside a terminal's 3,000 rows.
    writeFile(folder.rcv(7) + QStringLiteral("SHOMAS.dat"), productFile(1, 3000, 1));
    writeFile(host, productFile(1, 3000, 1));
    KaveloRun first = runKavelo({QStringLiteral("import"), QStringLiteral("SHOMAS"), QStringLiteral("--home"), home});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    KaveloRun terminal = runKavelo(
        {QStringLiteral("update"), QStringLiteral("SHOMAS"), QStringLiteral("7"), QStringLiteral("--home"), home});
    ASSERT_EQ(terminal.exitCode, 0) << terminal.err.toStdString();

    const QString snapshot = folder.path(QStringLiteral("before.db"));
    ASSERT_TRUE(QFile::copy(folder.dbPath(), snapshot));
    const QString before = dumpTables(folder.dbPath());

    const QByteArray hostFile = productFile(1, kRows, 2);
    writeFile(host, hostFile);
    KaveloRun full = runKavelo({QStringLiteral("import"), QStringLiteral("SHOMAS"), QStringLiteral("--home"), home});
    ASSERT_EQ(full.exitCode, 0) << full.err.toStdString();
    const QString after = dumpTables(folder.dbPath());
    ASSERT_NE(before, after);
    const int window = static_cast<int>(full.elapsedMs) + 20;

    const QStringList args{QStringLiteral("import"), QStringLiteral("SHOMAS"), QStringLiteral("--home"), home};
    const int killedMidway = killAtRandomMoments(
        args,
        window,
        kSeed + 1,
        [&] { restoreDatabase(snapshot, folder.dbPath()); },
        [&] {
            const QString state = dumpTables(folder.dbPath());
            EXPECT_TRUE(state == before || state == after) << "the database holds a mix of before and after";
            EXPECT_EQ(readFile(host), hostFile) << "the host file must stay as it was";
        },
        [&] { EXPECT_EQ(dumpTables(folder.dbPath()), after); });
    EXPECT_GE(killedMidway, 10) << "at least ten kills must land while the import runs";
}
