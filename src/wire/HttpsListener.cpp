#include "wire/HttpsListener.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/Binding.h"
#include "wire/ChannelHub.h"
#include "wire/HttpsConnection.h"

#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

namespace kavelo::wire {

using platform::Status;

namespace {

// Bytes of requests decrypted and not yet taken; beyond it the client's sending waits (TCP flow control).
constexpr qint64 kReadBuffer = 1024 * 1024;
// A closing connection gets this long to send its last bytes.
constexpr int kCloseGraceMs = 5000;

} // namespace

// QSslServer creates each connection's socket and watches its handshake (its timeout included); this hands the
// socket over as soon as it exists, so that the listener can refuse an address and count the connections that
// have not yet shown a key before any of them has sent a byte.
class HttpsListener::Server : public QSslServer
{
  public:
    explicit Server(HttpsListener& listener)
        : QSslServer(&listener)
        , m_listener(listener)
    {
    }

  protected:
    void incomingConnection(qintptr handle) override
    {
        QSslServer::incomingConnection(handle);
        const QList<QSslSocket*> sockets = findChildren<QSslSocket*>(Qt::FindDirectChildrenOnly);
        for (QSslSocket* socket : sockets) {
            if (socket->socketDescriptor() == handle) {
                platform::guarded(lcComm, "accepting an HTTPS connection", [&] { m_listener.onAccepted(socket); });
                return;
            }
        }
    }

  private:
    HttpsListener& m_listener;
};

HttpsListener::HttpsListener(ChannelHub& hub, HttpsListenConfig config, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_config(std::move(config))
{
}

HttpsListener::~HttpsListener()
{
    for (Connection& connection : m_connections) {
        connection.https.reset();
        if (connection.socket) {
            connection.socket->disconnect(this);
            connection.socket->abort();
        }
    }
    m_connections.clear();
    delete m_server; // and the sockets still in their handshake, its children
}

Status HttpsListener::listen()
{
    m_server = new Server(*this);
    m_server->setSslConfiguration(m_config.tls);
    m_server->setHandshakeTimeout(m_hub.limits().handshakeTimeoutMs);
    if (Status bound = bindListener(*m_server, m_config.address, m_config.port, m_config.maxStartups); !bound.isOk()) {
        delete m_server;
        m_server = nullptr;
        return bound;
    }
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        platform::guarded(lcComm, "starting an HTTPS connection", [this] { onEncrypted(); });
    });
    connect(m_server, &QSslServer::errorOccurred, this, [this](QSslSocket* socket, QAbstractSocket::SocketError error) {
        const QString what =
            error == QAbstractSocket::SocketTimeoutError
                ? QStringLiteral("no TLS handshake within %1 ms").arg(m_hub.limits().handshakeTimeoutMs)
                : QStringLiteral("TLS handshake failed: %1").arg(socket->errorString());
        platform::guarded(lcComm, "an HTTPS handshake's failure", [&] { reportFailure(socket, what); });
    });
    return Status::ok();
}

quint16 HttpsListener::port() const
{
    return m_server ? m_server->serverPort() : m_config.port;
}

std::list<HttpsListener::Connection>::iterator HttpsListener::find(const QSslSocket* socket)
{
    return std::find_if(
        m_connections.begin(), m_connections.end(), [socket](const Connection& c) { return c.key == socket; });
}

void HttpsListener::onAccepted(QSslSocket* socket)
{
    const QString peer = peerText(socket);
    if (m_stopped || !isAllowed(socket->peerAddress(), m_config.allowed)) {
        if (!m_stopped) {
            qCWarning(lcComm).noquote()
                << QStringLiteral("HTTPS connection from %1 refused: not in AllowFrom").arg(peer);
        }
        socket->abort();
        socket->deleteLater();
        return;
    }
    makeRoomForStartup();
    socket->setReadBufferSize(kReadBuffer);
    m_connections.push_back(Connection{socket, socket, peer, nullptr, false});
    connect(socket, &QObject::destroyed, this, [this, socket] { onClosed(socket); });
    // Queued: a socket may report its end from inside a write, while its request is still at work.
    connect(
        socket,
        &QAbstractSocket::disconnected,
        this,
        [this, socket] { platform::guarded(lcComm, "ending an HTTPS connection", [&] { onClosed(socket); }); },
        Qt::QueuedConnection);
}

void HttpsListener::reportFailure(QSslSocket* socket, const QString& what)
{
    auto it = find(socket);
    if (it == m_connections.end() || it->reported) {
        return;
    }
    it->reported = true;
    qCWarning(lcComm).noquote() << QStringLiteral("%1: %2").arg(it->peer, what);
}

