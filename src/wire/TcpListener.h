#ifndef KAVELO_WIRE_TCPLISTENER_H
#define KAVELO_WIRE_TCPLISTENER_H

#include "platform/Status.h"
#include "wire/AllowFrom.h"
#include "wire/ServerDefaults.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace kavelo::wire {

class ChannelHub;
class SessionChannel;

struct TcpListenConfig
{
    QString address = kDefaultListenAddress; // "*" or "any": every interface
    quint16 port = kDefaultListenPort;       // 0 picks a free port
    QList<Subnet> allowed;
    int maxStartups = kDefaultMaxStartups; // connections that have not said HELLO yet
};

// The IP side of the server: accepts connections from allowed addresses and runs a session channel on each. At
// most maxStartups connections wait for their HELLO at once; a further one closes the oldest of them, so a burst of
// silent connections cannot keep a terminal out.
class TcpListener : public QObject
{
    Q_OBJECT

  public:
    TcpListener(ChannelHub& hub, TcpListenConfig config, QObject* parent = nullptr);
    ~TcpListener() override;

    // Binds; the error names the address, the port and the system's reason.
    platform::Status listen();
    quint16 port() const;
    // Accepts nothing more and ends every session with `reason`; the connections close once their last line has
    // gone out (at most a few seconds), then the listener is done().
    void stop(const QString& reason);
    qsizetype connectionCount() const { return static_cast<qsizetype>(m_connections.size()); }
    // New AllowFrom and MaxStartups for the address it is bound to (a reload): a connection from an address no
    // longer allowed ends; every other goes on.
    void setAccess(QList<Subnet> allowed, int maxStartups);

  Q_SIGNALS:
    // Stopped and every connection closed.
    void done();

  private:
    struct Connection
    {
        QTcpSocket* socket = nullptr;
        std::unique_ptr<SessionChannel> channel;
    };

    void onNewConnection();
    void accept(QTcpSocket* socket);
    void makeRoomForStartup();
    void closeGently(quint64 id);
    void onDisconnected(quint64 id);

    ChannelHub& m_hub;
    TcpListenConfig m_config;
    QTcpServer* m_server = nullptr;
    std::map<quint64, Connection> m_connections; // by id: oldest first
    quint64 m_nextId = 1;
    bool m_stopped = false;
};

} // namespace kavelo::wire

#endif
