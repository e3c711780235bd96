#include "wire/HttpsConnection.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/FileStreamer.h"
#include "wire/MasterAnswer.h"
#include "wire/ProtocolHeader.h"
#include "wire/TransferKind.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTemporaryFile>

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qint64 kReadChunk = 256 * 1024;
// Bytes read ahead of the parser at most: a header, or the next piece of a body.
constexpr qsizetype kMaxPending = 256 * 1024;
constexpr qsizetype kBodyChunk = 256 * 1024;
// After an answer that closes, what the client still sends is read for this long, so that the close does not
// reset the connection before the client has read the answer.
constexpr int kLingerMs = 1000;
const QByteArray kJson = QByteArrayLiteral("application/json");
const QString kControlFile = QStringLiteral("CTRL.csv");

QJsonArray mastersJson(const TerminalStage* stage)
{
    QJsonArray masters;
    if (!stage) {
        return masters;
    }
    for (const StagedMaster& master : stage->masters) {
        masters.append(QJsonObject{{QStringLiteral("name"), master.name},
                                   {QStringLiteral("size"), master.size},
                                   {QStringLiteral("sha256"), platform::hexText(master.sha256)}});
    }
    return masters;
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int statusOfFailure(const Status& status)
{
    return status.kind() == Status::Kind::NoSpace ? 507 : 500;
}

} // namespace

HttpsConnection::HttpsConnection(ChannelHub& hub, QSslSocket& socket, QString peer, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_socket(socket)
    , m_peer(std::move(peer))
    , m_address(socket.peerAddress())
    , m_since(QDateTime::currentDateTime())
    , m_reader(hub.limits().maxHeaderBytes)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "timing out an HTTPS connection", [this] { onTimeout(); });
    });
    connect(&m_socket, &QIODevice::readyRead, this, [this] {
        if (!platform::guarded(lcComm, "reading an HTTPS request", [this] { pump(); })) {
            streamLost();
            closeConnection(false);
        }
    });
    const auto drained = [this] {
        if (m_phase == Phase::Answering) {
            arm(m_hub.limits().idleTimeoutMs); // the reader takes bytes: its time starts again
        }
    };
    connect(&m_socket, &QSslSocket::encryptedBytesWritten, this, drained);
    connect(&m_compression, &QFutureWatcher<Compressed>::finished, this, [this] {
        platform::guarded(lcComm, "sending a compressed master", [this] { sendCompressed(m_compression.result()); });
    });
    arm(m_hub.limits().idleTimeoutMs);
}

HttpsConnection::~HttpsConnection()
{
    m_timer.stop();
    m_compression.disconnect(this);
    m_upload.reset();
    leavePlace();
}

QString HttpsConnection::describe() const
{
    return terminalNo() > 0 ? QStringLiteral("terminal %1 (%2)").arg(terminalNo()).arg(m_peer) : m_peer;
}

QString HttpsConnection::activity() const
{
    switch (m_phase) {
    case Phase::AwaitPlace:
        return QStringLiteral("waiting for a free session");
    case Phase::Body:
        return QStringLiteral("receiving %1").arg(m_current);
    case Phase::Busy:
    case Phase::Answering:
        return m_current.isEmpty() ? QStringLiteral("answering") : QStringLiteral("sending %1").arg(m_current);
    default:
        return QStringLiteral("idle");
    }
}

void HttpsConnection::start()
{
    pump();
}

void HttpsConnection::arm(int ms)
{
    m_timer.start(ms);
}

void HttpsConnection::pump()
{
    if (m_phase == Phase::Lingering) {
        m_socket.readAll();
        return;
    }
    const auto reading = [this] { return m_phase == Phase::Header || m_phase == Phase::Body; };
    while (reading()) {
        bool appended = false;
        while (m_reader.pending() < kMaxPending && m_socket.bytesAvailable() > 0) {
            m_reader.append(m_socket.read(qMin<qint64>(kReadChunk, kMaxPending - m_reader.pending())));
            appended = true;
        }
        const qsizetype before = m_reader.pending();
        process();
        // Round again while bytes move; else the next readyRead brings more.
        if (!appended && m_reader.pending() >= before) {
            return;
        }
    }
}

