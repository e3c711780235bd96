#include "shell/Service.h"

#include "exchange/FolderTree.h"
#include "platform/FolderLock.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "platform/Translations.h"
#include "shell/Commands.h"
#include "shell/Logging.h"
#include "shell/SettingsChange.h"
#include "status/StatusServer.h"
#include "wire/SerialLine.h"

#include <QStorageInfo>

namespace kavelo::shell {

transfer::ServerConfig Service::serverConfig(const Settings& settings)
{
    transfer::ServerConfig config;
    config.programFolder = settings.programFolder;
    config.listenAddress = settings.listenAddress;
    config.listenPort = settings.listenPort;
    config.allowFrom = settings.allowFrom;
    config.maxFileSize = settings.maxFileSize;
    config.minFreeBytes = settings.minFreeBytes;
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
    for (const QString& name : QStringList{kSettingsFileName, platform::FolderLock::kFileName} +
                                   logFileNames(kLogFileName, settings.logKeep)) {
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
{
    if (!m_server) {
        comm::OperatorUi* operatorUi = &m_ui;
        m_server = std::make_unique<transfer::TerminalServer>(
            serverConfig(m_settings),
            [operatorUi](const QStringList& ports) { return operatorUi->chooseUsbPort(ports); },
            [operatorUi](const QString& message) { operatorUi->showMessage(message); });
    }
    m_listen = std::make_unique<comm::ListenControl>(*m_server, m_ui);
    m_filing =
        std::make_unique<transfer::UploadFiling>(exchange::FolderTree(m_settings.DataRoot, m_settings.programFolder));
    m_server->setSavedFileHandling(m_filing.get());
    m_transfers = std::make_unique<comm::TransferHandler>(*m_server, m_ui);
    m_timer.setInterval(3000);
    connect(&m_timer, &QTimer::timeout, this, &Service::pollTick);
    m_jobs = jobRunner(m_settings);
    if (auto* builtIn = dynamic_cast<transfer::TerminalServer*>(m_server.get())) {
        builtIn->setTransferObserver(m_board.get());
    }
    connect(m_jobs.get(), &jobs::JobRunner::pollFinished, this, [this](const distribution::PollReport& report) {
        m_board->pollFinished(report, QDateTime::currentDateTime());
    });
    connect(m_jobs.get(), &jobs::JobRunner::importFinished, this, [this](const jobs::ImportOutcome& outcome) {
        m_board->importFinished(outcome, QDateTime::currentDateTime());
    });
    m_housekeeping = std::make_unique<Housekeeping>(
        exchange::FolderTree(m_settings.DataRoot, m_settings.programFolder), m_settings.backupKeepDays, *m_board);
}

Service::~Service()
{
    m_server->setSavedFileHandling(nullptr);
    m_timer.stop();
    m_jobs->stop();
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
    qCInfo(lcShell).noquote()
        << QStringLiteral("status page on http://%1:%2/").arg(config.address).arg(m_statusServer->port());
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
        live.serial = status::SerialView{
            line.config().port, wire::transportName(line.config().transport), line.isOpen(), line.problem()};
    }
    const QStorageInfo disk(m_settings.programFolder);
    if (disk.isValid() && disk.isReady()) {
        live.diskFreeBytes = disk.bytesAvailable();
        live.diskSizeBytes = disk.bytesTotal();
    }
    live.uploadAlertSeconds = qint64(m_settings.uploadAlertHours) * 3600;
    live.minFreeBytes = m_settings.minFreeBytes;
    if (builtIn) {
        live.refusingUploads = builtIn->diskShort();
        addTransferState(*builtIn, live);
    }
    live.work = m_jobs->state();
    return live;
}

namespace {

void addTransferState(const transfer::TerminalServer& server, status::LiveState& live)
{
    for (const wire::Occupant* session : server.openSessions()) {
        live.sessions.push_back(status::SessionView{session->terminalNo(),
                                                    wire::transportName(session->transport()),
                                                    session->peer(),
                                                    session->since(),
                                                    session->activity()});
    }
    if (const transfer::HttpsEndpoint* https = server.https()) {
        live.https = status::HttpsView{https->port(), https->serving(), https->problem(), https->fingerprint()};
    }
    const transfer::KeyRing& keys = server.keyRing();
    for (const transfer::EnrolledKey& key : keys.keys().keys()) {
        const transfer::KeyUse use = keys.lastUses().value(key.terminal);
        const bool current = use.at.isValid() && use.at >= key.enrolledAt; // an older use was the old key's
        live.keys.push_back(status::KeyView{
            key.terminal, key.enrolledAt, current ? use.at : QDateTime(), current ? use.protocol : QString()});
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
    m_board->settingsRead(QDateTime::currentDateTime());
    m_started = true;
    openStatusServer();
    m_timer.start();
    if (!m_listen->searchUsbUnit()) {
        m_timer.stop();
        return false;
    }
    m_housekeeping->start();
    m_listen->toggleListening();
    return true;
}

void Service::stop()
{
    m_timer.stop();
    m_housekeeping->stop();
    if (m_server->Listening()) {
        m_server->setListening(false);
    }
    m_jobs->stop();
}

bool Service::reload()
{
    auto say = [](const char* text) { return platform::japanese("Reload", text); };
    std::variant<Settings, SettingsError> read = loadSettings(m_settings.programFolder);
    const QDateTime now = QDateTime::currentDateTime();
    if (const SettingsError* error = std::get_if<SettingsError>(&read)) {
        qCCritical(lcShell).noquote()
            << QStringLiteral("settings not reloaded: %1; the settings in force stay").arg(error->text());
        m_board->settingsRefused(now, error->text(), error->japaneseText(), error->file, error->line);
        m_ui.settingsReloaded(say("Settings not reloaded: %1 The settings in force stay.").arg(error->japaneseText()));
        return false;
    }
    Settings next = std::get<Settings>(std::move(read));
    const SettingsChange change = compareSettings(m_settings, next);
    for (const QString& warning : next.warnings) {
        qCWarning(lcShell).noquote() << warning;
    }
    applySettings(std::move(next));
    m_board->settingsReloaded(now, change.restartNeeded);
    QString logged =
        change.applied.isEmpty()
            ? QStringLiteral("settings reloaded: nothing changed")
            : QStringLiteral("settings reloaded: %1 changed").arg(change.applied.join(QStringLiteral(", ")));
    if (!change.restartNeeded.isEmpty()) {
        logged += QStringLiteral("; %1 changed but take effect at the next start")
                      .arg(change.restartNeeded.join(QStringLiteral(", ")));
    }
    qCInfo(lcShell).noquote() << logged;
    m_ui.settingsReloaded(change.restartNeeded.isEmpty() ? say("Settings reloaded.")
                                                         : say("Settings reloaded; %1 take effect after a restart.")
                                                               .arg(change.restartNeeded.join(QStringLiteral(", "))));
    return true;
}

void Service::applySettings(Settings next)
{
    const bool statusMoved = next.statusAddress != m_settings.statusAddress ||
                             next.statusPort != m_settings.statusPort ||
                             next.statusAllowFrom != m_settings.statusAllowFrom;
    m_settings = std::move(next);
    setLogRotation(m_settings.logMaxBytes, m_settings.logKeep);
    if (auto* builtIn = dynamic_cast<transfer::TerminalServer*>(m_server.get())) {
        builtIn->reconfigure(serverConfig(m_settings));
        builtIn->reloadKeys();
    }
    m_housekeeping->setKeepDays(m_settings.backupKeepDays);
    if (statusMoved && m_started) {
        m_statusServer.reset(); // a page being answered is cut off: a browser asks again
        openStatusServer();
    }
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
