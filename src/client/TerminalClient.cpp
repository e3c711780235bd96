#include "client/TerminalClient.h"

#include "client/HttpsLink.h"
#include "platform/Crypto.h"
#include "wire/Deflate.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUrl>
#include <QUrlQuery>
#include <QSerialPort>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>

#include <chrono>

namespace kavelo::client {

using platform::Result;
using platform::Status;
using wire::Command;
using wire::crc32Update;
using wire::Header;
using wire::kMaxHeaderBytes;
using wire::parseReply;

namespace {

constexpr qint64 kMaxGetFileSize = qint64(1) << 40;
constexpr qint64 kWriteChunk = 1024 * 1024;
constexpr qint64 kReadChunk = 64 * 1024;
// What a weak link's terminal buffers: small, so that the server's sending waits for it.
constexpr int kLimitedBuffer = 64 * 1024;

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

TerminalClient::TerminalClient(QString host, quint16 port, int timeoutMs)
    : m_host(std::move(host))
    , m_port(port)
    , m_timeoutMs(timeoutMs)
{
}

TerminalClient::TerminalClient(Https https, int timeoutMs)
    : m_host(https.host)
    , m_port(https.port)
    , m_https(std::make_unique<HttpsLink>(https.host, https.port, https.sha256, timeoutMs))
    , m_timeoutMs(timeoutMs)
{
}

TerminalClient::TerminalClient(SerialLine line, int timeoutMs)
    : m_line(std::move(line))
    , m_timeoutMs(timeoutMs)
{
}

TerminalClient::~TerminalClient() = default;

void TerminalClient::setLinkRate(qint64 bytesPerSecond)
{
    m_linkRate = qMax<qint64>(0, bytesPerSecond);
    m_pacedSince = 0;
    if (m_https && m_linkRate > 0) {
        m_https->limitReceiveBuffer(kLimitedBuffer);
    }
    if (auto* socket = qobject_cast<QTcpSocket*>(m_device.get()); socket && m_linkRate > 0) {
        socket->setReadBufferSize(kLimitedBuffer);
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kLimitedBuffer);
    }
}

Status TerminalClient::open()
{
    if (!m_line.device.isEmpty()) {
        if (m_device && m_device->isOpen()) {
            return Status::ok(); // the next session on the same line
        }
        auto port = std::make_unique<QSerialPort>(m_line.device);
        if (!port->open(QIODevice::ReadWrite) || !port->setBaudRate(m_line.baud) ||
            !port->setDataBits(QSerialPort::Data8) || !port->setParity(QSerialPort::NoParity) ||
            !port->setStopBits(QSerialPort::OneStop) || !port->setFlowControl(QSerialPort::NoFlowControl)) {
            return Status::error(QStringLiteral("cannot open %1: %2").arg(m_line.device, port->errorString()));
        }
        m_device = std::move(port);
        return Status::ok();
    }
    auto socket = std::make_unique<QTcpSocket>();
    if (m_linkRate > 0) {
        socket->setReadBufferSize(kLimitedBuffer);
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kLimitedBuffer);
    }
    socket->connectToHost(m_host, m_port);
    if (!socket->waitForConnected(m_timeoutMs)) {
        return Status::error(
            QStringLiteral("cannot connect to %1 port %2: %3").arg(m_host).arg(m_port).arg(socket->errorString()));
    }
    m_device = std::move(socket);
    return Status::ok();
}

Status TerminalClient::connectAs(int terminalNo, const QByteArray& key)
{
    if (m_https) {
        m_terminalNo = terminalNo;
        m_key = key;
        return m_https->open();
    }
    Status opened = open();
    if (!opened.isOk()) {
        return opened;
    }
    Status sent = sendRaw(wire::helloLine(terminalNo, key));
    if (!sent.isOk()) {
        return sent;
    }
    Result<QByteArray> line = readLine();
    if (!line.isOk()) {
        return line.status();
    }
    if (*line != QByteArrayLiteral("OK KAVELO 1")) {
        return Status::error(QStringLiteral("HELLO refused: %1").arg(QString::fromLatin1(*line)));
    }
    return Status::ok();
}