void HttpsConnection::process()
{
    while (m_phase == Phase::Header || m_phase == Phase::Body) {
        const Phase phase = m_phase;
        const QByteArray body = m_reader.parse(phase == Phase::Body ? kBodyChunk : 0);
        if (m_reader.state() == HttpRequestReader::State::Failed) {
            if (phase == Phase::Body) {
                uploadFailed(Status::error(QStringLiteral("a malformed body: %1").arg(m_reader.error())));
            }
            refuse(m_reader.headerTooLarge() ? 431 : 400,
                   QStringLiteral("a malformed request: %1").arg(m_reader.error()));
            return;
        }
        if (phase == Phase::Header) {
            if (m_reader.state() == HttpRequestReader::State::Header) {
                return; // the rest of the header is still on its way
            }
            onHeader();
            continue;
        }
        if (!body.isEmpty()) {
            takeBody(body);
            if (m_phase != Phase::Body) {
                return;
            }
        }
        if (m_reader.state() == HttpRequestReader::State::Done) {
            finishUpload();
            return;
        }
        if (body.isEmpty()) {
            return; // the rest of the body is still on its way
        }
    }
}

void HttpsConnection::onHeader()
{
    m_method = m_reader.method();
    m_path = m_reader.target().left(200);
    m_granted = false;
    m_failureLogged = false;
    m_close = !m_reader.keepAlive();
    auto [target, refusal] = routeRequest(m_method, m_reader.target());
    if (!target) {
        refuse(refusal.status,
               refusal.reason,
               refusal.allow.isEmpty() ? HttpFields{} : HttpFields{{"Allow", refusal.allow}});
        return;
    }
    m_target = target;
    const Authorization authorization =
        m_hub.authorize(m_address, target->terminalNo, bearerToken(m_reader.field("authorization")));
    switch (authorization.access) {
    case Access::HeldOff:
        refuse(429,
               QStringLiteral("too many wrong keys from this address; try again later"),
               {{"Retry-After", QByteArray::number(authorization.retryAfterSeconds)}});
        return;
    case Access::NoKey:
        refuse(401,
               QStringLiteral("a key is needed (Authorization: Bearer <key>)"),
               {{"WWW-Authenticate", "Bearer realm=\"kavelo\""}});
        return;
    case Access::WrongKey:
        refuse(401,
               QStringLiteral("wrong key"),
               {{"WWW-Authenticate", "Bearer realm=\"kavelo\", error=\"invalid_token\""}});
        return;
    case Access::OtherTerminal:
        refuse(403, QStringLiteral("that key is not terminal %1's").arg(target->terminalNo));
        return;
    case Access::Granted:
        break;
    }
    m_granted = true;
    m_keyTerminal = target->terminalNo;
    if (target->call == ApiCall::PutFile) {
        if (!checkUpload()) {
            return;
        }
    } else if (m_reader.chunked() || m_reader.contentLength().value_or(0) > 0) {
        refuse(400, QStringLiteral("a %1 has no body").arg(QString::fromLatin1(m_method)));
        return;
    }
    m_phase = Phase::AwaitPlace;
    m_timer.stop(); // the server is busy, not the terminal
    m_inPlace = true;
    if (m_hub.joinPlace(*this)) {
        onAdmitted();
    } else {
        qCInfo(lcComm).noquote() << describe() + QStringLiteral(": waits for a free session");
    }
}

bool HttpsConnection::checkUpload()
{
    const QString& name = m_target->name;
    for (const QString& protectedName : m_hub.limits().session.protectedNames) {
        if (name.compare(protectedName, Qt::CaseInsensitive) == 0) {
            refuse(400, QStringLiteral("protected file name"));
            return false;
        }
    }
    const std::optional<quint64> length = m_reader.contentLength();
    if (m_reader.chunked() || !length) {
        refuse(411, QStringLiteral("a length is required (Content-Length; no chunked body)"));
        return false;
    }
    const qint64 limit = m_hub.limits().session.maxFileSize;
    if (*length > static_cast<quint64>(limit)) {
        refuse(413, QStringLiteral("file too large (limit %1 bytes)").arg(limit));
        return false;
    }
    m_wantedDigest.reset();
    if (m_reader.hasField("content-digest")) {
        m_wantedDigest = contentDigestSha256(m_reader.field("content-digest"));
        if (!m_wantedDigest) {
            refuse(400, QStringLiteral("Content-Digest is taken as sha-256=:<base64 of 32 bytes>:"));
            return false;
        }
    }
    m_expected = static_cast<qint64>(*length);
    return true;
}

