#include "comm/TcpCommServer.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTimer>

#include <exception>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace kavelo::comm {

using platform::Status;

namespace {

constexpr qint64 kActiveReadBuffer = 4 * 1024 * 1024;
constexpr qint64 kReadChunk = 1024 * 1024;
const QString kUploadTemplate = QStringLiteral(".kavelo-upload-XXXXXX");

QString peerText(const QTcpSocket* socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

// Runs one event handler of the server; an exception (only an allocation failure is possible) must not leave a Qt
// slot. Returns false when the body threw.
template <typename Body> bool guarded(const char* what, Body&& body)
{
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        qCCritical(lcComm).noquote() << what << "failed:" << e.what();
    } catch (...) {
        qCCritical(lcComm).noquote() << what << "failed";
    }
    return false;
}

QHostAddress listenHostAddress(const QString& text)
{
    if (text == QLatin1String("*") || text.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::Any);
    }
    return QHostAddress(text);
}

} // namespace

QList<Subnet> parseAllowFrom(const QString& text, QStringList* invalid)
{
    const QString effective = text.trimmed().isEmpty() ? kDefaultAllowFrom : text;
    QList<Subnet> subnets;
    for (const QString& rawEntry : effective.split(QLatin1Char(','))) {
        const QString entry = rawEntry.trimmed();
        if (entry.isEmpty()) {
            continue;
        }
        Subnet subnet;
        if (entry.contains(QLatin1Char('/'))) {
            subnet = QHostAddress::parseSubnet(entry);
        } else {
            QHostAddress address(entry);
            if (!address.isNull()) {
                subnet = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
            }
        }
        if (subnet.first.isNull() || subnet.second < 0) {
            if (invalid) {
                invalid->append(entry);
            }
            continue;
        }
        subnets.append(subnet);
    }
    return subnets;
}

bool isAllowed(const QHostAddress& peer, const QList<Subnet>& allowed)
{
    QHostAddress address = peer;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const quint32 ipv4 = address.toIPv4Address(&mapped);
        if (mapped) {
            address = QHostAddress(ipv4);
        }
    }
    address.setScopeId(QString());
    for (const Subnet& subnet : allowed) {
        if (address.isInSubnet(subnet)) {
            return true;
        }
    }
    return false;
}

// One terminal connection: waiting for its turn, or the active session over the socket and the program folder.
class TcpCommServer::Connection : public SessionHost
{
  public:
    Connection(TcpCommServer& server, QTcpSocket* socket, quint64 id)
        : m_server(server)
        , m_socket(socket)
        , m_peer(peerText(socket))
        , m_id(id)
    {
        m_idle.setSingleShot(true);
        m_idle.setInterval(server.m_config.idleTimeoutMs);
    }

    ~Connection() override
    {
        m_idle.stop();
        uploadDiscard();
        m_socket->disconnect(&m_server);
        if (m_closing && m_socket->state() != QAbstractSocket::UnconnectedState) {
            // Let the last reply go out; the socket deletes itself when closed, or is cut off after a while.
            QObject::connect(m_socket, &QTcpSocket::disconnected, m_socket, &QObject::deleteLater);
            QTimer::singleShot(5000, m_socket, [socket = m_socket] { socket->abort(); });
            return;
        }
        m_socket->abort();
        m_socket->deleteLater();
    }

    quint64 id() const { return m_id; }

