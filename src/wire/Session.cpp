#include "wire/Session.h"

#include "wire/TransferKind.h"

namespace kavelo::wire {

using platform::Status;

namespace {

// ": <reason>" for a terminal's ERR line.
QString reasonSuffix(const Status& status)
{
    const QString reason = reasonForTerminal(status);
    return reason.isEmpty() ? QString() : QStringLiteral(": ") + reason;
}

} // namespace

Session::Session(SessionConfig config, SessionHost& host)
    : m_config(std::move(config))
    , m_host(host)
{
}

bool Session::acceptsBytes() const
{
    return m_state != State::Closed && m_state != State::AwaitPlace && m_state != State::Sending;
}

qsizetype Session::feed(QByteArrayView bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size() && acceptsBytes()) {
        if (m_state == State::Receiving) {
            const qsizetype take = static_cast<qsizetype>(
                qMin<qint64>(m_uploadSize - m_uploadReceived, static_cast<qint64>(bytes.size() - pos)));
            consumeUpload(bytes.sliced(pos, take));
            pos += take;
            continue;
        }
        const qsizetype lf = bytes.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? bytes.size() : lf + 1;
        if (m_line.size() + (end - pos) > kMaxHeaderBytes) {
            m_line.clear();
            refuse(QStringLiteral("header line too long"));
            return pos;
        }
        m_line.append(bytes.sliced(pos, end - pos));
        pos = end;
        if (lf >= 0) {
            const QByteArray line = std::move(m_line);
            m_line = QByteArray();
            handleLine(line);
        }
    }
    return pos;
}

void Session::handleLine(QByteArrayView line)
{
    platform::Result<Header> parsed = parseRequest(line, m_config.maxFileSize);
    if (m_state == State::AwaitHello) {
        handleHello(parsed);
        return;
    }
    if (!parsed.isOk()) {
        refuse(parsed.status().message());
        return;
    }
    switch (parsed->command) {
    case Command::Put:
        handlePut(*parsed);
        return;
    case Command::Get:
        handleGet(parsed->deflate);
        return;
    case Command::Bye:
        m_host.send(okLine());
        m_state = State::Closed;
        m_host.close();
        return;
    case Command::Hello:
        refuse(QStringLiteral("HELLO was already given"));
        return;
    default:
        refuse(QStringLiteral("unknown command"));
        return;
    }
}

void Session::handleHello(const platform::Result<Header>& parsed)
{
    if (!parsed.isOk()) {
        refuse(parsed.status().message());
        return;
    }
    if (parsed->command != Command::Hello) {
        refuse(QStringLiteral("HELLO must come first"));
        return;
    }
    if (const std::optional<QString> refusal = m_host.helloRefused(parsed->terminalNo, parsed->key)) {
        refuse(*refusal);
        return;
    }
    m_terminalNo = parsed->terminalNo;
    m_state = State::AwaitPlace;
    if (m_host.helloReceived(m_terminalNo)) {
        admit();
    }
}

void Session::admit()
{
    if (m_state != State::AwaitPlace) {
        return;
    }
    m_state = State::Ready;
    m_host.send(okLine(QStringLiteral("KAVELO %1").arg(kProtocolVersion)));
}

