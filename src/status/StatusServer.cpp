#include "status/StatusServer.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "status/StatusReport.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <deque>

namespace kavelo::status {

using platform::Status;

namespace {

using Code = QHttpServerResponder::StatusCode;

const QByteArray kHtml = QByteArrayLiteral("text/html; charset=utf-8");
const QByteArray kJson = QByteArrayLiteral("application/json; charset=utf-8");
const QByteArray kMetrics = QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
const QByteArray kText = QByteArrayLiteral("text/plain; charset=utf-8");

} // namespace

// Accepts connections for the HTTP server, and keeps them on a short leash: only allowed addresses, a few at a
// time, a deadline for each request and a limit on what a request may send.
class StatusServer::Listener : public QTcpServer
{
  public:
    Listener(const StatusServerConfig& config, QObject* parent)
        : QTcpServer(parent)
        , m_config(config)
    {
    }

  protected:
    void incomingConnection(qintptr handle) override
    {
        platform::guarded(lcShell, "accepting a status connection", [this, handle] { accept(handle); });
    }

  private:
    void accept(qintptr handle)
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        if (!wire::isAllowed(socket->peerAddress(), m_config.allowed)) {
            qCWarning(lcShell).noquote() << QStringLiteral("status page: connection from %1 refused: not in "
                                                           "StatusAllowFrom")
                                                .arg(socket->peerAddress().toString());
            socket->abort();
            socket->deleteLater();
            return;
        }
        makeRoom();
        socket->setReadBufferSize(m_config.maxRequestBytes);
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
        deadline->start(m_config.deadlineMs);
        // Before the HTTP server's own: what a request sends is counted here, until its answer goes out.
        auto received = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, received, limit = m_config.maxRequestBytes] {
            *received += socket->bytesAvailable();
            if (*received > limit) {
                socket->abort();
            }
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, [deadline, received, ms = m_config.deadlineMs] {
            *received = 0;
            deadline->start(ms); // the next request on a kept-alive connection gets its own time
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_open.push_back(socket);
        addPendingConnection(socket);
    }

    // At most maxConnections at once: the oldest goes.
    void makeRoom()
    {
        std::erase_if(
            m_open, [](const QPointer<QTcpSocket>& s) { return !s || s->state() != QAbstractSocket::ConnectedState; });
        while (static_cast<int>(m_open.size()) >= m_config.maxConnections) {
            if (QTcpSocket* oldest = m_open.front()) {
                oldest->abort();
            }
            m_open.pop_front();
        }
    }

    StatusServerConfig m_config;
    std::deque<QPointer<QTcpSocket>> m_open;
};

StatusServer::StatusServer(StatusServerConfig config, const StatusBoard& board, LiveSource live, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_config(std::move(config))
    , m_board(board)
    , m_live(std::move(live))
{
    if (m_config.allowed.isEmpty()) {
        m_config.allowed = wire::parseAllowFrom({}, nullptr, kDefaultStatusAllowFrom);
    }
}

StatusServer::~StatusServer() = default;

Status StatusServer::listen()
{
    const QHostAddress address =
        m_config.address == QLatin1String("*") ? QHostAddress(QHostAddress::Any) : QHostAddress(m_config.address);
    auto* listener = new Listener(m_config, this);
    if (address.isNull() || !listener->listen(address, m_config.port)) {
        const QString reason = address.isNull() ? QStringLiteral("not an address") : listener->errorString();
        delete listener;
        return Status::error(QStringLiteral("%1 port %2: %3").arg(m_config.address).arg(m_config.port).arg(reason));
    }
    m_listener = listener;
    bind(m_listener);
    return Status::ok();
}

quint16 StatusServer::port() const
{
    return m_listener ? m_listener->serverPort() : m_config.port;
}

bool StatusServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    const QHttpServerRequest::Method method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head) {
        responder.write(QByteArrayLiteral("only GET and HEAD\n"),
                        {{"Content-Type", kText}, {"Allow", "GET, HEAD"}},
                        Code::MethodNotAllowed);
        return true;
    }
    const QString path = request.url().path();
    QByteArray body;
    QByteArray type;
    platform::guarded(lcShell, "answering the status page", [&] {
        if (path == QLatin1String("/")) {
            body = statusPage(m_board, m_live());
            type = kHtml;
        } else if (path == QLatin1String("/status")) {
            body = statusJson(m_board, m_live());
            type = kJson;
        } else if (path == QLatin1String("/metrics")) {
            body = metricsText(m_board, m_live());
            type = kMetrics;
        }
    });
    if (type.isEmpty()) {
        responder.write(QByteArrayLiteral("not found\n"), kText, Code::NotFound);
        return true;
    }
    if (method == QHttpServerRequest::Method::Head) {
        responder.writeStatusLine(Code::Ok);
        responder.writeHeaders({{"Content-Type", type},
                                {"Cache-Control", "no-store"},
                                {"Content-Length", QByteArray::number(body.size())}});
        responder.writeBody(QByteArray());
        return true;
    }
    responder.write(body, {{"Content-Type", type}, {"Cache-Control", "no-store"}}, Code::Ok);
    return true;
}

void StatusServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QByteArrayLiteral("not found\n"), kText, Code::NotFound);
}

} // namespace kavelo::status
