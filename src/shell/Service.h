#ifndef KAVELO_SHELL_SERVICE_H
#define KAVELO_SHELL_SERVICE_H

#include "comm/CommServer.h"
#include "comm/ListenControl.h"
#include "comm/OperatorUi.h"
#include "comm/TerminalServer.h"
#include "comm/TransferHandler.h"
#include "distribution/Checkpoints.h"
#include "distribution/MasterPoll.h"
#include "distribution/PollCountdown.h"
#include "shell/HostImports.h"
#include "shell/Settings.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace kavelo::shell {

// The core of the running program, free of widgets: the communication server, the listen control, the transfer
// handling, the master poll timer with the checkpoints of its updates, and the host imports, which it keeps apart
// from the poll. The main window and the headless service each put an OperatorUi in front.
class Service : public QObject
{
    Q_OBJECT

  public:
    // Runs with the built-in server.
    Service(Settings settings, comm::OperatorUi& ui, QObject* parent = nullptr);
    // Runs with the given server (tests: a scriptable fake, or a built-in server with limits of their own).
    Service(Settings settings, comm::OperatorUi& ui, std::unique_ptr<comm::CommServer> server, QObject* parent = nullptr);
    ~Service() override;

    // The built-in server's configuration for these settings.
    static comm::ServerConfig serverConfig(const Settings& settings);

    // Start-up: the countdown is 30, the USB search runs, then the listen toggle (which starts listening). Returns
    // false when the operator chose no USB port: the program ends and nothing listens. Starts the poll timer.
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

    comm::CommServer& server() { return *m_server; }
    comm::ListenControl& listenControl() { return *m_listen; }
    comm::TransferHandler& transferHandler() { return *m_transfers; }
    HostImports& imports() { return *m_imports; }
    const Settings& settings() const { return m_settings; }
    QTimer& pollTimer() { return m_timer; }

  private:
    void runTick();

    Settings m_settings;
    comm::OperatorUi& m_ui;
    std::unique_ptr<comm::CommServer> m_server;
    std::unique_ptr<comm::ListenControl> m_listen;
    std::unique_ptr<comm::TransferHandler> m_transfers;
    distribution::PollCountdown m_countdown;
    distribution::UpdateFunction m_update;
    QTimer m_timer;
    bool m_pollRunning = false;
    bool m_stopping = false;
    distribution::CheckpointWorker m_checkpoints;
    std::unique_ptr<HostImports> m_imports;
};

} // namespace kavelo::shell

#endif
