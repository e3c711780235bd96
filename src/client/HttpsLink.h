#ifndef KAVELO_CLIENT_HTTPSLINK_H
#define KAVELO_CLIENT_HTTPSLINK_H

#include "platform/Status.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class QSslSocket;

namespace kavelo::client {

// A terminal's HTTPS connection to KAVELO, blocking: TLS with the server's certificate pinned by its SHA-256
// fingerprint (checked before any request, so a key never goes to another server), requests one after another on
// one connection, each answer read by Boost.Beast's parser. Use it from one thread; it needs no event loop.
class HttpsLink
{
  public:
    struct Response
    {
        int status = 0;
        QMap<QByteArray, QByteArray> fields; // names in lower case
        QByteArray body;                     // unless a sink took it
    };
    using Fields = QList<std::pair<QByteArray, QByteArray>>;
    using Sink = std::function<platform::Status(QByteArrayView bytes)>;
    // Once an answer's header is in, where its body goes; an empty sink: into Response::body.
    using SinkFor = std::function<Sink(const Response& head)>;

    HttpsLink(QString host, quint16 port, QString sha256, int timeoutMs);
    ~HttpsLink();
    HttpsLink(const HttpsLink&) = delete;
    HttpsLink& operator=(const HttpsLink&) = delete;

    // Connects, unless connected; fails when the certificate is not the pinned one.
    platform::Status open();
    // Sends a request with `body` and reads its answer; the sink `sinkFor` gives takes its body in pieces.
    platform::Result<Response> exchange(const QByteArray& method,
                                        const QByteArray& path,
                                        const Fields& fields,
                                        const QByteArray& body,
                                        const SinkFor& sinkFor = {});
    void close();
    // A weak link: a small receive buffer, so that the server feels how fast this side reads.
    void limitReceiveBuffer(int bytes);
    QSslSocket* socket() { return m_socket.get(); }

  private:
    platform::Status send(const QByteArray& bytes);
    platform::Result<Response> readResponse(const SinkFor& sinkFor);

    QString m_host;
    quint16 m_port;
    QString m_sha256;
    int m_timeoutMs;
    int m_receiveBuffer = 0;
    std::unique_ptr<QSslSocket> m_socket;
};

} // namespace kavelo::client

#endif