Status TerminalClient::sendRaw(const QByteArray& bytes)
{
    if (!m_device) {
        if (m_https) {
            return Status::error(QStringLiteral("no raw lines over HTTPS"));
        }
        return Status::error(QStringLiteral("not connected"));
    }
    qint64 offset = 0;
    while (offset < bytes.size()) {
        const qint64 chunk = qMin(m_linkRate > 0 ? kReadChunk : kWriteChunk, bytes.size() - offset);
        if (m_device->write(bytes.constData() + offset, chunk) != chunk) {
            return Status::error(QStringLiteral("connection broken: %1").arg(m_device->errorString()));
        }
        offset += chunk;
        Status flushed = flush();
        if (!flushed.isOk()) {
            return flushed;
        }
        pace(chunk);
    }
    return Status::ok();
}

Status TerminalClient::flush()
{
    while (m_device->bytesToWrite() > 0) {
        if (!m_device->waitForBytesWritten(m_timeoutMs)) {
            return Status::error(QStringLiteral("connection broken while sending: %1").arg(m_device->errorString()));
        }
    }
    return Status::ok();
}

Result<QByteArray> TerminalClient::readLine()
{
    if (!m_device) {
        return Status::error(QStringLiteral("not connected"));
    }
    auto* socket = qobject_cast<QAbstractSocket*>(m_device.get());
    while (!m_device->canReadLine()) {
        if (m_device->bytesAvailable() >= kMaxHeaderBytes) {
            return Status::error(QStringLiteral("reply line too long"));
        }
        if (socket && socket->state() != QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0) {
            return Status::error(QStringLiteral("connection closed by the server"));
        }
        if (!m_device->waitForReadyRead(m_timeoutMs)) {
            if (m_device->canReadLine()) {
                break;
            }
            return Status::error(socket && socket->error() != QAbstractSocket::SocketTimeoutError
                                     ? QStringLiteral("connection closed by the server")
                                     : QStringLiteral("no reply from the server"));
        }
    }
    QByteArray line = m_device->readLine(kMaxHeaderBytes + 1);
    m_received += line.size();
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

QByteArray TerminalClient::drain(int quietMs)
{
    QByteArray drained;
    while (m_device && (m_device->bytesAvailable() > 0 || m_device->waitForReadyRead(quietMs))) {
        drained += m_device->readAll();
    }
    m_received += drained.size();
    return drained;
}

void TerminalClient::pace(qint64 bytes)
{
    if (m_linkRate <= 0) {
        return;
    }
    if (m_pacedSince == 0) {
        m_paceStartMs = nowMs() - bytes * 1000 / m_linkRate; // the clock starts with the first bytes moved
    }
    m_pacedSince += bytes;
    const qint64 due = m_paceStartMs + m_pacedSince * 1000 / m_linkRate;
    const qint64 wait = due - nowMs();
    if (wait > 0) {
        QThread::msleep(static_cast<unsigned long>(wait));
    }
}

Status TerminalClient::readBody(qint64 size, const std::function<Status(QByteArrayView)>& sink)
{
    qint64 left = size;
    while (left > 0) {
        if (m_device->bytesAvailable() == 0 && !m_device->waitForReadyRead(m_timeoutMs)) {
            return Status::error(QStringLiteral("connection broken while receiving a file"));
        }
        const QByteArray chunk = m_device->read(qMin(left, kReadChunk));
        left -= chunk.size();
        m_received += chunk.size();
        Status taken = sink(chunk);
        if (!taken.isOk()) {
            return taken;
        }
        pace(chunk.size());
    }
    return Status::ok();
}

Status TerminalClient::receiveFile(const Header& frame, const QString& folder)
{
    QSaveFile file(QDir(folder).filePath(frame.name));
    if (!file.open(QIODevice::WriteOnly)) {
        return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
    }
    quint32 crc = 0;
    qint64 written = 0;
    auto store = [&](QByteArrayView bytes) {
        crc = crc32Update(crc, bytes);
        written += bytes.size();
        if (written > frame.size) {
            return Status::error(QStringLiteral("more bytes than announced"));
        }
        if (file.write(bytes.data(), bytes.size()) != bytes.size()) {
            return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
        }
        return Status::ok();
    };
    Status received;
    if (frame.command == Command::ZFile) {
        wire::Inflater inflater;
        QByteArray out;
        received = readBody(frame.zsize, [&](QByteArrayView bytes) {
            out.clear();
            Status inflated = inflater.add(bytes, out);
            return inflated.isOk() ? store(out) : inflated;
        });
        if (received.isOk() && !inflater.finished()) {
            received = Status::error(QStringLiteral("zlib stream cut short"));
        }
    } else {
        received = readBody(frame.size, store);
    }
    if (received.isOk() && written != frame.size) {
        received = Status::error(QStringLiteral("%1 bytes instead of %2").arg(written).arg(frame.size));
    }
    if (received.isOk() && crc != frame.crc) {
        received = Status::error(QStringLiteral("crc32 mismatch"));
    }
    if (!received.isOk()) {
        file.cancelWriting();
        return received;
    }
    if (!file.commit()) {
        return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
    }
    return Status::ok();
}

Status TerminalClient::expectOk(const QString& what)
{
    Result<QByteArray> line = readLine();
    if (!line.isOk()) {
        return line.status().prefixed(what + QStringLiteral(": "));
    }
    Result<Header> reply = parseReply(*line, kMaxGetFileSize);
    if (!reply.isOk() || (reply->command != Command::Ok && reply->command != Command::Err)) {
        return Status::error(QStringLiteral("%1: unexpected reply: %2").arg(what, QString::fromLatin1(*line)));
    }
    if (reply->command == Command::Err) {
        return Status::error(QStringLiteral("%1: ERR %2").arg(what, reply->text));
    }
    return Status::ok();
}

Status TerminalClient::put(const QString& name, const QByteArray& content)
{
    return putWithCrc(name, content, crc32Update(0, content));
}

Status TerminalClient::putWithCrc(const QString& name, const QByteArray& content, quint32 crc)
{
    if (m_https) {
        return httpsPut(name, content); // HTTPS checks a SHA-256 instead
    }
    Status sent = sendRaw(wire::putLine(name, content.size(), crc));
    if (sent.isOk()) {
        sent = sendRaw(content);
    }
    if (!sent.isOk()) {
        // The server may have refused the header and closed: its reason is worth more than ours.
        Result<QByteArray> line = readLine();
        if (line.isOk() && line->startsWith("ERR")) {
            return Status::error(QStringLiteral("PUT %1: %2").arg(name, QString::fromLatin1(*line)));
        }
        return sent.prefixed(QStringLiteral("PUT %1: ").arg(name));
    }
    return expectOk(QStringLiteral("PUT %1").arg(name));
}

Result<QStringList> TerminalClient::get(const QString& folder, bool deflate)
{
    if (m_https) {
        return httpsGet(folder, deflate);
    }
    Status sent = sendRaw(wire::getLine(deflate));
    if (!sent.isOk()) {
        return sent;
    }
    QStringList names;
    for (;;) {
        Result<QByteArray> line = readLine();
        if (!line.isOk()) {
            return line.status().prefixed(QStringLiteral("GET: "));
        }
        Result<Header> reply = parseReply(*line, kMaxGetFileSize);
        if (!reply.isOk()) {
            return Status::error(QStringLiteral("GET: unexpected reply: %1").arg(QString::fromLatin1(*line)));
        }
        if (reply->command == Command::Err) {
            return Status::error(QStringLiteral("GET: ERR %1").arg(reply->text));
        }
        if (reply->command == Command::End) {
            if (reply->size != names.size()) {
                return Status::error(QStringLiteral("GET: END %1 after %2 files").arg(reply->size).arg(names.size()));
            }
            return names;
        }
        const bool expected = deflate ? reply->command == Command::ZFile : reply->command == Command::File;
        if (!expected) {
            return Status::error(QStringLiteral("GET: unexpected reply: %1").arg(QString::fromLatin1(*line)));
        }
        Status received = receiveFile(*reply, folder);
        if (!received.isOk()) {
            return received.prefixed(QStringLiteral("GET %1: ").arg(reply->name));
        }
        names << reply->name;
    }
}

Status TerminalClient::bye()
{
    if (m_https) {
        m_https->close();
        return Status::ok();
    }
    Status sent = sendRaw(QByteArrayLiteral("BYE\n"));
    if (!sent.isOk()) {
        return sent;
    }
    Status ok = expectOk(QStringLiteral("BYE"));
    if (auto* socket = qobject_cast<QAbstractSocket*>(m_device.get())) {
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            socket->waitForDisconnected(m_timeoutMs);
        }
    }
    return ok;
}

