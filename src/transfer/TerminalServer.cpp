#include "transfer/TerminalServer.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/HttpsConnection.h"
#include "wire/SerialLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>

namespace kavelo::transfer {

using platform::Status;
using wire::ChannelHub;
using wire::SerialLine;
using wire::SerialLineConfig;
using wire::SessionChannel;
using wire::SessionLimits;
using wire::TransferOutcome;
using wire::Transport;

namespace {

SessionLimits limitsOf(const ServerConfig& config)
{
    SessionLimits limits;
    limits.session.maxFileSize = config.maxFileSize;
    limits.minFreeBytes = config.minFreeBytes;
    limits.session.protectedNames =
        config.protectedNames.isEmpty() ? TerminalServer::defaultProtectedNames() : config.protectedNames;
    limits.programFolder = config.programFolder;
    limits.idleTimeoutMs = config.idleTimeoutMs;
    limits.helloTimeoutMs = config.helloTimeoutMs;
    limits.handshakeTimeoutMs = config.handshakeTimeoutMs;
    return limits;
}

} // namespace

TerminalServer::TerminalServer(
    ServerConfig config, PortChooser chooser, Reporter reporter, platform::FileOps& files, QObject* parent)
    : CommServer(parent)
    , m_config(std::move(config))
    , m_limits(limitsOf(m_config))
    , m_chooser(std::move(chooser))
    , m_reporter(std::move(reporter))
    , m_files(files)
    , m_staged(m_config.programFolder, m_workers)
    , m_keys(m_config.programFolder)
    , m_places(m_config.maxSessions)
{
    connect(&m_keys, &KeyRing::keysChanged, this, [this](const QList<int>& terminals) {
        platform::guarded(lcComm, "ending the sessions of a changed key", [&] { onKeysChanged(terminals); });
    });
    m_allowed = allowedOf(m_config.allowFrom);
    // Preparing a master is disk and CPU work; more threads than cores would only queue behind each other.
    m_workers.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_tcp = std::make_unique<TcpEndpoint>(static_cast<ChannelHub&>(*this), tcpConfig(), m_reporter);
    connect(m_tcp.get(), &TcpEndpoint::started, this, &TerminalServer::onStarted);
}

TerminalServer::~TerminalServer()
{
    // Channels leave their places as they go, so they go before the places do.
    m_serial.reset();
    m_tcp.reset();
    m_https.reset();
    m_workers.waitForDone();
}

QList<wire::Subnet> TerminalServer::allowedOf(const QString& allowFrom)
{
    QStringList invalid;
    QList<wire::Subnet> allowed = wire::parseAllowFrom(allowFrom, &invalid);
    for (const QString& entry : invalid) {
        qCWarning(lcComm).noquote()
            << QStringLiteral("AllowFrom: %1 is not an address or a range; left out").arg(entry);
    }
    return allowed;
}

void TerminalServer::reconfigure(ServerConfig config)
{
    config.programFolder = m_config.programFolder;
    const ServerConfig old = std::exchange(m_config, std::move(config));
    m_limits = limitsOf(m_config);
    m_allowed = allowedOf(m_config.allowFrom);
    if (m_places.setMaxSessions(m_config.maxSessions) && !m_admitQueued) {
        m_admitQueued = true;
        QMetaObject::invokeMethod(this, &TerminalServer::admitWaiting, Qt::QueuedConnection);
    }
    m_tcp->reconfigure(tcpConfig());
    reconfigureSerial(old);
    reconfigureHttps();
}

void TerminalServer::reconfigureSerial(const ServerConfig& old)
{
    if (old.serialPort == m_config.serialPort && old.serialBaud == m_config.serialBaud &&
        old.serialRtsCts == m_config.serialRtsCts) {
        return;
    }
    stopSerial(QStringLiteral("the serial line's settings changed"));
    if (m_wanted) {
        startSerial();
    }
}

void TerminalServer::reconfigureHttps()
{
    if (!m_config.https) {
        if (m_https) {
            m_https->stop(QStringLiteral("HTTPS was turned off"));
        }
        return;
    }
    if (!m_https) {
        if (m_wanted) {
            startHttps();
        }
        return;
    }
    m_https->reconfigure(httpsConfig()); // at once while it serves or is tried
    if (m_wanted && !m_https->wanted()) {
        m_https->start(); // it was turned off before
    }
}

QStringList TerminalServer::defaultProtectedNames()
{
    QStringList names{QStringLiteral("KAVELO.ini"),
                      QStringLiteral("kavelo.log"),
                      QStringLiteral("kavelo"),
                      QStringLiteral("kavelo.exe"),
                      QStringLiteral("kavelo-terminal"),
                      QStringLiteral("kavelo-terminal.exe"),
                      kTerminalKeysFileName,
                      kKeyUseFileName};
    if (QCoreApplication::instance()) {
        const QString own = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        if (!own.isEmpty() && !names.contains(own, Qt::CaseInsensitive)) {
            names << own;
        }
    }
    return names;
}

int TerminalServer::TerminalNo() const
{
    return m_terminalNo;
}

int TerminalServer::PortKind() const
{
    return m_portKind;
}

QString TerminalServer::IPAddress() const
{
    return m_config.listenAddress;
}

int TerminalServer::PortNo() const
{
    return m_tcp->port();
}

bool TerminalServer::Listening() const
{
    return m_listening;
}

void TerminalServer::setListening(bool listening)
{
    if (listening) {
        if (m_listening) {
            return;
        }
        m_wanted = true;
        removeStaleFiles();
        const bool ip = m_tcp->start();
        if (!m_serial) {
            startSerial();
        }
        startHttps(); // which may have started listening already
        if (!m_listening && (ip || m_serial || (m_https && m_https->serving()))) {
            m_listening = true;
            Q_EMIT ListenStarted();
        }
        return;
    }
    m_wanted = false;
    m_tcp->stop(QStringLiteral("listening stopped")); // its sessions end (partial uploads discarded)
    if (m_https) {
        m_https->stop(QStringLiteral("listening stopped")); // also when it was still being tried
    }
    if (!m_listening) {
        return;
    }
    // The line's session ends now too; connections close once their last line is out.
    stopSerial(QStringLiteral("listening stopped"));
    m_listening = false;
    qCInfo(lcComm) << "listening stopped";
    Q_EMIT ListenStopped(QVariant());
}

void TerminalServer::startSerial()
{
    const QString port = servedPort();
    if (port.isEmpty()) {
        return;
    }
    Status servable = SerialLine::checkPort(port);
    if (!servable.isOk()) {
        qCCritical(lcComm).noquote() << servable.message();
        if (m_reporter) {
            m_reporter(QStringLiteral("シリアルポートを使えません: %1").arg(servable.message()));
        }
        return;
    }
    SerialLineConfig line;
    line.port = port;
    line.baud = m_config.serialBaud;
    line.rtsCts = m_config.serialRtsCts;
    line.transport = usbPortNames().contains(QFileInfo(port).fileName()) || QSerialPortInfo(port).hasVendorIdentifier()
                         ? Transport::UsbLine
                         : Transport::ComLine;
    line.retryMs = m_config.retryMs;
    m_serial = std::make_unique<SerialLine>(static_cast<ChannelHub&>(*this), line);
    m_serial->start();
}

void TerminalServer::startHttps()
{
    if (!m_config.https) {
        return;
    }
    if (!m_https) {
        m_https = std::make_unique<HttpsEndpoint>(static_cast<ChannelHub&>(*this), httpsConfig(), m_reporter);
        connect(m_https.get(), &HttpsEndpoint::started, this, &TerminalServer::onStarted);
    }
    m_https->start();
}

void TerminalServer::onStarted()
{
    if (m_wanted && !m_listening) {
        m_listening = true;
        Q_EMIT ListenStarted();
    }
}

TcpEndpointConfig TerminalServer::tcpConfig() const
{
    TcpEndpointConfig tcp;
    tcp.listen.address = m_config.listenAddress;
    tcp.listen.port = m_config.listenPort;
    tcp.listen.allowed = m_allowed;
    tcp.listen.maxStartups = m_config.maxStartups;
    tcp.maxSessions = m_config.maxSessions;
    tcp.retryMs = m_config.retryMs;
    return tcp;
}

HttpsEndpointConfig TerminalServer::httpsConfig() const
{
    HttpsEndpointConfig https;
    https.address = m_config.listenAddress;
    https.port = m_config.httpsPort;
    https.allowed = m_allowed;
    https.maxStartups = m_config.maxStartups;
    https.tls = m_config.tls;
    https.retryMs = m_config.retryMs;
    return https;
}

void TerminalServer::stopSerial(const QString& reason)
{
    if (!m_serial) {
        return;
    }
    // Deleted from the event loop: this may run inside the work of the line's own session.
    m_serial->stop(reason);
    SerialLine* line = m_serial.release();
    line->setParent(this);
    line->deleteLater();
}

QString TerminalServer::servedPort() const
{
    return m_config.serialPort.isEmpty() ? m_chosenPort : m_config.serialPort;
}

QStringList TerminalServer::servablePorts() const
{
    QStringList ports = usbPortNames();
    if (!m_config.serialPort.isEmpty() && !ports.contains(m_config.serialPort)) {
        ports << m_config.serialPort;
    }
    return ports;
}

QStringList TerminalServer::usbPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports) {
        if (port.hasVendorIdentifier()) {
            names << port.portName();
        }
    }
    return names;
}

