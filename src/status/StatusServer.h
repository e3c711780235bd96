#ifndef KAVELO_STATUS_STATUSSERVER_H
#define KAVELO_STATUS_STATUSSERVER_H

#include "platform/Status.h"
#include "status/LiveState.h"
#include "wire/AllowFrom.h"

#include <QAbstractHttpServer>

#include <functional>

namespace kavelo::status {

class StatusBoard;

// Defaults of "StatusAddress", "StatusPort" and "StatusAllowFrom": this PC only.
inline const QString kDefaultStatusAddress = QStringLiteral("127.0.0.1");
constexpr quint16 kDefaultStatusPort = 47180;
inline const QString kDefaultStatusAllowFrom = QStringLiteral("127.0.0.0/8,::1");

struct StatusServerConfig
{
    QString address = kDefaultStatusAddress; // "StatusAddress"
    quint16 port = kDefaultStatusPort;       // "StatusPort"; 0 picks a free port (tests)
    QList<wire::Subnet> allowed;             // "StatusAllowFrom"; default loopback only
    int maxConnections = 16;
    int deadlineMs = 10000;         // a connection that has not had its answer by then is cut off
    qint64 maxRequestBytes = 16384; // what a request may send before its answer
};

// The read-only status server: GET and HEAD of "/" (the page for a person), "/status" (JSON) and "/metrics"
// (Prometheus). It changes nothing and opens no file: no part of a request is ever used as a path. It shares the
// event loop with the terminals, so it never waits for a client: a connection that sends too much, too slowly or
// nothing at all is cut off, and beyond maxConnections the oldest is closed.
class StatusServer : public QAbstractHttpServer
{
    Q_OBJECT

  public:
    using LiveSource = std::function<LiveState()>;

    StatusServer(StatusServerConfig config, const StatusBoard& board, LiveSource live, QObject* parent = nullptr);
    ~StatusServer() override;

    // Binds; the error names the address, the port and the reason.
    platform::Status listen();
    quint16 port() const;

  private:
    class Listener;

    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

    StatusServerConfig m_config;
    const StatusBoard& m_board;
    LiveSource m_live;
    Listener* m_listener = nullptr;
};

} // namespace kavelo::status

#endif
