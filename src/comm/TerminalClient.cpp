#include "comm/TerminalClient.h"

#include <QDir>
#include <QSaveFile>
#include <QTcpSocket>

namespace kavelo::comm {

using platform::Result;
using platform::Status;

namespace {

constexpr qint64 kMaxGetFileSize = qint64(1) << 40;
constexpr qint64 kWriteChunk = 1024 * 1024;

} // namespace

TerminalClient::TerminalClient(QString host, quint16 port, int timeoutMs)
    : m_host(std::move(host))
    , m_port(port)
    , m_timeoutMs(timeoutMs)
{
}

TerminalClient::~TerminalClient() = default;

Status TerminalClient::connectAs(int terminalNo)
{
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->connectToHost(m_host, m_port);
    if (!m_socket->waitForConnected(m_timeoutMs)) {
        return Status::error(
            QStringLiteral("cannot connect to %1 port %2: %3").arg(m_host).arg(m_port).arg(m_socket->errorString()));
    }
    Status sent = sendRaw(helloLine(terminalNo));
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
    if (!m_socket) {
        return Status::error(QStringLiteral("not connected"));
    }
    qint64 offset = 0;
    while (offset < bytes.size()) {
        const qint64 chunk = qMin(kWriteChunk, bytes.size() - offset);
        if (m_socket->write(bytes.constData() + offset, chunk) != chunk) {
            return Status::error(QStringLiteral("connection broken: %1").arg(m_socket->errorString()));
        }
        offset += chunk;
        Status flushed = flush();
        if (!flushed.isOk()) {
            return flushed;
        }
    }
    return Status::ok();
}

Status TerminalClient::flush()
{
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(m_timeoutMs)) {
            return Status::error(QStringLiteral("connection broken while sending: %1").arg(m_socket->errorString()));
        }
    }
    return Status::ok();
}

Result<QByteArray> TerminalClient::readLine()
{
    if (!m_socket) {
        return Status::error(QStringLiteral("not connected"));
    }
    while (!m_socket->canReadLine()) {
        if (m_socket->bytesAvailable() >= kMaxHeaderBytes) {
            return Status::error(QStringLiteral("reply line too long"));
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0) {
            return Status::error(QStringLiteral("connection closed by the server"));
        }
        if (!m_socket->waitForReadyRead(m_timeoutMs)) {
            if (m_socket->canReadLine()) {
                break;
            }
            return Status::error(m_socket->error() == QAbstractSocket::SocketTimeoutError
                                     ? QStringLiteral("no reply from the server")
                                     : QStringLiteral("connection closed by the server"));
        }
    }
    QByteArray line = m_socket->readLine(kMaxHeaderBytes + 1);
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

Result<QByteArray> TerminalClient::readExactly(qint64 size)
{
    QByteArray content;
    content.reserve(size);
    while (content.size() < size) {
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(m_timeoutMs)) {
            return Status::error(QStringLiteral("connection broken while receiving a file"));
        }
        content.append(m_socket->read(size - content.size()));
    }
    return content;
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
    Status sent = sendRaw(putLine(name, content.size(), crc));
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

Result<QStringList> TerminalClient::get(const QString& folder)
{
    Status sent = sendRaw(QByteArrayLiteral("GET\n"));
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
        if (reply->command != Command::File) {
            return Status::error(QStringLiteral("GET: unexpected reply: %1").arg(QString::fromLatin1(*line)));
        }
        Result<QByteArray> content = readExactly(reply->size);
        if (!content.isOk()) {
            return content.status().prefixed(QStringLiteral("GET %1: ").arg(reply->name));
        }
        if (crc32Update(0, *content) != reply->crc) {
            return Status::error(QStringLiteral("GET %1: crc32 mismatch").arg(reply->name));
        }
        QSaveFile file(QDir(folder).filePath(reply->name));
        if (!file.open(QIODevice::WriteOnly) || file.write(*content) != content->size() || !file.commit()) {
            return Status::error(QStringLiteral("%1: cannot write: %2").arg(file.fileName(), file.errorString()));
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
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState) {
        m_socket->waitForDisconnected(m_timeoutMs);
    }
    return ok;
}

void TerminalClient::abort()
{
    if (m_socket) {
        m_socket->abort();
    }
}

} // namespace kavelo::comm
