#include "wire/SessionChannel.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/StagedSender.h"
#include "wire/TransferKind.h"

#include <QAbstractSocket>
#include <QDir>

#include <utility>

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qint64 kReadChunk = 256 * 1024;
// A session's socket holds at most this much unread; beyond it the terminal's sending waits (TCP flow control).
constexpr qint64 kSessionReadBuffer = 1024 * 1024;
// The system's send buffer of a session: what went out of our hands is taken by a slow terminal within seconds, so
// that its idle time stays the terminal's own.
constexpr int kSessionSendBuffer = 512 * 1024;

} // namespace

SessionChannel::SessionChannel(
    ChannelHub& hub, QIODevice& device, QString peer, Transport transport, QHostAddress address, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_device(device)
    , m_peer(std::move(peer))
    , m_transport(transport)
    , m_address(std::move(address))
    , m_since(QDateTime::currentDateTime())
    , m_session(hub.limits().session, *this)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "timing out a session", [this] { onTimeout(); });
    });
    connect(&m_device, &QIODevice::readyRead, this, [this] {
        if (!platform::guarded(lcComm, "reading from a terminal", [this] { pump(); })) {
            streamLost();
            close();
        }
    });
    // Bytes the terminal takes are progress too: the end of a long GET drains after the session is Ready again.
    connect(&m_device, &QIODevice::bytesWritten, this, [this] { rearm(true); });
    m_timer.start(m_hub.limits().helloTimeoutMs);
}

SessionChannel::~SessionChannel()
{
    m_timer.stop();
    delete m_sender.data();
    m_upload.reset();
    if (!m_placeLeft) {
        m_hub.leavePlace(*this);
    }
}

QString SessionChannel::describe() const
{
    return greeted() ? QStringLiteral("terminal %1 (%2)").arg(terminalNo()).arg(m_peer) : m_peer;
}

QString SessionChannel::activity() const
{
    switch (m_session.state()) {
    case Session::State::AwaitHello:
        return QStringLiteral("waiting for HELLO");
    case Session::State::AwaitPlace:
        return QStringLiteral("waiting for a free session");
    case Session::State::Ready:
        return QStringLiteral("idle");
    case Session::State::Receiving:
        return QStringLiteral("receiving %1").arg(m_current);
    case Session::State::Sending:
        return m_current.isEmpty() ? QStringLiteral("sending") : QStringLiteral("sending %1").arg(m_current);
    case Session::State::Closed:
        break;
    }
    return QStringLiteral("ended");
}

void SessionChannel::pump()
{
    if (m_pumping) {
        return;
    }
    m_pumping = true;
    bool progress = false;
    while (m_session.acceptsBytes()) {
        if (m_pendingUsed == m_pending.size()) {
            m_pending.clear();
            m_pendingUsed = 0;
            if (m_device.bytesAvailable() <= 0) {
                break;
            }
            m_pending = m_device.read(kReadChunk);
            if (m_pending.isEmpty()) {
                break;
            }
            progress = true;
        }
        m_pendingUsed += m_session.feed(QByteArrayView(m_pending).sliced(m_pendingUsed));
    }
    m_pumping = false;
    rearm(progress);
}

void SessionChannel::feedFirst(const QByteArray& bytes)
{
    m_pending = bytes + m_pending.mid(m_pendingUsed);
    m_pendingUsed = 0;
    pump();
}

QByteArray SessionChannel::takeUnread()
{
    QByteArray unread = m_pending.mid(m_pendingUsed);
    m_pending.clear();
    m_pendingUsed = 0;
    return unread;
}

void SessionChannel::detach()
{
    m_device.disconnect(this);
    delete m_sender.data();
}

void SessionChannel::admit()
{
    prepareSession();
    m_session.admit();
    afterSessionCall();
}

void SessionChannel::prepareSession()
{
    // Until HELLO a connection gets a few KiB; a session reads in large pieces.
    if (auto* socket = qobject_cast<QAbstractSocket*>(&m_device)) {
        socket->setReadBufferSize(kSessionReadBuffer);
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSessionSendBuffer);
    }
    qCInfo(lcComm).noquote() << describe() + QStringLiteral(": session started");
    if (TransferObserver* observer = m_hub.observer()) {
        observer->sessionStarted(terminalNo(), transportName(m_transport), m_peer);
    }
}

void SessionChannel::end(const QString& reason)
{
    if (m_session.closed()) {
        return;
    }
    qCInfo(lcComm).noquote() << describe() + QStringLiteral(": session ended: %1").arg(reason);
    delete m_sender.data();
    m_session.end(reason);
}