void HttpsConnection::admit()
{
    if (m_phase == Phase::AwaitPlace) {
        onAdmitted();
    }
}

void HttpsConnection::onAdmitted()
{
    switch (m_target->call) {
    case ApiCall::PutFile:
        beginUpload();
        return;
    case ApiCall::ListMasters:
        m_phase = Phase::Busy;
        m_hub.whenStaged(m_target->terminalNo, this, [this](std::shared_ptr<const TerminalStage> stage) {
            platform::guarded(lcComm, "answering a list of masters", [&] { sendList(stage); });
        });
        return;
    case ApiCall::GetMaster:
        m_phase = Phase::Busy;
        m_current = m_target->name;
        m_hub.whenStaged(m_target->terminalNo, this, [this](std::shared_ptr<const TerminalStage> stage) {
            platform::guarded(lcComm, "sending a master", [&] { sendMaster(stage); });
        });
        return;
    }
}

void HttpsConnection::beginUpload()
{
    m_current = m_target->name;
    m_received = 0;
    m_digest = m_wantedDigest ? std::make_unique<platform::Sha256>() : nullptr;
    // Refused before the body is taken (and before 100-continue): the terminal keeps its file for later.
    const Status room = m_hub.roomForUpload(m_expected);
    if (!room.isOk()) {
        uploadFailed(room);
        refuseUpload(room);
        return;
    }
    m_hub.raiseTransfer(m_target->terminalNo, Transport::Https, kReceiving, m_current);
    platform::Result<std::unique_ptr<platform::NewFile>> created =
        m_hub.files().create(m_hub.limits().programFolder, kUploadTemplate);
    if (!created.isOk()) {
        const Status told = toldFailure(QStringLiteral("cannot store the file"), created.status());
        uploadFailed(told, created.status());
        refuseUpload(told);
        return;
    }
    m_upload = std::move(*created);
    m_reader.limitBody(static_cast<quint64>(m_expected));
    if (m_reader.field("expect").toLower() == "100-continue") {
        m_socket.write(responseHead(100, {}, 0, false)); // the key and the limits are checked: send the body
    }
    m_phase = Phase::Body;
    arm(m_hub.limits().idleTimeoutMs);
    if (m_expected == 0) {
        m_reader.parse(0);
        finishUpload();
        return;
    }
    process();
}

void HttpsConnection::takeBody(const QByteArray& bytes)
{
    m_received += bytes.size();
    arm(m_hub.limits().idleTimeoutMs);
    if (m_digest) {
        m_digest->add(bytes);
    }
    Status written = m_upload->write(bytes);
    if (!written.isOk()) {
        const Status told = toldFailure(QStringLiteral("cannot store the file"), written);
        uploadFailed(told, written);
        refuseUpload(told);
    }
}

void HttpsConnection::finishUpload()
{
    const QString name = m_target->name;
    const int terminal = m_target->terminalNo;
    m_hub.raiseTransfer(terminal, Transport::Https, kSaving, name);
    if (m_digest && !platform::equalInConstantTime(m_digest->finish(), *m_wantedDigest)) {
        uploadFailed(Status::error(QStringLiteral("the body does not match its Content-Digest")));
        refuse(400, QStringLiteral("the body does not match its Content-Digest; nothing was stored"));
        return;
    }
    Status committed = m_upload->commit(QDir(m_hub.limits().programFolder).filePath(name));
    m_upload.reset();
    if (!committed.isOk()) {
        const Status told = toldFailure(QStringLiteral("cannot save the file"), committed);
        uploadFailed(told, committed);
        refuseUpload(told);
        return;
    }
    m_phase = Phase::Busy;
    m_timer.stop();
    const qint64 size = m_received;
    TransferOutcome outcome = m_hub.fileSaved(terminal, Transport::Https, name);
    if (TransferObserver* observer = m_hub.observer()) {
        observer->uploadFinished(terminal, name, size, outcome.status);
    }
    answerUpload(outcome, size);
}