bool Session::isProtected(const QString& name) const
{
    for (const QString& protectedName : m_config.protectedNames) {
        if (name.compare(protectedName, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

void Session::handlePut(const Header& header)
{
    if (isProtected(header.name)) {
        refuse(QStringLiteral("protected file name"));
        return;
    }
    const Status room = m_host.uploadRoom(header.name, header.size);
    if (!room.isOk()) {
        // Refused before the bytes: the terminal keeps its file and sends it again later.
        m_host.transferStatus(kSavingFailed, header.name);
        m_host.uploadFailed(header.name, room);
        refuse(room.detail());
        return;
    }
    m_uploadName = header.name;
    m_uploadSize = header.size;
    m_uploadReceived = 0;
    m_uploadExpectedCrc = header.crc;
    m_uploadCrc = crc32Update(0, {});
    m_uploadError.reset();
    m_state = State::Receiving;
    m_host.transferStatus(kReceiving, m_uploadName);
    Status begun = m_host.uploadBegin(m_uploadName, m_uploadSize);
    if (!begun.isOk()) {
        m_uploadError = begun; // the bytes are still read, then the upload is refused
    }
    if (m_uploadSize == 0) {
        finishUpload();
    }
}

void Session::consumeUpload(QByteArrayView bytes)
{
    m_uploadCrc = crc32Update(m_uploadCrc, bytes);
    m_uploadReceived += bytes.size();
    if (!m_uploadError) {
        Status written = m_host.uploadWrite(bytes);
        if (!written.isOk()) {
            m_uploadError = written;
        }
    }
    if (m_uploadReceived == m_uploadSize) {
        finishUpload();
    }
}

void Session::finishUpload()
{
    m_host.transferStatus(kSaving, m_uploadName);
    if (m_uploadError) {
        failUpload(toldFailure(QStringLiteral("cannot store the file"), *m_uploadError), true);
        return;
    }
    if (m_uploadCrc != m_uploadExpectedCrc) {
        failUpload(Status::error(QStringLiteral("crc32 mismatch")), true);
        return;
    }
    Status committed = m_host.uploadCommit(m_uploadName);
    if (!committed.isOk()) {
        failUpload(toldFailure(QStringLiteral("cannot save the file"), committed), true);
        return;
    }
    m_state = State::Ready;
    const QString name = m_uploadName;
    TransferOutcome outcome = m_host.fileSaved(name);
    if (outcome.staged) {
        m_staged = *outcome.staged;
    }
    if (m_state == State::Closed) {
        return; // the connection went away while the file was handled
    }
    m_host.send(
        outcome.status.isOk()
            ? okLine()
            : errLine(QStringLiteral("%1 saved but its handling failed%2").arg(name, reasonSuffix(outcome.status))));
}

void Session::failUpload(const Status& why, bool reply)
{
    m_host.uploadDiscard();
    m_host.transferStatus(kSavingFailed, m_uploadName);
    m_host.uploadFailed(m_uploadName, why);
    if (reply) {
        m_state = State::Ready;
        m_host.send(errLine(why.detail()));
    } else {
        m_state = State::Closed;
    }
}

void Session::handleGet(bool deflate)
{
    m_sending = m_staged;
    m_sendIndex = 0;
    m_sendDeflate = deflate;
    m_state = State::Sending;
    sendStagedFiles();
}

void Session::sendStagedFiles()
{
    while (m_state == State::Sending) {
        if (m_sendIndex == m_sending.size()) {
            m_state = State::Ready;
            m_host.send(endLine(m_sendIndex));
            m_host.getSent(m_sendIndex);
            return;
        }
        const QString& name = m_sending.at(m_sendIndex);
        m_host.transferStatus(kSending, name);
        const std::optional<Status> sent = m_host.sendStaged(name, m_sendDeflate);
        if (!sent || !finishStaged(*sent)) {
            return; // goes on in stagedSent(), or ended
        }
    }
}

bool Session::finishStaged(const Status& status)
{
    if (m_state != State::Sending) {
        return false;
    }
    if (!status.isOk()) {
        m_state = State::Ready; // the frames so far are complete: the ERR line can follow them
        refuse(QStringLiteral("cannot read %1").arg(m_sending.at(m_sendIndex)));
        return false;
    }
    ++m_sendIndex;
    return true;
}

void Session::stagedSent(const Status& status)
{
    if (finishStaged(status)) {
        sendStagedFiles();
    }
}

void Session::refuse(const QString& reason)
{
    m_host.send(errLine(reason));
    m_state = State::Closed;
    m_host.close();
}

void Session::connectionLost()
{
    if (m_state == State::Receiving) {
        failUpload(Status::error(QStringLiteral("connection lost")), false);
    }
    m_state = State::Closed;
}

void Session::idleTimeout()
{
    end(QStringLiteral("idle timeout"));
}

void Session::end(const QString& reason)
{
    if (m_state == State::Closed) {
        return;
    }
    const bool midFrame = m_state == State::Sending;
    if (m_state == State::Receiving) {
        failUpload(Status::error(reason), false);
    }
    if (!midFrame) {
        m_host.send(errLine(reason));
    }
    m_state = State::Closed;
    m_host.close();
}

} // namespace kavelo::wire
