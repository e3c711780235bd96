#include "shell/Commands.h"

#include "import/HostImport.h"
#include "masters/Masters.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kavelo::shell {

namespace {

// Below this size an import is over before a progress line would be worth reading.
constexpr qint64 kProgressMinBytes = 1024 * 1024;

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

QString masterNames()
{
    QStringList names;
    for (const masters::MasterDefinition* master : masters::allMasters()) {
        names << master->name;
    }
    return names.join(QLatin1Char(' '));
}

// One line on stderr that rewrites itself with the percentage done.
class ProgressLine
{
  public:
    explicit ProgressLine(QString label)
        : m_label(std::move(label))
    {
    }
    ~ProgressLine() { finish(); }

    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(qint64 done, qint64 total)
    {
        if (total <= kProgressMinBytes) {
            return;
        }
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == m_percent) {
            return;
        }
        m_percent = percent;
        std::fprintf(stderr, "\rkavelo: importing %s %3d%%", m_label.toLocal8Bit().constData(), percent);
        std::fflush(stderr);
    }

    // Ends the line, so that whatever follows starts on a line of its own.
    void finish()
    {
        if (m_percent >= 0) {
            std::fputc('\n', stderr);
            std::fflush(stderr);
            m_percent = -1;
        }
    }

  private:
    QString m_label;
    int m_percent = -1;
};

} // namespace

int runImport(const CommandContext& context)
{
    if (context.args.size() != 1) {
        printError(QStringLiteral("import: give one master name (%1)").arg(masterNames()));
        return kExitUsage;
    }
    const masters::MasterDefinition* master = masters::findMaster(context.args.front());
    if (!master) {
        printError(QStringLiteral("import: unknown master %1 (one of %2)").arg(context.args.front(), masterNames()));
        return kExitUsage;
    }
    platform::Result<Settings> settings = startCommand(context, QStringLiteral("import"), false);
    if (!settings.isOk()) {
        return kExitUsage;
    }

    // The import works on its own database and folder; DBname and DATA never change where it reads or writes.
    std::unique_ptr<jobs::JobRunner> runner = jobRunner(*settings);
    ProgressLine progressLine(master->hostFileName());
    if (stderrIsTerminal()) {
        QObject::connect(
            runner.get(), &jobs::JobRunner::importProgress, [&progressLine](const QString&, qint64 done, qint64 total) {
                progressLine.update(done, total);
            });
    }
    const QFuture<jobs::ImportOutcome> imported = runner->import(*master).outcome;
    waitUntilIdle(*runner);
    progressLine.finish();
    const jobs::ImportOutcome outcome = imported.result();
    if (!outcome.ok()) {
        printError(outcome.status.message()); // the runner has logged it
        return kExitFailed;
    }
    printLine(QStringLiteral("%1: %2 (%3 into %4)")
                  .arg(master->name,
                       import::summaryText(outcome.summary),
                       outcome.hostFile,
                       runner->importContext().database.describe()));
    return kExitOk;
}

} // namespace kavelo::shell
