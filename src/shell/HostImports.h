#ifndef KAVELO_SHELL_HOSTIMPORTS_H
#define KAVELO_SHELL_HOSTIMPORTS_H

#include "import/HostImport.h"
#include "import/ImportRunner.h"
#include "masters/MasterDefinition.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace kavelo::shell {

// The host imports of the running service, kept apart from its master poll so that an import and a terminal's
// master update never write the database at the same time: an import asked for while the poll runs waits until
// the poll has ended, and while an import runs the poll timer pauses (ticks resume with the countdown where it
// stood). One import at a time. Part of the Service, which tells it when a poll may have ended.
class HostImports : public QObject
{
    Q_OBJECT

public:
    enum class Request
    {
        Started,
        Queued,  // a poll runs: the import starts when it has ended
        Refused, // another import is waiting or running
    };

    // `pollRunning` is the service's own flag; `pollTimer` the timer that drives the poll.
    HostImports(import::ImportContext context, QTimer& pollTimer, const bool& pollRunning, QObject* parent = nullptr);

    Request request(const masters::MasterDefinition& master);
    // An import is waiting for the poll or running.
    bool busy() const { return m_queued != nullptr || m_runner.isRunning(); }
    // The master of the import that is waiting or running; empty otherwise.
    QString currentMaster() const;
    // Starts the waiting import when no poll runs (any more).
    void startQueued();

    const import::ImportContext& context() const { return m_context; }
    import::ImportRunner& runner() { return m_runner; }

Q_SIGNALS:
    void queued(const QString& master);

private:
    void onStarted();
    void onFinished();

    const import::ImportContext m_context;
    QTimer& m_pollTimer;
    const bool& m_pollRunning;
    import::ImportRunner m_runner;
    const masters::MasterDefinition* m_queued = nullptr;
    const masters::MasterDefinition* m_running = nullptr;
    bool m_pollTimerPaused = false;
};

} // namespace kavelo::shell

#endif
