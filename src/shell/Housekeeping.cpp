#include "shell/Housekeeping.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "status/StatusBoard.h"

#include <QPromise>
#include <QThreadPool>

#include <memory>

namespace kavelo::shell {

namespace {

constexpr int kDayMs = 24 * 60 * 60 * 1000;

} // namespace

Housekeeping::Housekeeping(exchange::FolderTree tree, int keepDays, status::StatusBoard& board, QObject* parent)
    : QObject(parent)
    , m_tree(std::move(tree))
    , m_keepDays(keepDays)
    , m_board(board)
{
    m_daily.setInterval(kDayMs);
    connect(&m_daily, &QTimer::timeout, this, [this] {
        platform::guarded(lcShell, "pruning the backup tree", [this] { run(); });
    });
    connect(&m_watcher, &QFutureWatcher<Outcome>::finished, this, [this] {
        platform::guarded(lcShell, "pruning the backup tree", [this] { finished(); });
    });
}

Housekeeping::~Housekeeping()
{
    m_daily.stop();
    m_watcher.waitForFinished();
}

void Housekeeping::start()
{
    m_daily.start();
    run();
}

void Housekeeping::setKeepDays(int keepDays)
{
    const bool sooner = keepDays > 0 && (m_keepDays <= 0 || keepDays < m_keepDays);
    m_keepDays = keepDays;
    if (sooner && m_daily.isActive()) {
        run();
    }
}

void Housekeeping::run()
{
    if (m_watcher.isRunning() || (m_seeded && m_keepDays <= 0)) {
        return;
    }
    auto promise = std::make_shared<QPromise<Outcome>>();
    m_watcher.setFuture(promise->future());
    promise->start();
    QThreadPool::globalInstance()->start([promise, tree = m_tree, keepDays = m_keepDays, seed = !m_seeded] {
        Outcome outcome;
        platform::guarded(lcExchange, "pruning the backup tree", [&] {
            outcome.pruned = exchange::pruneBackupTree(tree, keepDays, QDateTime::currentDateTime());
            if (seed) {
                outcome.newest = exchange::newestBackups(tree);
            }
        });
        promise->addResult(std::move(outcome));
        promise->finish();
    });
    m_seeded = true;
}

void Housekeeping::finished()
{
    const Outcome outcome = m_watcher.result();
    m_board.uploadsFiled(outcome.newest);
    const exchange::RetentionOutcome& pruned = outcome.pruned;
    if (pruned.removed > 0) {
        qCInfo(lcExchange).noquote() << QStringLiteral("backup tree: removed %1 uploads older than %2 days (%3 bytes)")
                                            .arg(pruned.removed)
                                            .arg(m_keepDays)
                                            .arg(pruned.bytes);
    }
    for (const QString& failure : pruned.failures) {
        qCWarning(lcExchange).noquote() << "backup tree: not removed:" << failure;
    }
    if (pruned.failed > pruned.failures.size()) {
        qCWarning(lcExchange).noquote() << QStringLiteral("backup tree: %1 more old uploads not removed")
                                               .arg(pruned.failed - pruned.failures.size());
    }
}

} // namespace kavelo::shell