void SessionChannel::streamLost()
{
    delete m_sender.data();
    if (!m_session.closed()) {
        m_session.connectionLost();
        const QString unsaved = std::exchange(m_unsaved, QString());
        if (greeted()) {
            qCWarning(lcComm).noquote() << describe() +
                                               (unsaved.isEmpty()
                                                    ? QStringLiteral(": connection lost")
                                                    : QStringLiteral(": connection lost; %1 not saved").arg(unsaved));
        }
    }
    m_timer.stop();
    if (!m_placeLeft) {
        m_placeLeft = true;
        m_hub.leavePlace(*this);
    }
}

void SessionChannel::afterSessionCall()
{
    pump(); // the session may take bytes again
}

void SessionChannel::rearm(bool progress)
{
    const int idle = m_hub.limits().idleTimeoutMs;
    switch (m_session.state()) {
    case Session::State::AwaitHello:
        return; // counted from the connect, never restarted
    case Session::State::AwaitPlace:
    case Session::State::Closed:
        m_timer.stop();
        return;
    case Session::State::Sending:
        if (m_sender && m_sender->preparing()) {
            m_timer.stop(); // the server is busy, not the terminal
            return;
        }
        break;
    case Session::State::Ready:
    case Session::State::Receiving:
        break;
    }
    if (progress || !m_timer.isActive() || m_timer.interval() != idle) {
        m_timer.start(idle);
    }
}

void SessionChannel::onTimeout()
{
    if (m_session.state() == Session::State::AwaitHello) {
        qCWarning(lcComm).noquote()
            << describe() + QStringLiteral(": no HELLO within %1 ms, closing").arg(m_hub.limits().helloTimeoutMs);
        m_session.end(QStringLiteral("no HELLO in time"));
        return;
    }
    qCWarning(lcComm).noquote() << describe() +
                                       QStringLiteral(": idle for %1 ms, closing").arg(m_hub.limits().idleTimeoutMs);
    delete m_sender.data();
    m_session.idleTimeout();
}

// SessionHost.

void SessionChannel::send(const QByteArray& bytes)
{
    if (bytes.startsWith("ERR")) {
        const QString text = QString::fromLatin1(bytes.trimmed());
        if (!std::exchange(m_failureLogged, false)) {
            // One line per failure: an upload given up says which and why, with the path when storing it failed.
            const QString unsaved = std::exchange(m_unsaved, QString());
            const std::optional<Status> stored = std::exchange(m_storeFailure, std::nullopt);
            qCWarning(lcComm).noquote()
                << describe() +
                       (unsaved.isEmpty()
                            ? QStringLiteral(": %1").arg(text)
                            : QStringLiteral(": %1 not saved: %2").arg(unsaved, stored ? stored->message() : text));
        }
        // The failure as data when the session told it (an upload not saved), else the line's own words.
        const std::optional<Status> told = std::exchange(m_told, std::nullopt);
        const QString said = text.mid(4);
        if (TransferObserver* observer = m_hub.observer()) {
            const Status failure = told && told->detail() == said ? *told : Status::error(said);
            observer->sessionFailed(terminalNo(), failure.prefixed(QStringLiteral("ERR ")));
        }
    }
    m_device.write(bytes);
}

void SessionChannel::close()
{
    m_timer.stop();
    if (!m_placeLeft) {
        m_placeLeft = true;
        m_hub.leavePlace(*this);
    }
    if (m_closeRaised) {
        return;
    }
    m_closeRaised = true;
    // Raised from the event loop: the owner may destroy this channel, which is in the middle of a session call.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT closeRequested(); }, Qt::QueuedConnection);
}

void SessionChannel::transferStatus(qint16 kind, const QString& name)
{
    if (kind == kReceiving) {
        m_current = name;
    }
    if (kind == kSavingFailed) {
        m_unsaved = name; // said with the reason: the ERR line, or the connection's loss
    }
    m_hub.raiseTransfer(terminalNo(), m_transport, kind, name);
}

void SessionChannel::uploadFailed(const QString& name, const Status& why)
{
    m_told = why;
    if (TransferObserver* observer = m_hub.observer()) {
        observer->uploadFinished(terminalNo(), name, m_uploadSize, why);
    }
    m_hub.uploadFailed(terminalNo(), m_transport, name, why);
}

