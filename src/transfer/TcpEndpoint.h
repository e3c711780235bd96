#ifndef KAVELO_TRANSFER_TCPENDPOINT_H
#define KAVELO_TRANSFER_TCPENDPOINT_H

#include "transfer/RetiredListeners.h"
#include "wire/TcpListener.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace kavelo::wire {
class ChannelHub;
} // namespace kavelo::wire

namespace kavelo::transfer {

struct TcpEndpointConfig
{
    wire::TcpListenConfig listen;
    int maxSessions = wire::kDefaultMaxSessions; // for the log line only
    int retryMs = 3000;
};

// Protocol v1 over TCP while listening: its address bound, its sessions served by the hub. An address that cannot
// be bound is reported once (log, the reporter) and tried again every few seconds; a stopped listener's connections
// close at their own pace while a new one may already be bound.
class TcpEndpoint : public QObject
{
    Q_OBJECT

  public:
    using Reporter = std::function<void(const QString& message)>;

    TcpEndpoint(wire::ChannelHub& hub, TcpEndpointConfig config, Reporter reporter, QObject* parent = nullptr);
    ~TcpEndpoint() override;

    // Binds, or reports why not and tries again later; true when bound now.
    bool start();
    // Ends every session with `reason` and gives up trying.
    void stop(const QString& reason);
    // New settings while running (a reload). The same address and port keep their connections under the new
    // AllowFrom and MaxStartups; another one is bound anew and only the old one's sessions end.
    void reconfigure(TcpEndpointConfig config);

    bool serving() const { return m_listener != nullptr; }
    quint16 port() const { return m_listener ? m_listener->port() : m_config.listen.port; }
    // Why the address is not bound while it is tried again; empty otherwise.
    const QString& problem() const { return m_problem; }

  Q_SIGNALS:
    // Bound at last by a try after start() had failed.
    void started();

  private:
    // On failure reports (once, when `report`) and tries again later.
    bool bind(bool report);
    void retry();

    wire::ChannelHub& m_hub;
    TcpEndpointConfig m_config;
    Reporter m_reporter;
    RetiredListeners<wire::TcpListener> m_retired{*this};
    std::unique_ptr<wire::TcpListener> m_listener;
    QTimer m_retry;
    QString m_problem;
    bool m_wanted = false;
    bool m_reported = false;
};

} // namespace kavelo::transfer

#endif