void HttpsConnection::answerUpload(const TransferOutcome& outcome, qint64 size)
{
    const QString name = m_target->name;
    if (!outcome.status.isOk()) {
        m_failureLogged = true; // by the filing, with the system's reason
        refuse(statusOfFailure(outcome.status),
               QStringLiteral("%1 saved but its handling failed: %2").arg(name, reasonForTerminal(outcome.status)));
        return;
    }
    QJsonObject saved{{QStringLiteral("terminal"), m_target->terminalNo},
                      {QStringLiteral("name"), name},
                      {QStringLiteral("size"), size}};
    if (name != kControlFile) {
        answer(200, {{"Content-Type", kJson}}, json(saved));
        return;
    }
    m_hub.whenStaged(m_target->terminalNo, this, [this, saved](std::shared_ptr<const TerminalStage> stage) mutable {
        platform::guarded(lcComm, "answering a control file", [&] {
            if (stage && !stage->status.isOk()) {
                refuse(500, QStringLiteral("cannot read a staged master: ") + reasonForTerminal(stage->status));
                return;
            }
            saved[QStringLiteral("masters")] = mastersJson(stage.get());
            answer(200, {{"Content-Type", kJson}}, json(saved));
        });
    });
}

void HttpsConnection::uploadFailed(const Status& told, const Status& cause)
{
    m_upload.reset();
    if (!m_target) {
        return;
    }
    m_hub.raiseTransfer(m_target->terminalNo, Transport::Https, kSavingFailed, m_target->name);
    if (TransferObserver* observer = m_hub.observer()) {
        observer->uploadFinished(m_target->terminalNo, m_target->name, m_received, told);
    }
    m_hub.uploadFailed(m_target->terminalNo, Transport::Https, m_target->name, told);
    qCWarning(lcComm).noquote() << describe() + QStringLiteral(": %1 not saved: %2")
                                                    .arg(m_target->name, (cause.isOk() ? told : cause).message());
    m_failureLogged = true;
}

void HttpsConnection::refuseUpload(const Status& told, int status)
{
    refuse(told.kind() == Status::Kind::NoSpace ? 507 : status, told.detail(), {}, told);
}

void HttpsConnection::sendList(const std::shared_ptr<const TerminalStage>& stage)
{
    if (stage && !stage->status.isOk()) {
        refuse(500, QStringLiteral("cannot read a staged master: ") + reasonForTerminal(stage->status));
        return;
    }
    const QByteArray body = json(QJsonObject{{QStringLiteral("terminal"), m_target->terminalNo},
                                             {QStringLiteral("masters"), mastersJson(stage.get())}});
    if (m_target->head) {
        m_socket.write(
            responseHead(200, {{"Content-Type", kJson}, {"Cache-Control", "no-store"}}, body.size(), m_close));
        note(200, QString());
        requestDone();
        return;
    }
    answer(200, {{"Content-Type", kJson}}, body);
}

void HttpsConnection::sendMaster(const std::shared_ptr<const TerminalStage>& stage)
{
    const QByteArray range = m_reader.field("range");
    const QByteArray ifRange = m_reader.field("if-range");
    const QByteArray acceptEncoding = m_reader.field("accept-encoding");
    m_answer = answerMaster(stage.get(), MasterRequest{m_target->name, m_target->head, range, ifRange, acceptEncoding});
    if (m_answer.status >= 400) {
        refuse(m_answer.status, m_answer.refusal, m_answer.fields);
        return;
    }
    m_masterSize = m_answer.master->size;
    m_masterFile = m_answer.master->file; // kept while it goes out, whatever the terminal stages meanwhile
    m_answer.master = nullptr;            // it points into the stage, which may go
    m_hub.raiseTransfer(m_target->terminalNo, Transport::Https, kSending, m_target->name);
    if (m_answer.coding != Coding::Identity) {
        // Compressed on a worker thread into a scratch file, then sent from there with its own length.
        m_compression.setFuture(
            compressToScratch(m_hub.workers(),
                              m_masterFile,
                              m_answer.coding == Coding::Gzip ? Deflater::Format::Gzip : Deflater::Format::Zlib,
                              m_hub.limits().programFolder));
        return;
    }
    streamFile(m_answer.status, m_answer.fields, m_masterFile, m_answer.offset, m_answer.length);
}

