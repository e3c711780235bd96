#include "shell/Service.h"

#include "exchange/FolderTree.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "shell/Logging.h"
#include "status/StatusServer.h"
#include "wire/SerialLine.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace kavelo::shell {

transfer::ServerConfig Service::serverConfig(const Settings& settings)
{
    transfer::ServerConfig config;
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
    config.requireTerminalKeys = settings.requireTerminalKeys;
    config.https = settings.httpsPort != 0;
    config.httpsPort = settings.httpsPort;
    config.tls = transfer::tlsFiles(settings.programFolder, settings.tlsCertificate, settings.tlsKey);
    config.protectedNames = transfer::TerminalServer::defaultProtectedNames();
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

Service::Service(Settings settings, comm::OperatorUi& ui, std::unique_ptr<transfer::CommServer> server, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_ui(ui)
    , m_startedAt(QDateTime::currentDateTime())
    , m_board(std::make_unique<status::StatusBoard>())
    , m_server(std::move(server))
    , m_update(distribution::updateMaster)
{
    if (!m_server) {
        comm::OperatorUi* operatorUi = &m_ui;
        m_server = std::make_unique<transfer::TerminalServer>(
            serverConfig(m_settings),
            [operatorUi](const QStringList& ports) { return operatorUi->chooseUsbPort(ports); },
            [operatorUi](const QString& message) { operatorUi->showMessage(message); });
    }
    m_listen = std::make_unique<comm::ListenControl>(*m_server, m_ui);
    m_filing = std::make_unique<transfer::UploadFiling>(
        exchange::FolderTree(m_settings.DataRoot, m_settings.programFolder));
    m_server->setSavedFileHandling(m_filing.get());
    m_transfers = std::make_unique<comm::TransferHandler>(*m_server, m_ui);
    m_timer.setInterval(3000);
    connect(&m_timer, &QTimer::timeout, this, &Service::pollTick);
    m_imports = std::make_unique<HostImports>(import::ImportContext{m_settings.importDb, m_settings.importDir}, m_timer,
                                              m_pollRunning);
    if (auto* builtIn = dynamic_cast<transfer::TerminalServer*>(m_server.get())) {
        builtIn->setTransferObserver(m_board.get());
    }
    connect(&m_imports->runner(), &import::ImportRunner::finished, this, [this](const import::ImportOutcome& outcome) {
        m_board->importFinished(outcome, QDateTime::currentDateTime());
    });
    status::StatusBoard* board = m_board.get();
    setFailureListener([board](const QDateTime& at, const QString& text) { board->failureLogged(at, text); });
}

Service::~Service()
{
    setFailureListener({});
    m_server->setSavedFileHandling(nullptr);
    m_timer.stop();
    if (auto* builtIn = dynamic_cast<transfer::TerminalServer*>(m_server.get())) {
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
    config.allowed = wire::parseAllowFrom(m_settings.statusAllowFrom, &invalid, status::kDefaultStatusAllowFrom);
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

namespace {

// The transfer core's part of what the service is doing now.
void addTransferState(const transfer::TerminalServer& server, status::LiveState& live);

} // namespace

status::LiveState Service::liveState() const
{
    status::LiveState live;
    live.version = QStringLiteral(KAVELO_VERSION);
    live.startedAt = m_startedAt;
    live.programFolder = m_settings.programFolder;
    live.listening = m_server->Listening();
    live.ipAddress = m_server->IPAddress();
    live.ipPort = m_server->PortNo();
    const auto* builtIn = dynamic_cast<const transfer::TerminalServer*>(m_server.get());
    live.ipBound = builtIn ? builtIn->listeningOnIp() : live.listening;
    live.ipProblem = builtIn ? builtIn->bindProblem() : QString();
    if (builtIn && builtIn->serialLine()) {
        const wire::SerialLine& line = *builtIn->serialLine();
        live.serial = status::SerialView{line.config().port, wire::transportName(line.config().transport),
                                         line.isOpen(), line.problem()};
    }
    if (builtIn) {
        addTransferState(*builtIn, live);
    }
    return live;
}

namespace {

void addTransferState(const transfer::TerminalServer& server, status::LiveState& live)
{
    for (const wire::Occupant* session : server.openSessions()) {
        live.sessions.push_back(status::SessionView{session->terminalNo(), wire::transportName(session->transport()),
                                                    session->peer(), session->since(), session->activity()});
    }
    if (const transfer::HttpsEndpoint* https = server.https()) {
        live.https = status::HttpsView{https->port(), https->serving(), https->problem(), https->fingerprint()};
    }
    const transfer::KeyRing& keys = server.keyRing();
    for (const transfer::EnrolledKey& key : keys.keys().keys()) {
        const transfer::KeyUse use = keys.lastUses().value(key.terminal);
        const bool current = use.at.isValid() && use.at >= key.enrolledAt; // an older use was the old key's
        live.keys.push_back(status::KeyView{key.terminal, key.enrolledAt, current ? use.at : QDateTime(),
                                            current ? use.protocol : QString()});
    }
    live.keysProblem = keys.problem();
    for (const transfer::HeldOff& held : server.keyGuard().heldOff(QDateTime::currentDateTime())) {
        live.heldOff.push_back(status::HeldOffView{held.address.toString(), held.until});
    }
    live.authFailures = server.keyGuard().failures();
}

} // namespace

bool Service::start()
{
    m_stopping = false;
    m_countdown = distribution::PollCountdown(); // 30
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
    m_board->setNextPoll(QDateTime::currentDateTime().addMSecs(qint64(tick.caption) * m_timer.interval()));
    if (!tick.runPoll) {
        return;
    }
    m_pollRunning = true;
    distribution::UpdateContext context{m_settings.DBPath,
                                        exchange::FolderTree(m_settings.DataRoot, m_settings.programFolder)};
    context.checkpoints = &m_checkpoints;
    context.stopping = [this] { return m_stopping; };
    pollFinished(distribution::MasterPoll(context, [] { QCoreApplication::processEvents(); }, m_update));
    m_pollRunning = false;
}

void Service::pollFinished(const distribution::PollReport& report)
{
    m_board->pollFinished(report, QDateTime::currentDateTime());
    // A file that failed is tried again at every poll: the last poll's failures are those still standing.
    m_ui.setFailureLine(pollFailureLines(report));
}

QString pollFailureLines(const distribution::PollReport& report)
{
    static const QRegularExpression line(QStringLiteral(", line (\\d+): (.*)$"));
    QStringList lines;
    for (const distribution::PollEntry& entry : report.entries) {
        if (entry.ok) {
            continue;
        }
        const QRegularExpressionMatch at = line.match(entry.error);
        const QString reason = at.hasMatch() ? QStringLiteral("%1行目: %2").arg(at.captured(1), at.captured(2))
                                             : entry.error.section(QStringLiteral(": "), -1);
        lines << QStringLiteral("%1 %2.dat 更新失敗: %3")
                     .arg(exchange::FolderTree::terminalId(entry.terminalNo), entry.master, reason);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace kavelo::shell