void TerminalClient::abort()
{
    if (m_https) {
        if (QSslSocket* socket = m_https->socket()) {
            socket->abort();
        }
        return;
    }
    if (auto* socket = qobject_cast<QAbstractSocket*>(m_device.get())) {
        socket->abort();
    } else if (m_device) {
        m_device->close();
    }
}

namespace {

// "HTTP 413 file too large (limit 1000 bytes)": the status and the server's {"error": ...}.
Status httpFailure(const QString& what, const HttpsLink::Response& response)
{
    const QString reason = QJsonDocument::fromJson(response.body).object().value(QStringLiteral("error")).toString();
    return Status::error(QStringLiteral("%1: HTTP %2 %3").arg(what).arg(response.status).arg(reason));
}

HttpsLink::Fields authorization(const QByteArray& key)
{
    return key.isEmpty() ? HttpsLink::Fields{} : HttpsLink::Fields{{"Authorization", "Bearer " + key}};
}

} // namespace

Result<Enrollment> parseEnrollment(const QString& uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    const QUrlQuery query(url.query());
    Enrollment enrollment;
    bool portOk = false;
    bool terminalOk = false;
    enrollment.host = query.queryItemValue(QStringLiteral("host"));
    enrollment.port = static_cast<quint16>(query.queryItemValue(QStringLiteral("port")).toUInt(&portOk));
    enrollment.terminalNo = query.queryItemValue(QStringLiteral("terminal")).toInt(&terminalOk);
    enrollment.key = query.queryItemValue(QStringLiteral("key")).toLatin1();
    enrollment.sha256 = query.queryItemValue(QStringLiteral("sha256"));
    if (url.scheme() != QLatin1String("kavelo") || url.host() != QLatin1String("enroll") ||
        query.queryItemValue(QStringLiteral("v")) != QLatin1String("1") || enrollment.host.isEmpty() || !portOk ||
        !terminalOk || enrollment.key.isEmpty() || enrollment.sha256.size() != 64) {
        return Status::error(QStringLiteral("not an enrollment URI of version 1: %1")
                                 .arg(QStringLiteral("kavelo://enroll?v=1&host=H&port=P&terminal=N&key=K&sha256=F")));
    }
    return enrollment;
}

