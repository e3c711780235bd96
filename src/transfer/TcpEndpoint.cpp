#include "transfer/TcpEndpoint.h"

#include "platform/Guarded.h"
#include "platform/Log.h"

namespace kavelo::transfer {

using platform::Status;
using wire::TcpListener;

TcpEndpoint::TcpEndpoint(wire::ChannelHub& hub, TcpEndpointConfig config, Reporter reporter, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_config(std::move(config))
    , m_reporter(std::move(reporter))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "binding the listening address again", [this] { retry(); });
    });
}

TcpEndpoint::~TcpEndpoint() = default;

bool TcpEndpoint::start()
{
    m_wanted = true;
    m_reported = false;
    return m_listener || bind(true);
}

void TcpEndpoint::stop(const QString& reason)
{
    m_wanted = false;
    m_retry.stop();
    m_problem.clear();
    m_retired.retire(std::move(m_listener), reason);
}

void TcpEndpoint::reconfigure(TcpEndpointConfig config)
{
    const wire::TcpListenConfig old = std::exchange(m_config, std::move(config)).listen;
    if (old.address == m_config.listen.address && old.port == m_config.listen.port) {
        if (m_listener) {
            m_listener->setAccess(m_config.listen.allowed, m_config.listen.maxStartups);
        }
        return; // a bind tried again takes the new settings by itself
    }
    // The line's and HTTPS sessions go on.
    m_retired.retire(std::move(m_listener), QStringLiteral("the listening address changed"));
    m_retry.stop();
    m_problem.clear();
    m_reported = false;
    if (m_wanted) {
        bind(true);
    }
}

bool TcpEndpoint::bind(bool report)
{
    auto listener = std::make_unique<TcpListener>(m_hub, m_config.listen);
    Status bound = listener->listen();
    m_problem = bound.message();
    if (!bound.isOk()) {
        if (!m_reported) {
            m_reported = true;
            qCCritical(lcComm).noquote() << QStringLiteral("cannot listen on %1; trying again every %2 s")
                                                .arg(bound.message())
                                                .arg(m_config.retryMs / 1000.0);
            if (report && m_reporter) {
                m_reporter(QStringLiteral("待ち受けを開始できません: %1").arg(bound.message()));
            }
        }
        m_retry.start(m_config.retryMs);
        return false;
    }
    m_listener = std::move(listener);
    qCInfo(lcComm).noquote() << QStringLiteral("listening on %1 port %2 (IP terminals, up to %3 sessions at once)")
                                    .arg(m_config.listen.address)
                                    .arg(m_listener->port())
                                    .arg(m_config.maxSessions);
    return true;
}

void TcpEndpoint::retry()
{
    if (m_wanted && !m_listener && bind(false)) {
        Q_EMIT started();
    }
}

} // namespace kavelo::transfer
