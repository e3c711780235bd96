#ifndef KAVELO_TRANSFER_HTTPSENDPOINT_H
#define KAVELO_TRANSFER_HTTPSENDPOINT_H

#include "transfer/RetiredListeners.h"
#include "transfer/TlsCertificate.h"
#include "wire/AllowFrom.h"
#include "wire/ServerDefaults.h"

#include <QList>
#include <QObject>
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
    int maxStartups = wire::kDefaultMaxStartups;
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
    // New settings while running (a reload). A new address or port is bound anew (the requests on the old one end);
    // otherwise the connections go on, a new AllowFrom and MaxStartups take effect, and the certificate is read
    // again: a changed one serves the connections to come. A certificate that cannot be read leaves the one in use.
    void reconfigure(HttpsEndpointConfig config);
    // Ends the connections that showed `terminal`'s key.
    void endTerminal(int terminal, const QString& reason);

    bool serving() const { return m_listener != nullptr; }
    // Started and not stopped since: it serves, or is tried again every few seconds.
    bool wanted() const { return m_wanted; }
    quint16 port() const;
    // Why it does not serve while it is tried again; empty otherwise.
    const QString& problem() const { return m_problem; }
    // The certificate's SHA-256 fingerprint once loaded.
    const QString& fingerprint() const { return m_fingerprint; }

  Q_SIGNALS:
    // It serves now.
    void started();

  private:
    struct LoadedTls
    {
        QSslConfiguration configuration;
        QString fingerprint;
    };

    void tryStart();
    // The certificate and key, the own pair made first when missing.
    platform::Result<LoadedTls> loadTls() const;
    void fail(const QString& problem);

    wire::ChannelHub& m_hub;
    HttpsEndpointConfig m_config;
    Reporter m_reporter;
    RetiredListeners<wire::HttpsListener> m_retired{*this};
    std::unique_ptr<wire::HttpsListener> m_listener;
    QTimer m_retry;
    bool m_wanted = false;
    bool m_reported = false;
    QString m_problem;
    QString m_fingerprint;
};

} // namespace kavelo::transfer

#endif