void HttpsConnection::sendCompressed(const Compressed& compressed)
{
    if (m_phase != Phase::Busy || !m_target) {
        return; // ended meanwhile
    }
    if (!compressed.status.isOk()) {
        qCWarning(lcComm).noquote() << compressed.status.message();
        refuse(statusOfFailure(compressed.status),
               QStringLiteral("cannot compress the file: ") + reasonForTerminal(compressed.status));
        return;
    }
    m_compressed = compressed;
    streamFile(200, m_answer.fields, compressed.file, 0, compressed.file->size());
}

void HttpsConnection::streamFile(
    int status, HttpFields fields, std::shared_ptr<const platform::PinnedFile> file, qint64 offset, qint64 length)
{
    const QByteArray head = responseHead(status, fields, length, m_close);
    m_socket.write(head);
    m_wire = head.size() + length;
    if (m_target->head) {
        note(status, QString());
        requestDone();
        return;
    }
    m_phase = Phase::Answering;
    arm(m_hub.limits().idleTimeoutMs);
    auto* streamer = new FileStreamer(m_socket, std::move(file), offset, length, this);
    m_streamer = streamer;
    connect(streamer, &FileStreamer::finished, this, [this, streamer, status, length](const Status& streamed) {
        platform::guarded(lcComm, "sending a master", [&] {
            streamer->deleteLater();
            m_compressed = Compressed{};
            m_masterFile.reset();
            if (!streamed.isOk()) {
                // The length is announced: closing is what tells the client the body is incomplete.
                qCWarning(lcComm).noquote()
                    << describe() + QStringLiteral(": %1 cut short: %2").arg(m_current, streamed.message());
                closeConnection(false);
                return;
            }
            if (TransferObserver* observer = m_hub.observer()) {
                observer->getFinished(m_target->terminalNo, 1, m_masterSize, m_wire);
            }
            note(status, QStringLiteral("%1 bytes").arg(length));
            requestDone();
        });
    });
    streamer->start();
}

void HttpsConnection::answer(int status, const HttpFields& fields, const QByteArray& body, bool close)
{
    m_close = m_close || close;
    HttpFields all = fields;
    all.append(std::pair<QByteArray, QByteArray>("Cache-Control", "no-store"));
    m_socket.write(responseHead(status, all, body.size(), m_close) + body);
    note(status, QString());
    requestDone();
}

void HttpsConnection::refuse(int status, const QString& reason, const HttpFields& fields, const Status& told)
{
    // A request that could not be read, or whose body (or the rest of it) was not read, leaves the connection
    // unusable: it closes after the answer.
    const HttpRequestReader::State read = m_reader.state();
    const bool bodyUnread =
        read == HttpRequestReader::State::Body && (m_reader.chunked() || m_reader.contentLength().value_or(0) > 0);
    if (read == HttpRequestReader::State::Failed || read == HttpRequestReader::State::Header || bodyUnread) {
        m_close = true;
    }
    if (m_granted && m_target) {
        if (TransferObserver* observer = m_hub.observer()) {
            const Status failure = told.isOk() ? Status::error(reason) : told;
            observer->sessionFailed(m_target->terminalNo, failure.prefixed(QStringLiteral("HTTP %1 ").arg(status)));
        }
    }
    HttpFields all = fields;
    all.append(std::pair<QByteArray, QByteArray>("Content-Type", kJson));
    all.append(std::pair<QByteArray, QByteArray>("Cache-Control", "no-store"));
    const QByteArray body = errorBody(reason);
    m_socket.write(responseHead(status, all, body.size(), m_close) + body);
    note(status, reason);
    requestDone();
}

