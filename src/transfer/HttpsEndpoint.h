#ifndef KAVELO_TRANSFER_HTTPSENDPOINT_H
#define KAVELO_TRANSFER_HTTPSENDPOINT_H

#include "transfer/TlsCertificate.h"
#include "wire/AllowFrom.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace kavelo::wire {
class ChannelHub;
class HttpsListener;
} // namespace kavelo::wire

namespace kavelo::transfer {

struct HttpsEndpointConfig
{
    QString address;
    quint16 port = 0; // 0 picks a free port (tests)
    QList<wire::Subnet> allowed;
    int maxStartups = 32;
    TlsFiles tls;
    int retryMs = 3000;
};

// The terminals' HTTPS endpoint while listening: its certificate loaded (the own one made first when missing), its
// port bound, its requests served by the hub. A certificate that cannot be used or a port that cannot be bound is
// reported once (log, the reporter) and tried again every few seconds; protocol v1 is served all the same.
class HttpsEndpoint : public QObject
{
    Q_OBJECT

  public:
    using Reporter = std::function<void(const QString& message)>;

    HttpsEndpoint(wire::ChannelHub& hub, HttpsEndpointConfig config, Reporter reporter, QObject* parent = nullptr);
    ~HttpsEndpoint() override;

    void start();
    // Ends every request with `reason` and closes the port.
    void stop(const QString& reason);
    // Ends the connections that showed `terminal`'s key.
    void endTerminal(int terminal, const QString& reason);

    bool serving() const { return m_listener != nullptr; }
    quint16 port() const;
    // Why it does not serve while it is tried again; empty otherwise.
    const QString& problem() const { return m_problem; }
    // The certificate's SHA-256 fingerprint once loaded.
    const QString& fingerprint() const { return m_fingerprint; }

  Q_SIGNALS:
    // It serves now.
    void started();

  private:
    void tryStart();
    void fail(const QString& problem);

    wire::ChannelHub& m_hub;
    HttpsEndpointConfig m_config;
    Reporter m_reporter;
    std::unique_ptr<wire::HttpsListener> m_listener;
    QList<QPointer<wire::HttpsListener>> m_stopping;
    QTimer m_retry;
    bool m_wanted = false;
    bool m_reported = false;
    QString m_problem;
    QString m_fingerprint;
};

} // namespace kavelo::transfer

#endif
