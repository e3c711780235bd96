// The session state machine fed with arbitrary bytes in arbitrary pieces, with a dropped connection or an idle
// timeout at the end. A host in memory checks what the session asks of the world: nothing is saved under a name
// unless all its announced bytes came and their CRC matched, no bad or protected name is ever written, nothing is
// sent after the close, and every line sent is a well-formed reply.
#include "FuzzSupport.h"

#include "wire/Deflate.h"
#include "wire/ProtocolHeader.h"
#include "wire/Session.h"

#include <QHash>

#include <cstdint>
#include <zlib.h>

using namespace kavelo;

namespace {

const QStringList kProtected = {QStringLiteral("KAVELO.ini"), QStringLiteral("kavelo.log"), QStringLiteral("kavelo")};
const QStringList kStaged = {QStringLiteral("SHOMAS.csv"), QStringLiteral("JISYA.csv")};

class CheckingHost : public wire::SessionHost
{
  public:
    explicit CheckingHost(quint8 failures)
        : m_failures(failures)
    {
    }

    void send(const QByteArray& bytes) override
    {
        FUZZ_CHECK(!m_closed, QStringLiteral("send after close"));
        m_sent.append(bytes);
    }
    void close() override
    {
        FUZZ_CHECK(!m_closed, QStringLiteral("closed twice"));
        FUZZ_CHECK(!m_uploading, QStringLiteral("closed with an upload still open"));
        m_closed = true;
    }
    void transferStatus(qint16 kind, const QString& name) override
    {
        FUZZ_CHECK(kind >= 0 && kind <= 5 && kind != 3, QString::number(kind));
        FUZZ_CHECK(!name.isEmpty(), QString());
    }
    platform::Status uploadBegin(const QString& name, qint64 size) override
    {
        FUZZ_CHECK(!m_closed && !m_uploading, name);
        FUZZ_CHECK(wire::isValidFileName(name.toLatin1()), name);
        for (const QString& p : kProtected) {
            FUZZ_CHECK(name.compare(p, Qt::CaseInsensitive) != 0, name);
        }
        FUZZ_CHECK(size >= 0 && size <= kMaxFile, QString::number(size));
        m_uploading = true;
        m_name = name;
        m_size = size;
        m_temp.clear();
        return (m_failures & 1) ? platform::Status::error(QStringLiteral("disk full")) : platform::Status::ok();
    }
    platform::Status uploadWrite(QByteArrayView bytes) override
    {
        FUZZ_CHECK(m_uploading, QStringLiteral("write without an upload"));
        m_temp.append(bytes);
        FUZZ_CHECK(m_temp.size() <= m_size, QStringLiteral("more bytes than announced"));
        return (m_failures & 2) && m_temp.size() > 1 ? platform::Status::error(QStringLiteral("write failed"))
                                                     : platform::Status::ok();
    }
    platform::Status uploadCommit(const QString& name) override
    {
        FUZZ_CHECK(m_uploading && name == m_name, name);
        FUZZ_CHECK(m_temp.size() == m_size, QStringLiteral("committed a short upload"));
        if (m_failures & 4) {
            return platform::Status::error(QStringLiteral("rename failed")); // the temporary file is still there
        }
        m_uploading = false;
        m_files.insert(name, m_temp);
        m_lastCommitted = m_temp;
        return platform::Status::ok();
    }
    void uploadDiscard() override
    {
        FUZZ_CHECK(m_uploading, QStringLiteral("discard without an upload"));
        m_uploading = false;
        m_temp.clear();
    }
    wire::TransferOutcome fileSaved(const QString& name) override
    {
        FUZZ_CHECK(m_files.contains(name), name);
        wire::TransferOutcome outcome;
        outcome.status =
            (m_failures & 8) ? platform::Status::error(QStringLiteral("handling failed")) : platform::Status::ok();
        if (name == QStringLiteral("CTRL.csv")) {
            outcome.staged = kStaged;
        }
        return outcome;
    }
    bool helloReceived(int terminalNo) override
    {
        FUZZ_CHECK(terminalNo >= 1 && terminalNo <= 9999, QString::number(terminalNo));
        return true;
    }
    std::optional<platform::Status> sendStaged(const QString& name, bool deflate) override
    {
        FUZZ_CHECK(!m_closed, QStringLiteral("sending after close"));
        FUZZ_CHECK(kStaged.contains(name), name);
        if (m_failures & 16) {
            return platform::Status::error(QStringLiteral("cannot read"));
        }
        const QByteArray content = QByteArray("staged ") + name.toLatin1() + "\r\n";
        const quint32 crc = wire::crc32Update(0, content);
        if (deflate) {
            const QByteArray z = wire::deflateAll(content);
            m_sent.append(wire::zfileLine(name, content.size(), crc, z.size()) + z);
        } else {
            m_sent.append(wire::fileLine(name, content.size(), crc) + content);
        }
        return platform::Status::ok();
    }