void HttpsConnection::note(int status, const QString& detail)
{
    // Joined, not arg()-formatted: a path is the client's text and may hold "%1".
    QString what;
    if (m_target && m_granted) {
        what = QString::fromLatin1(m_method) + QLatin1Char(' ') +
               (m_target->name.isEmpty() ? QStringLiteral("masters") : m_target->name);
    } else {
        what = m_method.isEmpty() ? QStringLiteral("a request")
                                  : QString::fromLatin1(m_method) + QLatin1Char(' ') + QString::fromLatin1(m_path);
    }
    const QString line = describe() + QStringLiteral(": ") + what + QStringLiteral(": ") + QString::number(status) +
                         (detail.isEmpty() ? QString() : QLatin1Char(' ') + detail);
    if (status < 400 || std::exchange(m_failureLogged, false)) {
        qCInfo(lcComm).noquote() << line;
    } else {
        qCWarning(lcComm).noquote() << line;
    }
}

void HttpsConnection::requestDone()
{
    leavePlace();
    m_current.clear();
    m_streamer = nullptr;
    if (m_close) {
        closeConnection(true);
        return;
    }
    m_target.reset();
    m_granted = false;
    m_method.clear();
    m_path.clear();
    m_reader.reset();
    m_phase = Phase::Header;
    arm(m_hub.limits().idleTimeoutMs);
    // A next request may be here already.
    QMetaObject::invokeMethod(
        this,
        [this] { platform::guarded(lcComm, "reading an HTTPS request", [this] { pump(); }); },
        Qt::QueuedConnection);
}

void HttpsConnection::leavePlace()
{
    if (m_inPlace) {
        m_inPlace = false;
        m_hub.quitPlace(*this);
    }
}

void HttpsConnection::end(const QString& reason)
{
    switch (m_phase) {
    case Phase::AwaitPlace:
    case Phase::Body:
    case Phase::Busy:
        if (m_phase == Phase::Body) {
            uploadFailed(Status::error(reason));
        }
        m_compression.cancel();
        m_close = true;
        refuse(503, reason);
        return;
    case Phase::Answering:
        qCInfo(lcComm).noquote() << describe() + QStringLiteral(": ended while sending: %1").arg(reason);
        closeConnection(false);
        return;
    case Phase::Header:
        closeConnection(false);
        return;
    case Phase::Lingering:
    case Phase::Closed:
        return;
    }
}

void HttpsConnection::streamLost()
{
    if (m_phase == Phase::Body) {
        uploadFailed(
            Status::error(QStringLiteral("the connection broke after %1 of %2 bytes").arg(m_received).arg(m_expected)));
    } else if (m_phase == Phase::Answering) {
        qCWarning(lcComm).noquote() << describe() +
                                           QStringLiteral(": the connection broke while sending %1").arg(m_current);
    }
    m_timer.stop();
    leavePlace();
    m_phase = Phase::Closed;
}

void HttpsConnection::onTimeout()
{
    switch (m_phase) {
    case Phase::Header:
        if (m_reader.pending() > 0) {
            qCWarning(lcComm).noquote() << describe() +
                                               QStringLiteral(": a request header not complete within %1 ms; closed")
                                                   .arg(m_hub.limits().idleTimeoutMs);
        }
        closeConnection(false);
        return;
    case Phase::Body:
        uploadFailed(Status::error(QStringLiteral("the body stopped after %1 of %2 bytes for %3 ms")
                                       .arg(m_received)
                                       .arg(m_expected)
                                       .arg(m_hub.limits().idleTimeoutMs)));
        leavePlace();
        closeConnection(false);
        return;
    case Phase::Answering:
        qCWarning(lcComm).noquote() << describe() + QStringLiteral(": took no bytes of %1 for %2 ms; closed")
                                                        .arg(m_current)
                                                        .arg(m_hub.limits().idleTimeoutMs);
        leavePlace();
        closeConnection(false);
        return;
    case Phase::Lingering:
        m_phase = Phase::Closed;
        Q_EMIT closeRequested();
        return;
    default:
        return;
    }
}

void HttpsConnection::closeConnection(bool linger)
{
    if (m_phase == Phase::Closed || m_phase == Phase::Lingering) {
        return;
    }
    m_upload.reset();
    leavePlace();
    if (linger) {
        m_phase = Phase::Lingering;
        m_socket.readAll();
        arm(kLingerMs);
        return;
    }
    m_timer.stop();
    m_phase = Phase::Closed;
    // Raised from the event loop: the owner may delete this connection, which may be in the middle of its work.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT closeRequested(); }, Qt::QueuedConnection);
}

} // namespace kavelo::wire
