#include "transfer/HttpsSeat.h"

#include "wire/HttpsConnection.h"

namespace kavelo::transfer {

HttpsSeat::HttpsSeat(int terminalNo, std::function<void(const HttpsSeat&)> admitted)
    : m_terminalNo(terminalNo)
    , m_admitted(std::move(admitted))
    , m_since(QDateTime::currentDateTime())
{
}

void HttpsSeat::add(wire::HttpsConnection& request)
{
    if (!m_requests.contains(&request)) {
        m_requests.append(&request);
    }
}

bool HttpsSeat::remove(wire::HttpsConnection& request)
{
    m_requests.removeAll(&request);
    return m_requests.isEmpty();
}

void HttpsSeat::placed()
{
    m_hasPlace = true;
    if (m_admitted) {
        m_admitted(*this);
    }
}

QString HttpsSeat::peer() const
{
    return m_requests.isEmpty() ? QString() : m_requests.first()->peer();
}

QString HttpsSeat::activity() const
{
    if (m_requests.size() == 1) {
        return m_requests.first()->activity();
    }
    return QStringLiteral("%1 requests").arg(m_requests.size());
}

QString HttpsSeat::describe() const
{
    return QStringLiteral("terminal %1 (HTTPS, %2)").arg(m_terminalNo).arg(peer());
}

void HttpsSeat::admit()
{
    placed();
    const QList<wire::HttpsConnection*> waiting = m_requests; // a request may finish at once and leave
    for (wire::HttpsConnection* request : waiting) {
        if (m_requests.contains(request)) {
            request->admit();
        }
    }
}

void HttpsSeat::end(const QString& reason)
{
    const QList<wire::HttpsConnection*> ending = m_requests; // each leaves as it ends
    for (wire::HttpsConnection* request : ending) {
        if (m_requests.contains(request)) {
            request->end(reason);
        }
    }
}

} // namespace kavelo::transfer
