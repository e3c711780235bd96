#ifndef KAVELO_SHELL_HOUSEKEEPING_H
#define KAVELO_SHELL_HOUSEKEEPING_H

#include "exchange/BackupRetention.h"
#include "exchange/FolderTree.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QObject>
#include <QTimer>

#include <map>

namespace kavelo::status {
class StatusBoard;
}

namespace kavelo::shell {

// The service's care of the backup tree, on a worker thread: at start-up and then once a day the uploads older
// than BackupKeepDays are removed from it (and logged with their count and size); at start-up the newest upload of
// each terminal is read from it too, so that the metrics know when each terminal last sent data before the
// service started.
class Housekeeping : public QObject
{
    Q_OBJECT

  public:
    Housekeeping(exchange::FolderTree tree, int keepDays, status::StatusBoard& board, QObject* parent = nullptr);
    // Waits for a run in progress.
    ~Housekeeping() override;

    // The first run now, then one every 24 hours.
    void start();
    void stop() { m_daily.stop(); }
    // BackupKeepDays changed (a reload): the next run keeps this many days; a run now when the limit was lowered.
    void setKeepDays(int keepDays);
    // True while a run is under way (tests).
    bool running() const { return m_watcher.isRunning(); }

  private:
    struct Outcome
    {
        exchange::RetentionOutcome pruned;
        std::map<int, QDateTime> newest;
    };

    void run();
    void finished();

    const exchange::FolderTree m_tree;
    int m_keepDays;
    status::StatusBoard& m_board;
    QTimer m_daily;
    QFutureWatcher<Outcome> m_watcher;
    bool m_seeded = false;
};

} // namespace kavelo::shell

#endif
