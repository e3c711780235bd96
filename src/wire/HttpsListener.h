#ifndef KAVELO_WIRE_HTTPSLISTENER_H
#define KAVELO_WIRE_HTTPSLISTENER_H

#include "platform/Status.h"
#include "wire/AllowFrom.h"
#include "wire/ServerDefaults.h"

#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

#include <list>
#include <map>
#include <memory>

class QSslSocket;

namespace kavelo::wire {

class ChannelHub;
class HttpsConnection;

struct HttpsListenConfig
{
    QString address = kDefaultListenAddress; // "*" or "any": every interface
    quint16 port = kDefaultHttpsPort;        // 0 picks a free port
    QList<Subnet> allowed;
    int maxStartups =
        kDefaultMaxStartups; // connections not yet authenticated (in their handshake, or without a right key yet)
    QSslConfiguration tls;   // the certificate, its key, TLS 1.2 or newer
};

// The HTTPS side of the server: TLS on a port of its own, for allowed addresses only, an HttpsConnection on each
// connection once its handshake is done. A handshake that does not finish within the limit, one that fails (plain
// HTTP, an old TLS version), and connections beyond maxStartups that have not shown a right key (the oldest goes)
// cost only themselves, each logged once.
class HttpsListener : public QObject
{
    Q_OBJECT

  public:
    HttpsListener(ChannelHub& hub, HttpsListenConfig config, QObject* parent = nullptr);
    ~HttpsListener() override;

    // Binds; the error names the address, the port and the system's reason.
    platform::Status listen();
    quint16 port() const;
    // The TLS configuration new connections get.
    const QSslConfiguration& tls() const { return m_config.tls; }
    // Accepts nothing more and ends every request with `reason`; then done().
    void stop(const QString& reason);
    // New AllowFrom, MaxStartups and certificate (a reload) for the connections to come; a connection from an
    // address no longer allowed ends, every other goes on with the certificate it was made with.
    void setAccess(QList<Subnet> allowed, int maxStartups, const QSslConfiguration& tls);
    // Ends the connections that showed `terminal`'s key (it changed), in a request or idle between requests.
    void endTerminal(int terminal, const QString& reason);

  Q_SIGNALS:
    void done();

  private:
    // A connection from its TCP accept on: first its handshake, then its requests.
    struct Connection
    {
        const QSslSocket* key = nullptr; // which socket, even while it is being destroyed
        QPointer<QSslSocket> socket;
        QString peer;
        std::unique_ptr<HttpsConnection> https; // once the handshake is done
        bool reported = false;                  // its failure is in the log
    };

    class Server;

    void onAccepted(QSslSocket* socket);
    void onEncrypted();
    void makeRoomForStartup();
    void onClosed(QSslSocket* socket);
    void reportFailure(QSslSocket* socket, const QString& what);
    std::list<Connection>::iterator find(const QSslSocket* socket);

    ChannelHub& m_hub;
    HttpsListenConfig m_config;
    Server* m_server = nullptr;
    std::list<Connection> m_connections; // oldest first
    bool m_stopped = false;
};

} // namespace kavelo::wire

#endif