    bool closed() const { return m_closed; }
    bool uploading() const { return m_uploading; }
    const QByteArray& sent() const { return m_sent; }
    const QByteArray& lastCommitted() const { return m_lastCommitted; }

    static constexpr qint64 kMaxFile = 4096;

  private:
    quint8 m_failures;
    bool m_closed = false;
    bool m_uploading = false;
    QString m_name;
    qint64 m_size = 0;
    QByteArray m_temp;
    QByteArray m_lastCommitted;
    QHash<QString, QByteArray> m_files;
    QByteArray m_sent;
};

// Every byte the server sent is a reply line or the announced bytes of a FILE or ZFILE, in order.
void checkReplies(const QByteArray& sent)
{
    qsizetype pos = 0;
    while (pos < sent.size()) {
        const qsizetype lf = sent.indexOf('\n', pos);
        FUZZ_CHECK(lf >= 0, QStringLiteral("reply without LF"));
        const QByteArrayView line(sent.constData() + pos, lf + 1 - pos);
        FUZZ_CHECK(line.size() <= wire::kMaxHeaderBytes, QStringLiteral("reply too long"));
        auto reply = wire::parseReply(line, CheckingHost::kMaxFile);
        FUZZ_CHECK(reply.isOk(), QString::fromLatin1(line) + QStringLiteral(": ") + reply.status().message());
        pos = lf + 1;
        if (reply->command == wire::Command::File) {
            FUZZ_CHECK(pos + reply->size <= sent.size(), QStringLiteral("FILE cut short"));
            const quint32 crc = static_cast<quint32>(
                ::crc32(0, reinterpret_cast<const Bytef*>(sent.constData() + pos), static_cast<uInt>(reply->size)));
            FUZZ_CHECK(crc == reply->crc, QStringLiteral("FILE crc"));
            pos += reply->size;
        } else if (reply->command == wire::Command::ZFile) {
            FUZZ_CHECK(pos + reply->zsize <= sent.size(), QStringLiteral("ZFILE cut short"));
            wire::Inflater inflater;
            QByteArray content;
            FUZZ_CHECK(inflater.add(QByteArrayView(sent).sliced(pos, reply->zsize), content).isOk(),
                       QStringLiteral("ZFILE stream"));
            FUZZ_CHECK(inflater.finished() && content.size() == reply->size, QStringLiteral("ZFILE size"));
            FUZZ_CHECK(wire::crc32Update(0, content) == reply->crc, QStringLiteral("ZFILE crc"));
            pos += reply->zsize;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) {
        return 0;
    }
    const quint8 chunking = data[0];
    const quint8 failures = data[1];
    const quint8 ending = data[2];
    const QByteArrayView stream(data + 3, static_cast<qsizetype>(size - 3));

    CheckingHost host(failures & 0x1F);
    wire::SessionConfig config;
    config.maxFileSize = CheckingHost::kMaxFile;
    config.protectedNames = kProtected;
    wire::Session session(config, host);

    // Pieces of 1 to 64 bytes, from a small generator seeded by the first byte.
    quint32 state = chunking * 2654435761u + 1;
    qsizetype pos = 0;
    while (pos < stream.size()) {
        state = state * 1103515245u + 12345u;
        const qsizetype piece = qMin<qsizetype>(1 + static_cast<qsizetype>((state >> 16) % 64), stream.size() - pos);
        const bool wasClosed = session.closed();
        const qsizetype consumed = session.feed(stream.sliced(pos, piece));
        FUZZ_CHECK(consumed >= 0 && consumed <= piece, QString::number(consumed));
        if (wasClosed) {
            FUZZ_CHECK(consumed == 0, QStringLiteral("a closed session read bytes"));
        }
        if (session.closed()) {
            break;
        }
        FUZZ_CHECK(consumed == piece, QStringLiteral("an open session left bytes unread"));
        pos += piece;
    }
    FUZZ_CHECK(session.closed() == host.closed() || !host.closed(), QString());
    FUZZ_CHECK((session.state() == wire::Session::State::Receiving) == host.uploading() || session.closed(),
               QStringLiteral("upload state out of step"));
    if (session.state() != wire::Session::State::AwaitHello && session.state() != wire::Session::State::Closed) {
        FUZZ_CHECK(session.terminalNo() >= 1 && session.terminalNo() <= wire::kMaxTerminalNo, QString());
    }

    if (ending & 1) {
        session.connectionLost();
    } else if (ending & 2) {
        session.idleTimeout();
    }
    if (ending & 3) {
        FUZZ_CHECK(session.closed(), QStringLiteral("still open after the connection ended"));
        FUZZ_CHECK(!host.uploading(), QStringLiteral("a partial upload was kept"));
        FUZZ_CHECK(session.feed("HELLO 1\n") == 0, QStringLiteral("read after the end"));
    }
    checkReplies(host.sent());
    return 0;
}