qint16 TerminalServer::CountUsbPorts(qint32)
{
    const qsizetype count = servablePorts().size();
    return static_cast<qint16>(qMin<qsizetype>(count, 32767));
}

bool TerminalServer::ChooseUsbPort()
{
    const QStringList ports = servablePorts();
    if (ports.isEmpty() || !m_chooser) {
        return false;
    }
    const std::optional<int> chosen = m_chooser(ports);
    if (!chosen || *chosen < 0 || *chosen >= ports.size()) {
        return false;
    }
    m_chosenPort = ports.at(*chosen);
    qCInfo(lcComm).noquote() << (m_config.serialPort.isEmpty() || m_config.serialPort == m_chosenPort
                                     ? QStringLiteral("port %1 chosen; it is served while listening").arg(m_chosenPort)
                                     : QStringLiteral("port %1 chosen; SerialPort=%2 is served instead")
                                           .arg(m_chosenPort, m_config.serialPort));
    return true;
}

void TerminalServer::raiseTransfer(int terminalNo, Transport transport, qint16 kind, const QString& name)
{
    m_terminalNo = terminalNo;
    m_portKind = portKindOf(transport);
    Q_EMIT TransferStatus(kind, name, QVariant(), QVariant());
}

TransferOutcome TerminalServer::fileSaved(int terminalNo, Transport transport, const QString& name)
{
    m_terminalNo = terminalNo;
    m_portKind = portKindOf(transport);
    TransferOutcome outcome = handleSaved(name, m_terminalNo);
    if (outcome.staged) {
        // Right after the staging, before anything else can touch the program folder.
        m_staged.stage(m_terminalNo, *outcome.staged);
    }
    return outcome;
}

