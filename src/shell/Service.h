#ifndef KAVELO_SHELL_SERVICE_H
#define KAVELO_SHELL_SERVICE_H

#include "comm/ListenControl.h"
#include "comm/OperatorUi.h"
#include "comm/TransferHandler.h"
#include "distribution/MasterPoll.h"
#include "jobs/JobRunner.h"
#include "shell/Housekeeping.h"
#include "shell/Settings.h"
#include "status/LiveState.h"
#include "status/StatusBoard.h"
#include "transfer/CommServer.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <memory>

namespace kavelo::status {
class StatusServer;
}

namespace kavelo::shell {

// The core of the running program, free of widgets: the communication server, the listen control, the transfer
// handling, the poll timer, the job runner that runs the master polls and the host imports off the event loop, and
// the status page with its account of all of it. The main window and the headless service each put an OperatorUi
// in front.
class Service : public QObject
{
    Q_OBJECT

  public:
    // Runs with the built-in server.
    Service(Settings settings, comm::OperatorUi& ui, QObject* parent = nullptr);
    // Runs with the given server (tests: a scriptable fake, or a built-in server with limits of their own).
    Service(Settings settings,
            comm::OperatorUi& ui,
            std::unique_ptr<transfer::CommServer> server,
            QObject* parent = nullptr);
    ~Service() override;

    // The built-in server's configuration for these settings.
    static transfer::ServerConfig serverConfig(const Settings& settings);

    // Start-up: the countdown is 30, the status page opens (when StatusPort is set), the USB search runs, then the
    // listen toggle (which starts listening). Returns false when the operator chose no USB port: the program ends
    // and nothing listens. Starts the poll timer and the daily care of the backup tree.
    bool start();
    // The program is ending: stops the poll timer and listening (every session ends), and stops the running job
    // (an update or import in progress is rolled back, its file left for next time); returns when it has stopped.
    void stop();

    // Reads KAVELO.ini and the terminal keys again while serving (SIGHUP, systemctl reload). What can change while
    // running takes effect at once, without ending a session the change does not concern (see
    // TerminalServer::reconfigure); the status page is opened anew when its address changed. What cannot (the
    // databases, DATA, the import's folder, UsbPort) keeps its value in force and is reported as taking effect at
    // the next start. A file that cannot be used changes nothing: its error, naming the line, is logged and shown
    // on the status line and the status page. Returns whether the file was taken.
    bool reload();

    // One tick of the poll timer (every 3000 ms): the job runner counts down and starts the poll when the countdown
    // says so; the countdown caption follows.
    void pollTick();
    bool pollRunning() const { return m_jobs->state().pollRunning; }

    // Replaces the update applied by the poll (tests).
    void setUpdateFunction(distribution::UpdateFunction update) { m_jobs->setUpdateFunction(std::move(update)); }

    transfer::CommServer& server() { return *m_server; }
    comm::ListenControl& listenControl() { return *m_listen; }
    comm::TransferHandler& transferHandler() { return *m_transfers; }
    jobs::JobRunner& jobs() { return *m_jobs; }
    const status::StatusBoard& statusBoard() const { return *m_board; }
    Housekeeping& housekeeping() { return *m_housekeeping; }
    // The status server, once start() has opened it; null when StatusPort is 0 or its port could not be bound.
    status::StatusServer* statusServer() { return m_statusServer.get(); }
    // What the service is doing now, for the status page.
    status::LiveState liveState() const;
    const Settings& settings() const { return m_settings; }
    QTimer& pollTimer() { return m_timer; }

  private:
    void openStatusServer();
    // Puts settings read again in force (what may change while running has been sorted out already).
    void applySettings(Settings next);

    Settings m_settings;
    comm::OperatorUi& m_ui;
    QDateTime m_startedAt;
    std::unique_ptr<status::StatusBoard> m_board; // outlives the server, which reports to it
    std::unique_ptr<transfer::CommServer> m_server;
    std::unique_ptr<comm::ListenControl> m_listen;
    std::unique_ptr<transfer::UploadFiling> m_filing;
    std::unique_ptr<comm::TransferHandler> m_transfers;
    QTimer m_timer;
    std::unique_ptr<jobs::JobRunner> m_jobs;
    std::unique_ptr<status::StatusServer> m_statusServer;
    std::unique_ptr<Housekeeping> m_housekeeping; // reports to the board
    bool m_started = false;
};

} // namespace kavelo::shell

#endif