    // Sends a last line and closes once it has gone out.
    void closeWith(const QByteArray& line)
    {
        m_socket->write(line);
        close();
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QTcpSocket* socket() const { return m_socket; }
    QTimer& idle() { return m_idle; }
    const QString& peer() const { return m_peer; }
    Session* session() { return m_session.get(); }

    void activate()
    {
        SessionConfig config;
        config.maxFileSize = m_server.m_config.maxFileSize;
        config.protectedNames = m_server.m_config.protectedNames;
        m_session = std::make_unique<Session>(config, *this);
        m_socket->setReadBufferSize(kActiveReadBuffer);
        m_idle.start();
    }

    // Feeds what the socket holds to the session.
    void pump()
    {
        if (!m_session || m_pumping) {
            return;
        }
        m_pumping = true;
        struct Reset
        {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{m_pumping};
        while (!m_session->closed() && m_socket->bytesAvailable() > 0) {
            const QByteArray bytes = m_socket->read(kReadChunk);
            if (bytes.isEmpty()) {
                break;
            }
            m_idle.start();
            const bool greeted = m_session->terminalNo() > 0;
            m_session->feed(bytes);
            if (!greeted && m_session->terminalNo() > 0) {
                qCInfo(lcComm).noquote()
                    << QStringLiteral("terminal %1 (%2): session started").arg(terminalText(), m_peer);
            }
        }
    }

    // SessionHost.
    void send(const QByteArray& bytes) override
    {
        if (bytes.startsWith("ERR")) {
            qCWarning(lcComm).noquote() << QStringLiteral("terminal %1 (%2): %3")
                                               .arg(terminalText(), m_peer, QString::fromLatin1(bytes.trimmed()));
        }
        m_socket->write(bytes);
    }

    void close() override
    {
        m_idle.stop();
        m_closing = true;
        m_socket->disconnectFromHost(); // after what was written has gone out
    }

    void transferStatus(qint16 kind, const QString& name) override
    {
        if (kind == kSavingFailed) {
            qCWarning(lcComm).noquote() << QStringLiteral("terminal %1: %2 not saved").arg(terminalText(), name);
        }
        m_server.raiseTransfer(kind, name, m_session ? m_session->terminalNo() : 0);
    }

    Status uploadBegin(const QString& name, qint64 size) override
    {
        uploadDiscard();
        qCInfo(lcComm).noquote()
            << QStringLiteral("terminal %1: receiving %2 (%3 bytes)").arg(terminalText(), name).arg(size);
        m_upload = std::make_unique<QTemporaryFile>(QDir(m_server.m_config.programFolder).filePath(kUploadTemplate));
        if (!m_upload->open()) {
            Status error = Status::error(QStringLiteral("%1: cannot create the upload file: %2")
                                             .arg(m_upload->fileTemplate(), m_upload->errorString()));
            qCWarning(lcComm).noquote() << error.message();
            m_upload.reset();
            return error;
        }
        return Status::ok();
    }

    Status uploadWrite(QByteArrayView bytes) override
    {
        if (!m_upload) {
            return Status::error(QStringLiteral("no upload file"));
        }
        if (m_upload->write(bytes.data(), bytes.size()) != bytes.size()) {
            Status error = Status::error(
                QStringLiteral("%1: cannot write: %2").arg(m_upload->fileName(), m_upload->errorString()));
            qCWarning(lcComm).noquote() << error.message();
            return error;
        }
        return Status::ok();
    }

    Status uploadCommit(const QString& name) override
    {
        if (!m_upload) {
            return Status::error(QStringLiteral("no upload file"));
        }
        const QString target = QDir(m_server.m_config.programFolder).filePath(name);
        bool flushed = m_upload->flush();
#ifdef Q_OS_UNIX
        flushed = flushed && ::fsync(m_upload->handle()) == 0;
#endif
        const QString temporary = m_upload->fileName();
        m_upload->close();
        Status status =
            flushed ? platform::FileOps::real().replace(temporary, target)
                    : Status::error(QStringLiteral("%1: cannot write: %2").arg(temporary, m_upload->errorString()));
        if (!status.isOk()) {
            qCWarning(lcComm).noquote() << status.message();
            m_upload.reset(); // removes the temporary file
            return status;
        }
        m_upload->setAutoRemove(false);
        m_upload.reset();
        return Status::ok();
    }

    void uploadDiscard() override
    {
        m_upload.reset();
    }

    SavedOutcome fileSaved(const QString& name) override
    {
        if (m_server.m_board) {
            m_server.m_board->clear();
        }
        m_server.raiseTransfer(kSaved, name, m_session ? m_session->terminalNo() : 0);
        SavedOutcome outcome;
        if (m_server.m_board) {
            if (std::optional<TransferOutcome> recorded = m_server.m_board->take()) {
                outcome.status = recorded->status;
                outcome.staged = recorded->staged;
            }
        }
        return outcome;
    }

    platform::Result<QByteArray> readStaged(const QString& name) override
    {
        QFile file(QDir(m_server.m_config.programFolder).filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            qCWarning(lcComm).noquote()
                << QStringLiteral("%1: cannot read: %2").arg(file.fileName(), file.errorString());
            return Status::error(QStringLiteral("cannot read %1").arg(name));
        }
        QByteArray content = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            qCWarning(lcComm).noquote()
                << QStringLiteral("%1: cannot read: %2").arg(file.fileName(), file.errorString());
            return Status::error(QStringLiteral("cannot read %1").arg(name));
        }
        qCInfo(lcComm).noquote()
            << QStringLiteral("terminal %1: sending %2 (%3 bytes)").arg(terminalText(), name).arg(content.size());
        return content;
    }

  private:
    QString terminalText() const
    {
        return m_session && m_session->terminalNo() > 0 ? QString::number(m_session->terminalNo())
                                                        : QStringLiteral("?");
    }

    TcpCommServer& m_server;
    QTcpSocket* m_socket;
    QString m_peer;
    quint64 m_id;
    bool m_closing = false;
    QTimer m_idle;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<QTemporaryFile> m_upload;
    bool m_pumping = false;
};

TcpCommServer::TcpCommServer(
    ServerConfig config, TransferOutcomeBoard* board, PortChooser chooser, Reporter reporter, QObject* parent)
    : CommServer(parent)
    , m_config(std::move(config))
    , m_board(board)
    , m_chooser(std::move(chooser))
    , m_reporter(std::move(reporter))
{
    QStringList invalid;
    m_allowed = parseAllowFrom(m_config.allowFrom, &invalid);
    for (const QString& entry : invalid) {
        qCWarning(lcComm).noquote()
            << QStringLiteral("AllowFrom: %1 is not an address or a range; left out").arg(entry);
    }
    if (m_config.protectedNames.isEmpty()) {
        m_config.protectedNames = defaultProtectedNames();
    }
}

TcpCommServer::~TcpCommServer()
{
    m_active.reset();
    m_waiting.clear();
    m_retired.clear();
}

QStringList TcpCommServer::defaultProtectedNames()
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

int TcpCommServer::TerminalNo() const
{
    return m_terminalNo;
}

int TcpCommServer::PortKind() const
{
    return kPortIp;
}

QString TcpCommServer::IPAddress() const
{
    return m_config.listenAddress;
}

int TcpCommServer::PortNo() const
{
    return m_listener ? m_listener->serverPort() : m_config.listenPort;
}

bool TcpCommServer::Listening() const
{
    return m_listener != nullptr;
}

void TcpCommServer::setListening(bool listening)
{
    if (listening) {
        if (m_listener) {
            return;
        }
        const QHostAddress address = listenHostAddress(m_config.listenAddress);
        auto* listener = new QTcpServer(this);
        if (address.isNull() || !listener->listen(address, m_config.listenPort)) {
            const QString reason = address.isNull() ? QStringLiteral("not an address") : listener->errorString();
            delete listener;
            qCCritical(lcComm).noquote() << QStringLiteral("cannot listen on %1 port %2: %3")
                                                .arg(m_config.listenAddress)
                                                .arg(m_config.listenPort)
                                                .arg(reason);
            if (m_reporter) {
                m_reporter(QStringLiteral("待ち受けを開始できません (%1 ポート %2): %3")
                               .arg(m_config.listenAddress)
                               .arg(m_config.listenPort)
                               .arg(reason));
            }
            return;
        }
        m_listener = listener;
        removeStaleUploads();
        m_listener->setMaxPendingConnections(m_config.maxWaiting + 8);
        connect(m_listener, &QTcpServer::newConnection, this, &TcpCommServer::onNewConnection);
        qCInfo(lcComm).noquote() << QStringLiteral("listening on %1 port %2 (IP terminals)")
                                        .arg(m_config.listenAddress)
                                        .arg(m_listener->serverPort());
        Q_EMIT ListenStarted();
        return;
    }
    if (!m_listener) {
        return;
    }
    m_listener->close();
    m_listener->deleteLater();
    m_listener = nullptr;
    if (m_active) {
        if (Session* session = m_active->session()) {
            if (!session->closed()) {
                session->connectionLost(); // a partial upload is discarded
            }
        }
        retire(std::move(m_active));
    }
    while (!m_waiting.empty()) {
        retire(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
    qCInfo(lcComm) << "listening stopped";
    Q_EMIT ListenStopped(QVariant());
}

QStringList TcpCommServer::usbPortNames()
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

qint16 TcpCommServer::CountUsbPorts(qint32)
{
    const qsizetype count = usbPortNames().size();
    return static_cast<qint16>(qMin<qsizetype>(count, 32767));
}

bool TcpCommServer::ChooseUsbPort()
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

void TcpCommServer::raiseTransfer(qint16 kind, const QString& name, int terminalNo)
{
    m_terminalNo = terminalNo;
    Q_EMIT TransferStatus(kind, name, QVariant(), QVariant());
}

void TcpCommServer::onNewConnection()
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        if (!socket) {
            break;
        }
        if (!isAllowed(socket->peerAddress(), m_allowed)) {
            qCWarning(lcComm).noquote()
                << QStringLiteral("connection from %1 refused: not in AllowFrom").arg(peerText(socket));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(this); // outlives the listener; deleted by its connection
        const quint64 id = m_nextId++;
        auto connection = std::make_unique<Connection>(*this, socket, id);
        Connection* raw = connection.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, id] {
            if (isActive(id) && !guarded("reading from a terminal", [this] { m_active->pump(); })) {
                dropActive();
            }
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] {
            if (isActive(id) && m_active->idle().isActive()) {
                m_active->idle().start(); // a long GET is progress, not idleness
            }
        });
        connect(
            socket,
            &QTcpSocket::disconnected,
            this,
            [this, id] { guarded("ending a connection", [this, id] { onDisconnected(id); }); },
            Qt::QueuedConnection);
        connect(&raw->idle(), &QTimer::timeout, this, [this, id] {
            guarded("closing an idle connection", [this, id] { onIdle(id); });
        });
        if (!m_active) {
            qCInfo(lcComm).noquote() << QStringLiteral("connection from %1").arg(raw->peer());
            m_active = std::move(connection);
            m_active->activate();
            if (!guarded("reading from a terminal", [this] { m_active->pump(); })) {
                dropActive();
            }
            continue;
        }
        if (static_cast<int>(m_waiting.size()) >= m_config.maxWaiting) {
            qCWarning(lcComm).noquote()
                << QStringLiteral("connection from %1 refused: too many waiting").arg(raw->peer());
            raw->closeWith(errLine(QStringLiteral("busy")));
            retire(std::move(connection));
            continue;
        }
        qCInfo(lcComm).noquote() << QStringLiteral("connection from %1 waits for its turn").arg(raw->peer());
        socket->setReadBufferSize(kMaxHeaderBytes);
        raw->idle().start(); // counted from the connect
        m_waiting.push_back(std::move(connection));
    }
}

