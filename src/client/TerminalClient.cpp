#include "client/TerminalClient.h"

#include "wire/Deflate.h"

#include <QDir>
#include <QSaveFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QThread>

#include <chrono>

namespace kavelo::client {

using platform::Result;
using platform::Status;
using wire::Command;
using wire::Header;
using wire::crc32Update;
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
    if (auto* socket = qobject_cast<QAbstractSocket*>(m_device.get())) {
        socket->abort();
    } else if (m_device) {
        m_device->close();
    }
}

} // namespace kavelo::client
