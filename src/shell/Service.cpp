#include "shell/Service.h"

#include "comm/SerialLine.h"
#include "exchange/FolderTree.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "shell/Commands.h"
#include "shell/Logging.h"
#include "status/StatusServer.h"

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
    , m_startedAt(QDateTime::currentDateTime())
    , m_board(std::make_unique<status::StatusBoard>())
    , m_server(std::move(server))
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
    m_jobs = jobRunner(m_settings);
    if (auto* builtIn = dynamic_cast<comm::TerminalServer*>(m_server.get())) {
        builtIn->setTransferObserver(m_board.get());
    }
    connect(m_jobs.get(), &jobs::JobRunner::pollFinished, this, [this](const distribution::PollReport& report) {
        m_board->pollFinished(report, QDateTime::currentDateTime());
    });
    connect(m_jobs.get(), &jobs::JobRunner::importFinished, this, [this](const jobs::ImportOutcome& outcome) {
        m_board->importFinished(outcome, QDateTime::currentDateTime());
    });
}

Service::~Service()
{
    m_timer.stop();
    m_jobs->stop();
    if (auto* builtIn = dynamic_cast<comm::TerminalServer*>(m_server.get())) {
        builtIn->setTransferObserver(nullptr);
    }
}

void Service::openStatusServer()
{
    if (m_settings.statusPort == 0 || m_statusServer) {
        return; // StatusPort=0: no status page
    }
    status::StatusServerConfig config;
    config.address = m_settings.statusAddress;
    config.port = m_settings.statusPort;
    QStringList invalid;
    config.allowed = comm::parseAllowFrom(m_settings.statusAllowFrom, &invalid, status::kDefaultStatusAllowFrom);
    for (const QString& entry : invalid) {
        qCWarning(lcShell).noquote()
            << QStringLiteral("StatusAllowFrom: %1 is not an address or a range; left out").arg(entry);
    }
    auto server = std::make_unique<status::StatusServer>(config, *m_board, [this] { return liveState(); });
    platform::Status bound = server->listen();
    if (!bound.isOk()) {
        // Terminals are served all the same.
        qCCritical(lcShell).noquote() << QStringLiteral("status page: cannot listen on %1").arg(bound.message());
        m_ui.showMessage(QStringLiteral("状況ページを開けません: %1").arg(bound.message()));
        return;
    }
    m_statusServer = std::move(server);
    qCInfo(lcShell).noquote() << QStringLiteral("status page on http://%1:%2/").arg(config.address).arg(m_statusServer->port());
}

status::LiveState Service::liveState() const
{
    status::LiveState live;
    live.version = QStringLiteral(KAVELO_VERSION);
    live.startedAt = m_startedAt;
    live.programFolder = m_settings.programFolder;
    live.listening = m_server->Listening();
    live.ipAddress = m_server->IPAddress();
    live.ipPort = m_server->PortNo();
    const auto* builtIn = dynamic_cast<const comm::TerminalServer*>(m_server.get());
    live.ipBound = builtIn ? builtIn->listeningOnIp() : live.listening;
    live.ipProblem = builtIn ? builtIn->bindProblem() : QString();
    if (builtIn && builtIn->serialLine()) {
        const comm::SerialLine& line = *builtIn->serialLine();
        live.serial = status::SerialView{line.config().port, comm::transportName(line.config().transport),
                                         line.isOpen(), line.problem()};
    }
    if (builtIn) {
        for (const comm::SessionChannel* session : builtIn->openSessions()) {
            live.sessions.push_back(status::SessionView{session->terminalNo(), comm::transportName(session->transport()),
                                                        session->peer(), session->since(), session->activity()});
        }
    }
    live.work = m_jobs->state();
    return live;
}

bool Service::start()
{
    openStatusServer();
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
    m_timer.stop();
    if (m_server->Listening()) {
        m_server->setListening(false);
    }
    m_jobs->stop();
}

void Service::pollTick()
{
    // A timer slot is an event handler: nothing may leave it, and a failed tick must not stop the next one.
    platform::guarded(lcShell, "poll timer", [this] {
        m_jobs->tick();
        const int countdown = m_jobs->state().countdown;
        m_ui.setCountdownCaption(QString::number(countdown));
        m_board->setNextPoll(QDateTime::currentDateTime().addMSecs(qint64(countdown) * m_timer.interval()));
    });
}

} // namespace kavelo::shell
