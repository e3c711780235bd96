#include "comm/TerminalServer.h"

#include "comm/TcpListener.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>

namespace kavelo::comm {

using platform::Status;

namespace {

SessionLimits limitsOf(const ServerConfig& config)
{
    SessionLimits limits;
    limits.session.maxFileSize = config.maxFileSize;
    limits.session.protectedNames =
        config.protectedNames.isEmpty() ? TerminalServer::defaultProtectedNames() : config.protectedNames;
    limits.programFolder = config.programFolder;
    limits.idleTimeoutMs = config.idleTimeoutMs;
    limits.helloTimeoutMs = config.helloTimeoutMs;
    return limits;
}

} // namespace

TerminalServer::TerminalServer(ServerConfig config, PortChooser chooser, Reporter reporter, QObject* parent)
    : CommServer(parent)
    , m_config(std::move(config))
    , m_limits(limitsOf(m_config))
    , m_chooser(std::move(chooser))
    , m_reporter(std::move(reporter))
    , m_places(m_config.maxSessions)
{
    QStringList invalid;
    m_allowed = parseAllowFrom(m_config.allowFrom, &invalid);
    for (const QString& entry : invalid) {
        qCWarning(lcComm).noquote()
            << QStringLiteral("AllowFrom: %1 is not an address or a range; left out").arg(entry);
    }
    // Preparing a master is disk and CPU work; more threads than cores would only queue behind each other.
    m_workers.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
}

TerminalServer::~TerminalServer()
{
    // Channels leave their places as they go, so they go before the places do.
    m_tcp.reset();
    for (const QPointer<TcpListener>& listener : std::as_const(m_stopping)) {
        delete listener.data();
    }
    m_workers.waitForDone();
}

QStringList TerminalServer::defaultProtectedNames()
{
    QStringList names{QStringLiteral("KAVELO.ini"),
                      QStringLiteral("kavelo.log"),
                      QStringLiteral("kavelo"),
                      QStringLiteral("kavelo.exe"),
                      QStringLiteral("kavelo-terminal"),
                      QStringLiteral("kavelo-terminal.exe")};
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
    return kPortIp;
}

QString TerminalServer::IPAddress() const
{
    return m_config.listenAddress;
}

int TerminalServer::PortNo() const
{
    return m_tcp ? m_tcp->port() : m_config.listenPort;
}

bool TerminalServer::Listening() const
{
    return m_tcp != nullptr;
}

void TerminalServer::setListening(bool listening)
{
    if (listening) {
        if (m_tcp) {
            return;
        }
        TcpListenConfig tcp;
        tcp.address = m_config.listenAddress;
        tcp.port = m_config.listenPort;
        tcp.allowed = m_allowed;
        tcp.maxStartups = m_config.maxStartups;
        auto listener = std::make_unique<TcpListener>(static_cast<ChannelHub&>(*this), tcp);
        Status bound = listener->listen();
        if (!bound.isOk()) {
            qCCritical(lcComm).noquote() << QStringLiteral("cannot listen on %1").arg(bound.message());
            if (m_reporter) {
                m_reporter(QStringLiteral("待ち受けを開始できません: %1").arg(bound.message()));
            }
            return;
        }
        m_tcp = std::move(listener);
        removeStaleFiles();
        qCInfo(lcComm).noquote() << QStringLiteral("listening on %1 port %2 (IP terminals, up to %3 sessions at once)")
                                        .arg(m_config.listenAddress)
                                        .arg(m_tcp->port())
                                        .arg(m_config.maxSessions);
        Q_EMIT ListenStarted();
        return;
    }
    if (!m_tcp) {
        return;
    }
    // Every session ends now (partial uploads discarded); the connections close once their last line is out.
    TcpListener* stopping = m_tcp.release();
    stopping->setParent(this);
    m_stopping.append(stopping);
    connect(stopping, &TcpListener::done, this, [this, stopping] {
        m_stopping.removeAll(stopping);
        stopping->deleteLater();
    });
    stopping->stop(QStringLiteral("listening stopped"));
    qCInfo(lcComm) << "listening stopped";
    Q_EMIT ListenStopped(QVariant());
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
    const qsizetype count = usbPortNames().size();
    return static_cast<qint16>(qMin<qsizetype>(count, 32767));
}

bool TerminalServer::ChooseUsbPort()
{
    const QStringList ports = usbPortNames();
    if (ports.isEmpty() || !m_chooser) {
        return false;
    }
    const std::optional<int> chosen = m_chooser(ports);
    if (!chosen || *chosen < 0 || *chosen >= ports.size()) {
        return false;
    }
    qCInfo(lcComm).noquote() << QStringLiteral("USB port %1 chosen; the built-in server serves IP terminals only, "
                                               "so no terminal is served on it")
                                    .arg(ports.at(*chosen));
    return true;
}

void TerminalServer::raiseTransfer(qint16 kind, const QString& name, int terminalNo)
{
    m_terminalNo = terminalNo;
    Q_EMIT TransferStatus(kind, name, QVariant(), QVariant());
}

TransferOutcome TerminalServer::fileSaved(const QString& name, int terminalNo)
{
    m_terminalNo = terminalNo;
    return handleSaved(name, terminalNo);
}

bool TerminalServer::requestPlace(SessionChannel& channel)
{
    return m_places.request(channel);
}

void TerminalServer::leavePlace(SessionChannel& channel)
{
    if (!m_places.leave(channel) || m_admitQueued) {
        return;
    }
    // Admitted from the event loop: the channel that left may be in the middle of its session's work.
    m_admitQueued = true;
    QMetaObject::invokeMethod(this, &TerminalServer::admitWaiting, Qt::QueuedConnection);
}

void TerminalServer::admitWaiting()
{
    m_admitQueued = false;
    for (SessionChannel* channel : m_places.takeAdmitted()) {
        qCInfo(lcComm).noquote() << channel->describe() + QStringLiteral(": a session became free");
        channel->admit();
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

} // namespace kavelo::comm