Status TerminalClient::httpsPut(const QString& name, const QByteArray& content)
{
    const QByteArray path = "/v1/terminals/" + QByteArray::number(m_terminalNo) + "/files/" + name.toLatin1();
    HttpsLink::Fields fields = authorization(m_key);
    fields.append(
        std::pair<QByteArray, QByteArray>("Content-Digest", "sha-256=:" + platform::sha256(content).toBase64() + ":"));
    Result<HttpsLink::Response> response = m_https->exchange("PUT", path, fields, content);
    if (!response.isOk()) {
        return response.status().prefixed(QStringLiteral("PUT %1: ").arg(name));
    }
    return response->status == 200 ? Status::ok() : httpFailure(QStringLiteral("PUT %1").arg(name), *response);
}

Result<QStringList> TerminalClient::httpsGet(const QString& folder, bool deflate)
{
    const QByteArray path = "/v1/terminals/" + QByteArray::number(m_terminalNo) + "/masters";
    Result<HttpsLink::Response> listed = m_https->exchange("GET", path, authorization(m_key), {});
    if (!listed.isOk()) {
        return listed.status().prefixed(QStringLiteral("GET: "));
    }
    if (listed->status != 200) {
        return httpFailure(QStringLiteral("GET"), *listed);
    }
    m_received += listed->body.size();
    QStringList names;
    const QJsonArray masters =
        QJsonDocument::fromJson(listed->body).object().value(QStringLiteral("masters")).toArray();
    for (const QJsonValue& value : masters) {
        const QJsonObject master = value.toObject();
        const QString name = master.value(QStringLiteral("name")).toString();
        Status fetched = httpsFetch(name,
                                    master.value(QStringLiteral("size")).toInteger(),
                                    QByteArray::fromHex(master.value(QStringLiteral("sha256")).toString().toLatin1()),
                                    folder,
                                    deflate);
        if (!fetched.isOk()) {
            return fetched.prefixed(QStringLiteral("GET %1: ").arg(name));
        }
        names << name;
    }
    return names;
}

