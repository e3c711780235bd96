#include "transfer/HttpsEndpoint.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/HttpsListener.h"

namespace kavelo::transfer {

using platform::Status;

HttpsEndpoint::HttpsEndpoint(wire::ChannelHub& hub, HttpsEndpointConfig config, Reporter reporter, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_config(std::move(config))
    , m_reporter(std::move(reporter))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "starting HTTPS", [this] { tryStart(); });
    });
}

HttpsEndpoint::~HttpsEndpoint() = default;

quint16 HttpsEndpoint::port() const
{
    return m_listener ? m_listener->port() : m_config.port;
}

void HttpsEndpoint::start()
{
    m_wanted = true;
    m_reported = false;
    if (!m_listener) {
        tryStart();
    }
}

void HttpsEndpoint::tryStart()
{
    if (!m_wanted || m_listener) {
        return;
    }
    platform::Result<LoadedTls> tls = loadTls();
    if (!tls.isOk()) {
        fail(tls.status().message());
        return;
    }
    wire::HttpsListenConfig listen;
    listen.address = m_config.address;
    listen.port = m_config.port;
    listen.allowed = m_config.allowed;
    listen.maxStartups = m_config.maxStartups;
    listen.tls = tls->configuration;
    auto listener = std::make_unique<wire::HttpsListener>(m_hub, listen);
    Status bound = listener->listen();
    if (!bound.isOk()) {
        fail(bound.message());
        return;
    }
    m_listener = std::move(listener);
    m_problem.clear();
    m_fingerprint = tls->fingerprint;
    qCInfo(lcComm).noquote() << QStringLiteral("HTTPS for terminals on %1 port %2, certificate %3 (SHA-256 %4)")
                                    .arg(m_config.address)
                                    .arg(m_listener->port())
                                    .arg(m_config.tls.certificate, m_fingerprint);
    Q_EMIT started();
}

platform::Result<HttpsEndpoint::LoadedTls> HttpsEndpoint::loadTls() const
{
    Status made = ensureCertificate(m_config.tls, m_config.address);
    if (!made.isOk()) {
        return made;
    }
    platform::Result<QSslConfiguration> tls = serverTlsConfiguration(m_config.tls);
    if (!tls.isOk()) {
        return tls.status();
    }
    platform::Result<QString> fingerprint = certificateFingerprint(m_config.tls.certificate);
    if (!fingerprint.isOk()) {
        return fingerprint.status();
    }
    return LoadedTls{*tls, *fingerprint};
}

void HttpsEndpoint::reconfigure(HttpsEndpointConfig config)
{
    const bool moved = config.address != m_config.address || config.port != m_config.port;
    m_config = std::move(config);
    if (!m_wanted) {
        return;
    }
    if (moved || !m_listener) {
        // Bound anew now, or tried again now with the new settings.
        if (m_listener) {
            m_retired.retire(std::move(m_listener), QStringLiteral("the HTTPS address changed"));
        }
        m_retry.stop();
        m_reported = false;
        tryStart();
        return;
    }
    platform::Result<LoadedTls> tls = loadTls();
    if (!tls.isOk()) {
        qCCritical(lcComm).noquote()
            << QStringLiteral("HTTPS: %1; the certificate in use stays").arg(tls.status().message());
        m_listener->setAccess(m_config.allowed, m_config.maxStartups, m_listener->tls());
        return;
    }
    m_listener->setAccess(m_config.allowed, m_config.maxStartups, tls->configuration);
    if (tls->fingerprint != m_fingerprint) {
        m_fingerprint = tls->fingerprint;
        qCInfo(lcComm).noquote() << QStringLiteral("HTTPS certificate %1 (SHA-256 %2) serves the connections to come")
                                        .arg(m_config.tls.certificate, m_fingerprint);
    }
}

void HttpsEndpoint::fail(const QString& problem)
{
    if (problem != m_problem) { // said once, not every few seconds
        qCCritical(lcComm).noquote()
            << QStringLiteral("HTTPS cannot start: %1; trying again every %2 s (protocol v1 is served all the same)")
                   .arg(problem)
                   .arg(m_config.retryMs / 1000.0);
    }
    if (!m_reported && m_reporter) {
        m_reported = true;
        m_reporter(QStringLiteral("HTTPSを開始できません: %1").arg(problem));
    }
    m_problem = problem;
    m_retry.start(m_config.retryMs);
}

void HttpsEndpoint::stop(const QString& reason)
{
    m_wanted = false;
    m_retry.stop();
    m_problem.clear();
    m_retired.retire(std::move(m_listener), reason);
}

void HttpsEndpoint::endTerminal(int terminal, const QString& reason)
{
    if (m_listener) {
        m_listener->endTerminal(terminal, reason);
    }
}

} // namespace kavelo::transfer