bool TcpCommServer::isActive(quint64 id) const
{
    return m_active && m_active->id() == id;
}

void TcpCommServer::onDisconnected(quint64 id)
{
    if (isActive(id)) {
        Connection* connection = m_active.get();
        if (Session* session = connection->session()) {
            connection->pump(); // bytes that came before the close
            if (!session->closed()) {
                qCWarning(lcComm).noquote()
                    << QStringLiteral("terminal %1: connection lost").arg(session->terminalNo());
                session->connectionLost();
            }
        }
        retire(std::move(m_active));
        activateNext();
        return;
    }
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if ((*it)->id() == id) {
            retire(std::move(*it));
            m_waiting.erase(it);
            return;
        }
    }
}

void TcpCommServer::onIdle(quint64 id)
{
    if (isActive(id)) {
        if (Session* session = m_active->session()) {
            qCWarning(lcComm).noquote() << QStringLiteral("terminal %1: idle for %2 ms, closing")
                                               .arg(session->terminalNo())
                                               .arg(m_config.idleTimeoutMs);
            session->idleTimeout();
        }
        return; // the disconnect that follows ends it
    }
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if ((*it)->id() == id) {
            qCWarning(lcComm).noquote() << QStringLiteral("connection from %1 waited too long").arg((*it)->peer());
            (*it)->closeWith(errLine(QStringLiteral("idle timeout")));
            retire(std::move(*it));
            m_waiting.erase(it);
            return;
        }
    }
}

