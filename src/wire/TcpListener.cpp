#include "wire/TcpListener.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/Binding.h"
#include "wire/SessionChannel.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kavelo::wire {

using platform::Status;

namespace {

// Before HELLO a connection needs no more than one header line.
constexpr qint64 kStartupReadBuffer = 4096;
// A closing connection gets this long to send its last line.
constexpr int kCloseGraceMs = 5000;

} // namespace

TcpListener::TcpListener(ChannelHub& hub, TcpListenConfig config, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_config(std::move(config))
{
}

TcpListener::~TcpListener()
{
    for (auto& [id, connection] : m_connections) {
        connection.channel.reset();
        connection.socket->disconnect(this);
        connection.socket->abort();
        delete connection.socket;
    }
}

Status TcpListener::listen()
{
    m_server = new QTcpServer(this);
    if (Status bound = bindListener(*m_server, m_config.address, m_config.port, m_config.maxStartups); !bound.isOk()) {
        delete m_server;
        m_server = nullptr;
        return bound;
    }
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        platform::guarded(lcComm, "accepting a connection", [this] { onNewConnection(); });
    });
    return Status::ok();
}

quint16 TcpListener::port() const
{
    return m_server ? m_server->serverPort() : m_config.port;
}

void TcpListener::setAccess(QList<Subnet> allowed, int maxStartups)
{
    m_config.allowed = std::move(allowed);
    m_config.maxStartups = maxStartups;
    if (m_server) {
        m_server->setMaxPendingConnections(backlogFor(maxStartups));
    }
    for (auto& [id, connection] : m_connections) {
        SessionChannel& channel = *connection.channel;
        if (!channel.ended() && !isAllowed(connection.socket->peerAddress(), m_config.allowed)) {
            qCWarning(lcComm).noquote() << channel.describe() + QStringLiteral(": not in AllowFrom any more; ended");
            channel.end(QStringLiteral("not in AllowFrom any more"));
        }
    }
}

void TcpListener::onNewConnection()
{
    while (m_server && m_server->hasPendingConnections()) {
        QTcpSocket* socket = m_server->nextPendingConnection();
        if (!socket) {
            break;
        }
        if (!isAllowed(socket->peerAddress(), m_config.allowed)) {
            qCWarning(lcComm).noquote()
                << QStringLiteral("connection from %1 refused: not in AllowFrom").arg(peerText(socket));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        accept(socket);
    }
}

void TcpListener::accept(QTcpSocket* socket)
{
    makeRoomForStartup();
    socket->setParent(this); // outlives the QTcpServer; deleted with its connection
    socket->setReadBufferSize(kStartupReadBuffer);
    const quint64 id = m_nextId++;
    const QString peer = peerText(socket);
    qCInfo(lcComm).noquote() << QStringLiteral("connection from %1").arg(peer);
    Connection& connection = m_connections[id];
    connection.socket = socket;
    connection.channel = std::make_unique<SessionChannel>(m_hub, *socket, peer, Transport::Ip, socket->peerAddress());
    connect(connection.channel.get(), &SessionChannel::closeRequested, this, [this, id] { closeGently(id); });
    // Queued: a socket may report its end from inside a write, while its session is still at work.
    connect(
        socket,
        &QTcpSocket::disconnected,
        this,
        [this, id] { platform::guarded(lcComm, "ending a connection", [this, id] { onDisconnected(id); }); },
        Qt::QueuedConnection);
    connection.channel->pump(); // bytes that came with the connect
}

void TcpListener::makeRoomForStartup()
{
    int startups = 0;
    for (const auto& [id, connection] : m_connections) {
        if (!connection.channel->greeted() && !connection.channel->ended()) {
            ++startups;
        }
    }
    for (auto it = m_connections.begin(); startups >= m_config.maxStartups && it != m_connections.end(); ++it) {
        SessionChannel& channel = *it->second.channel;
        if (!channel.greeted() && !channel.ended()) {
            qCWarning(lcComm).noquote() << QStringLiteral("%1: closed without HELLO to make room (%2 connections "
                                                          "waiting for their HELLO)")
                                               .arg(channel.peer())
                                               .arg(startups);
            channel.streamLost();
            it->second.socket->abort(); // disconnected() follows, queued
            --startups;
        }
    }
}

void TcpListener::closeGently(quint64 id)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end()) {
        return;
    }
    QTcpSocket* socket = it->second.socket;
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
    socket->disconnectFromHost(); // after what was written has gone out
}

void TcpListener::onDisconnected(quint64 id)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end()) {
        return;
    }
    SessionChannel& channel = *it->second.channel;
    if (!channel.ended()) {
        channel.pump(); // bytes that came before the close
        channel.streamLost();
    }
    QTcpSocket* socket = it->second.socket;
    m_connections.erase(it);
    socket->deleteLater();
    if (m_stopped && m_connections.empty()) {
        Q_EMIT done();
    }
}

void TcpListener::stop(const QString& reason)
{
    m_stopped = true;
    if (m_server) {
        m_server->close();
    }
    for (auto& [id, connection] : m_connections) {
        connection.channel->end(reason); // a partial upload is discarded now
    }
    if (m_connections.empty()) {
        QMetaObject::invokeMethod(this, &TcpListener::done, Qt::QueuedConnection);
    }
}

} // namespace kavelo::wire