void HttpsListener::makeRoomForStartup()
{
    int startups = 0;
    for (const Connection& connection : m_connections) {
        startups += connection.https && connection.https->authenticated() ? 0 : 1;
    }
    for (auto it = m_connections.begin(); startups >= m_config.maxStartups && it != m_connections.end(); ++it) {
        if ((it->https && it->https->authenticated()) || !it->socket) {
            continue;
        }
        qCWarning(lcComm).noquote() << QStringLiteral("%1: closed to make room (%2 HTTPS connections without a key "
                                                      "yet)")
                                           .arg(it->peer)
                                           .arg(startups);
        it->reported = true;
        if (it->https) {
            it->https->streamLost();
        }
        it->socket->abort(); // the rest follows from its disconnected()
        --startups;
    }
}

void HttpsListener::onEncrypted()
{
    while (m_server && m_server->hasPendingConnections()) {
        auto* socket = qobject_cast<QSslSocket*>(m_server->nextPendingConnection());
        auto it = find(socket);
        if (!socket || it == m_connections.end()) {
            if (socket) {
                socket->abort();
                socket->deleteLater();
            }
            continue;
        }
        socket->setParent(this); // from now on ours, deleted when it closes
        it->https = std::make_unique<HttpsConnection>(m_hub, *socket, it->peer);
        connect(it->https.get(), &HttpsConnection::closeRequested, this, [guard = QPointer<QSslSocket>(socket)] {
            if (QSslSocket* closing = guard.data()) {
                QTimer::singleShot(kCloseGraceMs, closing, [closing] { closing->abort(); });
                closing->disconnectFromHost(); // after what was written has gone out
            }
        });
        it->https->start();
    }
}

void HttpsListener::onClosed(QSslSocket* socket)
{
    auto it = find(socket);
    if (it == m_connections.end()) {
        return;
    }
    if (it->https) {
        it->https->streamLost();
    } else if (!it->reported) {
        qCWarning(lcComm).noquote()
            << QStringLiteral("%1: closed before its TLS handshake (not TLS, plain HTTP perhaps)").arg(it->peer);
    }
    std::unique_ptr<HttpsConnection> https = std::move(it->https);
    QPointer<QSslSocket> owned = it->socket;
    m_connections.erase(it);
    https.reset();
    if (owned) {
        owned->disconnect(this);
        owned->deleteLater(); // in its handshake it is QSslServer's, which may delete it too: that is harmless
    }
    if (m_stopped && m_connections.empty()) {
        Q_EMIT done();
    }
}

void HttpsListener::stop(const QString& reason)
{
    m_stopped = true;
    if (m_server) {
        m_server->close();
    }
    std::list<QPointer<QSslSocket>> handshaking;
    for (Connection& connection : m_connections) {
        if (connection.https) {
            connection.https->end(reason);
        } else if (connection.socket) {
            handshaking.push_back(connection.socket);
        }
    }
    for (const QPointer<QSslSocket>& socket : handshaking) {
        if (socket) {
            socket->abort();
        }
    }
    if (m_connections.empty()) {
        QMetaObject::invokeMethod(this, &HttpsListener::done, Qt::QueuedConnection);
    }
}

void HttpsListener::setAccess(QList<Subnet> allowed, int maxStartups, const QSslConfiguration& tls)
{
    m_config.allowed = std::move(allowed);
    m_config.maxStartups = maxStartups;
    m_config.tls = tls;
    if (m_server) {
        m_server->setSslConfiguration(tls);
        m_server->setMaxPendingConnections(backlogFor(maxStartups));
    }
    std::list<HttpsConnection*> ending;
    std::list<QPointer<QSslSocket>> aborting;
    for (Connection& connection : m_connections) {
        if (!connection.socket || isAllowed(connection.socket->peerAddress(), m_config.allowed)) {
            continue;
        }
        qCWarning(lcComm).noquote() << QStringLiteral("%1: not in AllowFrom any more; ended").arg(connection.peer);
        connection.reported = true;
        if (connection.https) {
            ending.push_back(connection.https.get());
        } else {
            aborting.push_back(connection.socket);
        }
    }
    for (HttpsConnection* https : ending) {
        https->end(QStringLiteral("not in AllowFrom any more"));
    }
    for (const QPointer<QSslSocket>& socket : aborting) {
        if (socket) {
            socket->abort();
        }
    }
}

void HttpsListener::endTerminal(int terminal, const QString& reason)
{
    std::list<HttpsConnection*> ending;
    for (Connection& connection : m_connections) {
        if (connection.https && connection.https->keyTerminal() == terminal) {
            ending.push_back(connection.https.get());
        }
    }
    for (HttpsConnection* https : ending) {
        https->end(reason);
    }
}

} // namespace kavelo::wire
