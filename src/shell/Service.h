#ifndef KAVELO_SHELL_SERVICE_H
#define KAVELO_SHELL_SERVICE_H

#include "comm/ListenControl.h"
#include "comm/OperatorUi.h"
#include "comm/TransferHandler.h"
#include "distribution/Checkpoints.h"
#include "distribution/MasterPoll.h"
#include "distribution/PollCountdown.h"
#include "shell/HostImports.h"
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
// handling, the master poll timer with the checkpoints of its updates, the host imports, which it keeps apart from
// the poll, and the status page with its account of all of it. The main window and the headless service each put
// an OperatorUi in front.
class Service : public QObject
{
    Q_OBJECT

  public:
    // Runs with the built-in server.
    Service(Settings settings, comm::OperatorUi& ui, QObject* parent = nullptr);
    // Runs with the given server (tests: a scriptable fake, or a built-in server with limits of their own).
    Service(Settings settings, comm::OperatorUi& ui, std::unique_ptr<transfer::CommServer> server, QObject* parent = nullptr);
    ~Service() override;

    // The built-in server's configuration for these settings.
    static transfer::ServerConfig serverConfig(const Settings& settings);

    // Start-up: the countdown is 30, the status page opens (when StatusPort is set), the USB search runs, then the
    // listen toggle (which starts listening). Returns false when the operator chose no USB port: the program ends
    // and nothing listens. Starts the poll timer.
    bool start();
    // Stops listening (every session ends) and the poll timer. A poll in progress ends at its next yield, its
    // running update given up (nothing of it stored): the program is ending.
    void stop();

    // One tick of the poll timer (every 3000 ms): counts down and runs MasterPoll when the countdown says so. A tick
    // during a running poll only counts down.
    void pollTick();
    bool pollRunning() const { return m_pollRunning; }

    // Replaces the update applied by the poll (tests).
    void setUpdateFunction(distribution::UpdateFunction update) { m_update = std::move(update); }

    transfer::CommServer& server() { return *m_server; }
    comm::ListenControl& listenControl() { return *m_listen; }
    comm::TransferHandler& transferHandler() { return *m_transfers; }
    HostImports& imports() { return *m_imports; }
    const status::StatusBoard& statusBoard() const { return *m_board; }
    // The status server, once start() has opened it; null when StatusPort is 0 or its port could not be bound.
    status::StatusServer* statusServer() { return m_statusServer.get(); }
    // What the service is doing now, for the status page.
    status::LiveState liveState() const;
    const Settings& settings() const { return m_settings; }
    QTimer& pollTimer() { return m_timer; }

  private:
    void runTick();
    void pollFinished(const distribution::PollReport& report);
    void openStatusServer();

    Settings m_settings;
    comm::OperatorUi& m_ui;
    QDateTime m_startedAt;
    std::unique_ptr<status::StatusBoard> m_board; // outlives the server, which reports to it
    std::unique_ptr<transfer::CommServer> m_server;
    std::unique_ptr<comm::ListenControl> m_listen;
    std::unique_ptr<transfer::UploadFiling> m_filing;
    std::unique_ptr<comm::TransferHandler> m_transfers;
    distribution::PollCountdown m_countdown;
    distribution::UpdateFunction m_update;
    QTimer m_timer;
    bool m_pollRunning = false;
    bool m_stopping = false;
    distribution::CheckpointWorker m_checkpoints;
    std::unique_ptr<HostImports> m_imports;
    std::unique_ptr<status::StatusServer> m_statusServer;
};

// The lines of LStatus for a poll: one per update file that failed, "0004 SHOMAS.dat 更新失敗: 12行目: ...".
QString pollFailureLines(const distribution::PollReport& report);

} // namespace kavelo::shell

#endif