std::optional<QString> SessionChannel::helloRefused(int terminalNo, const QByteArray& key)
{
    return m_hub.helloRefused(*this, terminalNo, key);
}

bool SessionChannel::helloReceived(int)
{
    const bool admitted = m_hub.requestPlace(*this);
    if (admitted) {
        prepareSession();
    }
    return admitted;
}

Status SessionChannel::uploadRoom(const QString& name, qint64 size)
{
    Q_UNUSED(name);
    m_uploadSize = size;
    return m_hub.roomForUpload(size);
}

Status SessionChannel::uploadBegin(const QString& name, qint64 size)
{
    uploadDiscard();
    m_uploadSize = size;
    m_storeFailure.reset();
    qCInfo(lcComm).noquote() << describe() + QStringLiteral(": receiving %1 (%2 bytes)").arg(name).arg(size);
    platform::Result<std::unique_ptr<platform::NewFile>> created =
        m_hub.files().create(m_hub.limits().programFolder, kUploadTemplate);
    if (!created.isOk()) {
        m_storeFailure = created.status();
        return created.status();
    }
    m_upload = std::move(*created);
    return Status::ok();
}

Status SessionChannel::uploadWrite(QByteArrayView bytes)
{
    if (!m_upload) {
        return Status::error(QStringLiteral("no upload file"));
    }
    Status written = m_upload->write(bytes);
    if (!written.isOk()) {
        m_storeFailure = written;
    }
    return written;
}

Status SessionChannel::uploadCommit(const QString& name)
{
    if (!m_upload) {
        return Status::error(QStringLiteral("no upload file"));
    }
    Status committed = m_upload->commit(QDir(m_hub.limits().programFolder).filePath(name));
    m_upload.reset();
    if (!committed.isOk()) {
        m_storeFailure = committed;
    }
    return committed;
}

void SessionChannel::uploadDiscard()
{
    m_upload.reset();
}

TransferOutcome SessionChannel::fileSaved(const QString& name)
{
    m_current.clear();
    TransferOutcome outcome = m_hub.fileSaved(terminalNo(), m_transport, name);
    m_failureLogged = !outcome.status.isOk(); // by the filing: the ERR that follows is not logged again
    if (TransferObserver* observer = m_hub.observer()) {
        observer->uploadFinished(terminalNo(), name, m_uploadSize, outcome.status);
    }
    return outcome;
}

std::optional<Status> SessionChannel::sendStaged(const QString& name, bool deflate)
{
    std::shared_ptr<const platform::PinnedFile> file = m_hub.stagedFile(terminalNo(), name);
    if (!file) {
        return Status::error(QStringLiteral("%1: not open").arg(name));
    }
    m_current = name;
    qCInfo(lcComm).noquote() << describe() + QStringLiteral(": sending %1 (%2 bytes%3)")
                                                 .arg(name)
                                                 .arg(file->size())
                                                 .arg(deflate ? QStringLiteral(", compressed") : QString());
    auto* sender = new StagedSender(m_device, file, name, deflate, m_hub.limits().programFolder, m_hub.workers(), this);
    m_sender = sender;
    connect(sender, &StagedSender::finished, this, [this, sender](const Status& status) {
        if (m_sender == sender) {
            platform::guarded(lcComm, "sending a master", [this, &status] { onStagedSent(status); });
        }
    });
    sender->start();
    rearm(false);
    return std::nullopt;
}

void SessionChannel::getSent(qsizetype files)
{
    if (TransferObserver* observer = m_hub.observer()) {
        observer->getFinished(terminalNo(), static_cast<int>(files), m_getBytes, m_getWire);
    }
    m_getBytes = 0;
    m_getWire = 0;
}

void SessionChannel::onStagedSent(const Status& status)
{
    m_getBytes += m_sender->fileSize();
    m_getWire += m_sender->wireBytes();
    const bool cut = !status.isOk() && m_sender->frameStarted();
    m_sender->deleteLater();
    m_sender = nullptr;
    const QString name = std::exchange(m_current, QString());
    if (cut) {
        // The terminal counts the announced bytes: an ERR line now would be taken for the file's. Closing the
        // connection is what tells it the file is incomplete.
        const QString reason = QStringLiteral("cannot read %1").arg(name);
        if (TransferObserver* observer = m_hub.observer()) {
            observer->sessionFailed(terminalNo(), Status::error(reason));
        }
        end(reason);
        return;
    }
    m_session.stagedSent(status);
    afterSessionCall();
}

} // namespace kavelo::wire