void TerminalServer::uploadFailed(int terminalNo, Transport transport, const QString& name, const Status& why)
{
    m_terminalNo = terminalNo;
    m_portKind = portKindOf(transport);
    Q_EMIT UploadFailed(name, why);
}

Status TerminalServer::roomForUpload(qint64 size)
{
    const qint64 keep = m_limits.minFreeBytes;
    if (keep <= 0) {
        return Status::ok();
    }
    const std::optional<qint64> available = m_files.availableBytes(m_config.programFolder);
    if (!available) {
        return Status::ok(); // the system does not say: the upload is tried, and a full disk fails it
    }
    const bool room = *available - size >= keep;
    if (room != !m_diskShort) {
        // Said when it changes, with the figures; each refused upload is logged where its terminal is told.
        m_diskShort = !room;
        if (room) {
            qCInfo(lcComm).noquote() << QStringLiteral("uploads are stored again: %1 bytes free on the disk of %2")
                                            .arg(*available)
                                            .arg(m_config.programFolder);
        } else {
            qCWarning(lcComm).noquote()
                << QStringLiteral(
                       "uploads are refused: %1 bytes free on the disk of %2, and MinFreeBytes keeps %3 free")
                       .arg(*available)
                       .arg(m_config.programFolder)
                       .arg(keep);
        }
    }
    if (room) {
        return Status::ok();
    }
    platform::Failure refused;
    refused.action = QStringLiteral("cannot store the file");
    refused.reason = kDiskNearlyFull;
    refused.kind = Status::Kind::NoSpace;
    return Status::failed(std::move(refused));
}