Status TerminalClient::httpsFetch(
    const QString& name, qint64 size, const QByteArray& sha256, const QString& folder, bool deflate)
{
    if (!wire::isValidFileName(name.toLatin1())) {
        return Status::error(QStringLiteral("not a plain file name"));
    }
    QSaveFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly)) {
        return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
    }
    HttpsLink::Fields fields = authorization(m_key);
    if (deflate) {
        fields.append(std::pair<QByteArray, QByteArray>("Accept-Encoding", "gzip"));
    }
    platform::Sha256 digest;
    qint64 written = 0;
    std::unique_ptr<wire::Inflater> inflater;
    QByteArray plain;
    HttpsLink::Sink store = [&](QByteArrayView bytes) {
        m_received += bytes.size();
        pace(bytes.size());
        QByteArrayView content = bytes;
        if (inflater) {
            plain.clear();
            Status inflated = inflater->add(bytes, plain);
            if (!inflated.isOk()) {
                return inflated;
            }
            content = plain;
        }
        digest.add(content);
        written += content.size();
        if (file.write(content.data(), content.size()) != content.size()) {
            return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
        }
        return Status::ok();
    };
    const auto sinkFor = [&](const HttpsLink::Response& head) {
        if (head.status != 200) {
            return HttpsLink::Sink(); // the error's JSON
        }
        if (head.fields.value("content-encoding") == "gzip") {
            inflater = std::make_unique<wire::Inflater>(wire::Deflater::Format::Gzip);
        }
        return store;
    };
    const QByteArray path = "/v1/terminals/" + QByteArray::number(m_terminalNo) + "/masters/" + name.toLatin1();
    Result<HttpsLink::Response> response = m_https->exchange("GET", path, fields, {}, sinkFor);
    if (!response.isOk()) {
        file.cancelWriting();
        return response.status();
    }
    if (response->status != 200) {
        file.cancelWriting();
        return httpFailure(QStringLiteral("GET %1").arg(name), *response);
    }
    if ((inflater && !inflater->finished()) || written != size || digest.finish() != sha256) {
        file.cancelWriting();
        return Status::error(
            QStringLiteral("%1 bytes, or their SHA-256, differ from what the list announced").arg(written));
    }
    if (!file.commit()) {
        return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
    }
    return Status::ok();
}

} // namespace kavelo::client