void TcpCommServer::activateNext()
{
    while (!m_active && !m_waiting.empty()) {
        std::unique_ptr<Connection> next = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (next->socket()->state() != QAbstractSocket::ConnectedState) {
            retire(std::move(next));
            continue;
        }
        qCInfo(lcComm).noquote() << QStringLiteral("connection from %1 now served").arg(next->peer());
        m_active = std::move(next);
        m_active->activate();
        if (!guarded("reading from a terminal", [this] { m_active->pump(); })) {
            dropActive();
        }
    }
}

void TcpCommServer::dropActive()
{
    if (!m_active) {
        return;
    }
    if (Session* session = m_active->session()) {
        if (!session->closed()) {
            session->connectionLost();
        }
    }
    retire(std::move(m_active));
    activateNext();
}

void TcpCommServer::removeStaleUploads()
{
    // Left by a run that ended in the middle of an upload (a power cut); never a file under a real name.
    QDir folder(m_config.programFolder);
    const QStringList stale = folder.entryList({QStringLiteral(".kavelo-upload-*")}, QDir::Files | QDir::Hidden);
    for (const QString& name : stale) {
        if (folder.remove(name)) {
            qCInfo(lcComm).noquote()
                << QStringLiteral("%1: unfinished upload of an earlier run removed").arg(folder.filePath(name));
        }
    }
}

void TcpCommServer::retire(std::unique_ptr<Connection> connection)
{
    // Destroyed later: the connection may be the one whose code is running now.
    if (!connection) {
        return;
    }
    connection->idle().stop();
    m_retired.push_back(std::move(connection));
    if (!m_cleanupQueued) {
        m_cleanupQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_cleanupQueued = false;
                m_retired.clear();
            },
            Qt::QueuedConnection);
    }
}

} // namespace kavelo::comm