std::shared_ptr<const platform::PinnedFile> TerminalServer::stagedFile(int terminalNo, const QString& name)
{
    const std::shared_ptr<const wire::TerminalStage> stage = m_staged.of(terminalNo);
    const wire::StagedMaster* master = stage ? stage->find(name) : nullptr;
    return master ? master->file : nullptr;
}

std::optional<QString>
TerminalServer::helloRefused(const SessionChannel& channel, int terminalNo, const QByteArray& key)
{
    // A serial line is at the PC (a cradle, a COM port): it needs no key and is never held off.
    const bool overTcp = channel.transport() == Transport::Ip;
    if (overTcp) {
        if (const qint64 left = m_guard.heldOffFor(channel.address(), QDateTime::currentDateTime())) {
            return QStringLiteral("too many wrong keys from this address; try again in %1 s").arg(left);
        }
    }
    if (!key.isEmpty()) {
        switch (m_keys.match(terminalNo, key)) {
        case KeyMatch::Right:
            m_keys.used(terminalNo, kUsedOverV1);
            return std::nullopt;
        case KeyMatch::OtherTerminal:
            return QStringLiteral("that key is not terminal %1's").arg(terminalNo);
        case KeyMatch::Unknown:
            break;
        }
        if (overTcp) {
            keyFailed(channel.address());
        }
        return QStringLiteral("wrong key for terminal %1").arg(terminalNo);
    }
    if (!overTcp) {
        return std::nullopt;
    }
    if (m_config.requireTerminalKeys) {
        return QStringLiteral("terminal %1 must give its key (HELLO %1 <key>)").arg(terminalNo);
    }
    if (m_keys.isEnrolled(terminalNo) && m_places.holds(terminalNo)) {
        // Else anybody could cut an enrolled terminal off, again and again.
        return QStringLiteral("terminal %1 is connected; only its key takes its session over").arg(terminalNo);
    }
    return std::nullopt;
}

void TerminalServer::keyFailed(const QHostAddress& address)
{
    // The refusal itself is logged where the terminal is told.
    if (m_guard.failed(address, QDateTime::currentDateTime())) {
        qCWarning(lcComm).noquote() << QStringLiteral("%1 held off for %2 s after %3 wrong keys within %4 s")
                                           .arg(address.toString())
                                           .arg(KeyGuard::kHoldSeconds)
                                           .arg(KeyGuard::kMaxFailures)
                                           .arg(KeyGuard::kWindowSeconds);
    }
}

void TerminalServer::onKeysChanged(const QList<int>& terminals)
{
    for (int terminal : terminals) {
        const QString reason = QStringLiteral("the key of terminal %1 changed").arg(terminal);
        m_places.endTerminal(terminal, reason);
        if (m_https) {
            m_https->endTerminal(terminal, reason); // its connections idle between requests too
        }
    }
}

bool TerminalServer::requestPlace(SessionChannel& channel)
{
    return m_places.request(channel);
}

