#ifndef KAVELO_COMM_TCPCOMMSERVER_H
#define KAVELO_COMM_TCPCOMMSERVER_H

#include "comm/CommServer.h"
#include "comm/Session.h"
#include "comm/TransferOutcome.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace kavelo::comm {

// Everything the built-in server needs, as plain values (taken from the settings by the shell).
struct ServerConfig
{
    QString programFolder;                               // received files land here, staged masters are sent
    QString listenAddress = QStringLiteral("127.0.0.1"); // "ListenAddress"
    quint16 listenPort = 47100;                          // "ListenPort"; 0 picks a free port
    QString allowFrom;                                   // "AllowFrom"; empty: loopback and the private ranges
    qint64 maxFileSize = 67108864;                       // "MaxFileSize"
    QString usbPort;                                     // "UsbPort": the headless choice of a USB port
    QStringList protectedNames;                          // never written by an upload (compared ignoring case)
    int idleTimeoutMs = 30000;                           // no byte for this long ends a session or a wait
    int maxWaiting = 32;                                 // connections waiting for their turn
};

// Default of "AllowFrom": loopback and the private ranges.
inline const QString kDefaultAllowFrom =
    QStringLiteral("127.0.0.0/8,::1,10.0.0.0/8,172.16.0.0/12,192.168.0.0/16,fc00::/7,fe80::/10");

// One allowed range of "AllowFrom".
using Subnet = std::pair<QHostAddress, int>;

// Parses "AllowFrom" (comma-separated addresses or CIDR ranges; empty means the default). Entries that are not
// addresses are left out and named in `invalid`.
QList<Subnet> parseAllowFrom(const QString& text, QStringList* invalid = nullptr);
// Whether a peer is allowed; an IPv4-mapped IPv6 address counts as its IPv4 address.
bool isAllowed(const QHostAddress& peer, const QList<Subnet>& allowed);

// The built-in communication server: serves IP terminals over TCP with the terminal protocol, version 1, on the
// thread of the event loop. One session at a time; further connections wait their turn.
class TcpCommServer : public CommServer
{
    Q_OBJECT

  public:
    // Asks the operator to pick one of the USB ports; nothing when declined.
    using PortChooser = std::function<std::optional<int>(const QStringList& ports)>;
    // Tells the operator about a failure of the server itself (a bind failure).
    using Reporter = std::function<void(const QString& message)>;

    TcpCommServer(ServerConfig config,
                  TransferOutcomeBoard* board,
                  PortChooser chooser,
                  Reporter reporter,
                  QObject* parent = nullptr);
    ~TcpCommServer() override;

    int TerminalNo() const override;
    int PortKind() const override;
    QString IPAddress() const override;
    int PortNo() const override;
    bool Listening() const override;
    void setListening(bool listening) override;
    qint16 CountUsbPorts(qint32 request) override;
    bool ChooseUsbPort() override;

    // The USB serial ports present (ports with a USB vendor id), by name.
    static QStringList usbPortNames();
    // The names an upload may never take: the settings file, the log and the program's own files.
    static QStringList defaultProtectedNames();

  private:
    class Connection;

    void onNewConnection();
    void onDisconnected(quint64 id);
    void onIdle(quint64 id);
    void activateNext();
    void removeStaleUploads();
    // Ends the active session at once (its partial upload discarded) and serves the next.
    void dropActive();
    void retire(std::unique_ptr<Connection> connection);
    void raiseTransfer(qint16 kind, const QString& name, int terminalNo);
    bool isActive(quint64 id) const;

    ServerConfig m_config;
    TransferOutcomeBoard* m_board;
    PortChooser m_chooser;
    Reporter m_reporter;
    QList<Subnet> m_allowed;
    QTcpServer* m_listener = nullptr;
    std::unique_ptr<Connection> m_active;
    std::deque<std::unique_ptr<Connection>> m_waiting;
    std::deque<std::unique_ptr<Connection>> m_retired; // destroyed on the next turn of the event loop
    bool m_cleanupQueued = false;
    quint64 m_nextId = 1;
    int m_terminalNo = 0;
};

} // namespace kavelo::comm

#endif
