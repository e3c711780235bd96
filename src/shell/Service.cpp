#include "shell/Service.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "shell/Logging.h"

#include <QCoreApplication>

namespace kavelo::shell {

comm::ServerConfig Service::serverConfig(const Settings& settings)
{
    comm::ServerConfig config;
    config.programFolder = settings.programFolder;
    config.listenAddress = settings.listenAddress;
    config.listenPort = settings.listenPort;
    config.allowFrom = settings.allowFrom;
    config.maxFileSize = settings.maxFileSize;
    config.usbPort = settings.usbPort;
    config.serialPort = settings.serialPort;
    config.serialBaud = settings.serialBaud;
    config.serialRtsCts = settings.serialRtsCts;
    config.maxSessions = settings.maxSessions;
    config.maxStartups = settings.maxStartups;
    config.protectedNames = comm::TerminalServer::defaultProtectedNames();
    for (const QString& name : QStringList{kSettingsFileName} + logFileNames(kLogFileName, settings.logKeep)) {
        if (!config.protectedNames.contains(name, Qt::CaseInsensitive)) {
            config.protectedNames << name;
        }
    }
    return config;
}

Service::Service(Settings settings, comm::OperatorUi& ui, QObject* parent)
    : Service(settings, ui, nullptr, parent)
{
}

Service::Service(Settings settings, comm::OperatorUi& ui, std::unique_ptr<comm::CommServer> server, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_ui(ui)
    , m_server(std::move(server))
    , m_update(distribution::updateMaster)
{
    if (!m_server) {
        comm::OperatorUi* operatorUi = &m_ui;
        m_server = std::make_unique<comm::TerminalServer>(
            serverConfig(m_settings),
            [operatorUi](const QStringList& ports) { return operatorUi->chooseUsbPort(ports); },
            [operatorUi](const QString& message) { operatorUi->showMessage(message); });
    }
    m_listen = std::make_unique<comm::ListenControl>(*m_server, m_ui);
    m_transfers = std::make_unique<comm::TransferHandler>(
        *m_server, m_ui, exchange::FolderTree(m_settings.DataRoot, m_settings.programFolder));
    m_timer.setInterval(3000);
    connect(&m_timer, &QTimer::timeout, this, &Service::pollTick);
    m_imports = std::make_unique<HostImports>(import::ImportContext{m_settings.importDb, m_settings.importDir}, m_timer,
                                              m_pollRunning);
}

Service::~Service()
{
    m_timer.stop();
}

bool Service::start()
{
    m_stopping = false;
    m_countdown = distribution::PollCountdown(); // 30
    m_timer.start();
    if (!m_listen->searchUsbUnit()) {
        m_timer.stop();
        return false;
    }
    m_listen->toggleListening();
    return true;
}

void Service::stop()
{
    m_stopping = true;
    m_timer.stop();
    if (m_server->Listening()) {
        m_server->setListening(false);
    }
}

void Service::pollTick()
{
    // A timer slot is an event handler: nothing may leave it, and a failed poll must not stop the next one.
    const bool nested = m_pollRunning; // a tick during the poll's yield
    platform::guarded(lcShell, "master poll", [this] { runTick(); });
    if (!nested) {
        m_pollRunning = false;
        m_imports->startQueued();
    }
}

void Service::runTick()
{
    const distribution::PollCountdown::Tick tick = m_countdown.tick(m_pollRunning);
    m_ui.setCountdownCaption(QString::number(tick.caption));
    if (!tick.runPoll) {
        return;
    }
    m_pollRunning = true;
    distribution::UpdateContext context{m_settings.DBPath,
                                        exchange::FolderTree(m_settings.DataRoot, m_settings.programFolder)};
    context.checkpoints = &m_checkpoints;
    context.stopping = [this] { return m_stopping; };
    distribution::MasterPoll(context, [] { QCoreApplication::processEvents(); }, m_update);
    m_pollRunning = false;
}

} // namespace kavelo::shell