void TerminalServer::leavePlace(SessionChannel& channel)
{
    leave(channel);
}

wire::Authorization TerminalServer::authorize(const QHostAddress& address, int terminalNo, const QByteArray& key)
{
    if (const qint64 left = m_guard.heldOffFor(address, QDateTime::currentDateTime())) {
        return {wire::Access::HeldOff, left};
    }
    if (key.isEmpty()) {
        return {wire::Access::NoKey, 0};
    }
    switch (m_keys.match(terminalNo, key)) {
    case KeyMatch::Right:
        m_keys.used(terminalNo, kUsedOverHttps);
        return {wire::Access::Granted, 0};
    case KeyMatch::OtherTerminal:
        return {wire::Access::OtherTerminal, 0};
    case KeyMatch::Unknown:
        break;
    }
    keyFailed(address);
    return {wire::Access::WrongKey, 0};
}

void TerminalServer::whenStaged(int terminalNo, QObject* context, StageReady ready)
{
    m_staged.whenDigested(terminalNo, context, std::move(ready));
}

bool TerminalServer::joinPlace(wire::HttpsConnection& connection)
{
    const int terminal = connection.terminalNo();
    std::unique_ptr<HttpsSeat>& seat = m_seats[terminal];
    if (seat) {
        seat->add(connection); // the terminal's other requests in flight hold its place, or wait for it
        return seat->hasPlace();
    }
    // Each request says in the log what it did: the seat's start is only counted.
    seat = std::make_unique<HttpsSeat>(terminal, [this](const HttpsSeat& placed) {
        if (m_observer) {
            m_observer->sessionStarted(placed.terminalNo(), wire::transportName(wire::Transport::Https), placed.peer());
        }
    });
    seat->add(connection);
    HttpsSeat& joined = *seat;
    // A protocol v1 session of the terminal ends here: the request carries the terminal's key.
    if (m_places.request(joined)) {
        joined.placed();
    }
    return joined.hasPlace();
}

void TerminalServer::quitPlace(wire::HttpsConnection& connection)
{
    for (auto it = m_seats.begin(); it != m_seats.end(); ++it) {
        if (!it->second->holds(connection)) {
            continue;
        }
        if (it->second->remove(connection)) {
            // The last request of the terminal is answered. The seat may be ending its requests right now: it is
            // deleted from the event loop.
            leave(*it->second);
            m_emptySeats.push_back(std::move(it->second));
            m_seats.erase(it);
            QMetaObject::invokeMethod(
                this, [this] { m_emptySeats.clear(); }, Qt::QueuedConnection);
        }
        return;
    }
}

void TerminalServer::leave(wire::Occupant& occupant)
{
    if (!m_places.leave(occupant) || m_admitQueued) {
        return;
    }
    // Admitted from the event loop: the channel that left may be in the middle of its session's work.
    m_admitQueued = true;
    QMetaObject::invokeMethod(this, &TerminalServer::admitWaiting, Qt::QueuedConnection);
}

void TerminalServer::admitWaiting()
{
    m_admitQueued = false;
    for (wire::Occupant* occupant : m_places.takeAdmitted()) {
        qCInfo(lcComm).noquote() << occupant->describe() + QStringLiteral(": a session became free");
        occupant->admit();
    }
}

void TerminalServer::removeStaleFiles()
{
    // Left by a run that ended in the middle of an upload or a send (a power cut); never a file under a real name.
    QDir folder(m_config.programFolder);
    const QStringList stale = folder.entryList({QStringLiteral(".kavelo-upload-*"), QStringLiteral(".kavelo-send-*")},
                                               QDir::Files | QDir::Hidden);
    for (const QString& name : stale) {
        if (folder.remove(name)) {
            qCInfo(lcComm).noquote()
                << QStringLiteral("%1: unfinished transfer of an earlier run removed").arg(folder.filePath(name));
        }
    }
}

} // namespace kavelo::transfer
