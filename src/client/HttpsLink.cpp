#include "client/HttpsLink.h"

#include <QCryptographicHash>
#include <QSslConfiguration>
#include <QSslSocket>

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>

#include <limits>

namespace kavelo::client {

namespace http = boost::beast::http;

using platform::Result;
using platform::Status;

namespace {

constexpr qint64 kReadChunk = 64 * 1024;
constexpr qint64 kWriteChunk = 1024 * 1024;

} // namespace

HttpsLink::HttpsLink(QString host, quint16 port, QString sha256, int timeoutMs)
    : m_host(std::move(host))
    , m_port(port)
    , m_sha256(sha256.toLower())
    , m_timeoutMs(timeoutMs)
{
}

HttpsLink::~HttpsLink() = default;

void HttpsLink::limitReceiveBuffer(int bytes)
{
    m_receiveBuffer = bytes;
    if (m_socket) {
        m_socket->setReadBufferSize(bytes);
        m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, bytes);
    }
}

Status HttpsLink::open()
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState && m_socket->isEncrypted()) {
        return Status::ok();
    }
    m_socket = std::make_unique<QSslSocket>();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // the certificate is pinned instead, below
    m_socket->setSslConfiguration(tls);
    if (m_receiveBuffer > 0) {
        limitReceiveBuffer(m_receiveBuffer);
    }
    m_socket->connectToHostEncrypted(m_host, m_port);
    if (!m_socket->waitForEncrypted(m_timeoutMs)) {
        return Status::error(QStringLiteral("cannot connect to %1 port %2 over TLS: %3")
                                 .arg(m_host)
                                 .arg(m_port)
                                 .arg(m_socket->errorString()));
    }
    const QString presented =
        QString::fromLatin1(m_socket->peerCertificate().digest(QCryptographicHash::Sha256).toHex());
    if (presented != m_sha256) {
        m_socket->abort();
        return Status::error(QStringLiteral("%1 port %2 presents certificate %3, not the pinned %4")
                                 .arg(m_host)
                                 .arg(m_port)
                                 .arg(presented, m_sha256));
    }
    return Status::ok();
}

void HttpsLink::close()
{
    if (m_socket) {
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState) {
            m_socket->waitForDisconnected(m_timeoutMs);
        }
        m_socket.reset();
    }
}

Status HttpsLink::send(const QByteArray& bytes)
{
    for (qint64 offset = 0; offset < bytes.size();) {
        const qint64 chunk = qMin(kWriteChunk, bytes.size() - offset);
        if (m_socket->write(bytes.constData() + offset, chunk) != chunk) {
            return Status::error(QStringLiteral("connection broken: %1").arg(m_socket->errorString()));
        }
        offset += chunk;
        while (m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() > 4 * kWriteChunk) {
            if (!m_socket->waitForBytesWritten(m_timeoutMs)) {
                return Status::error(
                    QStringLiteral("connection broken while sending: %1").arg(m_socket->errorString()));
            }
        }
    }
    while (m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(m_timeoutMs)) {
            return Status::error(QStringLiteral("connection broken while sending: %1").arg(m_socket->errorString()));
        }
    }
    return Status::ok();
}

Result<HttpsLink::Response> HttpsLink::exchange(const QByteArray& method,
                                                const QByteArray& path,
                                                const Fields& fields,
                                                const QByteArray& body,
                                                const SinkFor& sinkFor)
{
    Status opened = open();
    if (!opened.isOk()) {
        return opened;
    }
    QByteArray head = method + ' ' + path + " HTTP/1.1\r\nHost: " + m_host.toLatin1() + "\r\n";
    for (const auto& [name, value] : fields) {
        head += name + ": " + value + "\r\n";
    }
    if (!body.isEmpty() || method == "PUT") {
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    Status sent = send(head + "\r\n");
    if (sent.isOk()) {
        sent = send(body);
    }
    Result<Response> response = readResponse(sinkFor);
    if (!response.isOk() && !sent.isOk()) {
        return sent; // no answer: what broke the request says more
    }
    return response;
}

Result<HttpsLink::Response> HttpsLink::readResponse(const SinkFor& sinkFor)
{
    Sink sink;
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    Response response;
    QByteArray pending;
    QByteArray piece(kReadChunk, Qt::Uninitialized);
    for (;;) {
        const bool bodyPhase = parser.is_header_done();
        if (bodyPhase) {
            parser.get().body().data = piece.data();
            parser.get().body().size = static_cast<std::size_t>(piece.size());
        }
        boost::beast::error_code error;
        const std::size_t used =
            pending.isEmpty()
                ? 0
                : parser.put(boost::asio::buffer(pending.constData(), static_cast<std::size_t>(pending.size())), error);
        pending.remove(0, static_cast<qsizetype>(used));
        if (parser.is_header_done() && response.status == 0) {
            response.status = static_cast<int>(parser.get().result_int());
            for (const auto& field : parser.get()) {
                response.fields.insert(
                    QByteArray(field.name_string().data(), static_cast<qsizetype>(field.name_string().size()))
                        .toLower(),
                    QByteArray(field.value().data(), static_cast<qsizetype>(field.value().size())));
            }
            if (sinkFor) {
                sink = sinkFor(response);
            }
        }
        if (bodyPhase && used > 0) {
            const qsizetype produced = piece.size() - static_cast<qsizetype>(parser.get().body().size);
            if (produced > 0) {
                const QByteArrayView bytes(piece.constData(), produced);
                if (sink) {
                    Status taken = sink(bytes);
                    if (!taken.isOk()) {
                        return taken;
                    }
                } else {
                    response.body.append(bytes);
                }
            }
        }
        if (error && error != http::error::need_more && error != http::error::need_buffer) {
            return Status::error(QStringLiteral("a malformed answer: %1").arg(QString::fromStdString(error.message())));
        }
        if (parser.is_done()) {
            return response;
        }
        if (used > 0 && !pending.isEmpty()) {
            continue;
        }
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(m_timeoutMs)) {
            return Status::error(m_socket->state() == QAbstractSocket::ConnectedState
                                     ? QStringLiteral("no answer from the server")
                                     : QStringLiteral("connection closed by the server"));
        }
        pending += m_socket->read(kReadChunk);
    }
}

} // namespace kavelo::client
