#ifndef KAVELO_WIRE_SESSION_H
#define KAVELO_WIRE_SESSION_H

#include "platform/Status.h"
#include "wire/ProtocolHeader.h"
#include "wire/ServerDefaults.h"
#include "wire/TransferOutcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kavelo::wire {

// What a session does to the world. The server implements it over a connection and the program folder; tests and
// fuzzers implement it in memory. Calls are synchronous, except the two that may finish later: admission after
// HELLO and the sending of a staged file.
class SessionHost
{
  public:
    virtual ~SessionHost() = default;

    // Bytes to the terminal, in order.
    virtual void send(const QByteArray& bytes) = 0;
    // Close the connection once what was sent has gone out. The session is closed afterwards.
    virtual void close() = 0;
    // Raise TransferStatus with this kind and name (kind 3 goes through fileSaved instead).
    virtual void transferStatus(qint16 kind, const QString& name) = 0;

    // A valid HELLO came, with the terminal's key or none (empty). The reason to refuse it (a wrong or missing
    // key), or nothing; a refused HELLO is answered ERR and the connection closed. Hosts that check no keys keep
    // this default.
    virtual std::optional<QString> helloRefused(int terminalNo, const QByteArray& key)
    {
        Q_UNUSED(terminalNo);
        Q_UNUSED(key);
        return std::nullopt;
    }
    // A HELLO that was not refused. True when the session may go on at once; false when it must wait for a free
    // place, in which case the host calls Session::admit() when one is free (or ends the session).
    virtual bool helloReceived(int terminalNo) = 0;

    // Whether an upload of `size` bytes may be stored now. A refusal (the PC's disk is nearly full) is told to the
    // terminal at once, before it sends the bytes; hosts that check nothing keep this default.
    virtual platform::Status uploadRoom(const QString& name, qint64 size)
    {
        Q_UNUSED(name);
        Q_UNUSED(size);
        return platform::Status::ok();
    }
    // The upload in progress: a temporary file, never the file's own name until commit.
    virtual platform::Status uploadBegin(const QString& name, qint64 size) = 0;
    virtual platform::Status uploadWrite(QByteArrayView bytes) = 0;
    // Renames the complete, verified upload to its name, replacing a file of that name.
    virtual platform::Status uploadCommit(const QString& name) = 0;
    // Removes the temporary file; nothing under the name is touched.
    virtual void uploadDiscard() = 0;
    // The upload just raised as saving failed (kind 4) was not saved, for this reason: the terminal's ERR says it.
    virtual void uploadFailed(const QString& name, const platform::Status& why)
    {
        Q_UNUSED(name);
        Q_UNUSED(why);
    }

    // Raise TransferStatus 3, have the file handled and return what that came to.
    virtual TransferOutcome fileSaved(const QString& name) = 0;

    // Sends one staged file as a FILE frame (with `deflate`, a ZFILE frame). Returns the outcome when the frame
    // went out at once; nothing when it goes out later, and the host then calls Session::stagedSent(). A failure
    // reported either way comes before the frame's first byte; one after it is the host's to end the session with.
    virtual std::optional<platform::Status> sendStaged(const QString& name, bool deflate) = 0;
    // A GET has sent its END after `files` frames.
    virtual void getSent(qsizetype files) { Q_UNUSED(files); }
};

struct SessionConfig
{
    qint64 maxFileSize = kDefaultMaxFileSize;
    QStringList protectedNames; // refused as upload names, compared ignoring case
};

// One terminal's session, as a state machine fed with the bytes that arrive and with the events of the connection.
// It buffers at most one header line (kMaxHeaderBytes); upload bytes go straight to the host.
class Session
{
  public:
    enum class State
    {
        AwaitHello,
        AwaitPlace, // HELLO came; waiting for a free place before it is answered
        Ready,
        Receiving,
        Sending, // a GET is going out
        Closed,
    };

    Session(SessionConfig config, SessionHost& host);

    // Bytes from the terminal. Returns how many were consumed: all of them, unless the session closed or paused
    // (waiting for its place, or sending); the caller feeds the rest once it accepts bytes again.
    qsizetype feed(QByteArrayView bytes);
    // Whether feed() takes bytes now.
    bool acceptsBytes() const;
    // A free place was given to a session waiting after its HELLO: the HELLO is answered now.
    void admit();
    // The staged file whose sending the host took on has gone out (or failed).
    void stagedSent(const platform::Status& status);
    // The connection broke: a partial upload is discarded and reported as failed.
    void connectionLost();
    // No byte came for the idle time: the same, and the connection is closed with "ERR idle timeout".
    void idleTimeout();
    // Ends the session for a reason of the server's (listening stops, the terminal connected again): a partial
    // upload is discarded, the terminal gets "ERR <reason>" unless a frame is half sent, and the connection closes.
    void end(const QString& reason);

    State state() const { return m_state; }
    bool closed() const { return m_state == State::Closed; }
    // 0 before HELLO.
    int terminalNo() const { return m_terminalNo; }
    // The masters GET sends now.
    const QStringList& stagedSet() const { return m_staged; }

  private:
    void handleLine(QByteArrayView line);
    void handleHello(const platform::Result<Header>& parsed);
    void handlePut(const Header& header);
    void handleGet(bool deflate);
    void sendStagedFiles();
    bool finishStaged(const platform::Status& status);
    void finishUpload();
    void failUpload(const platform::Status& why, bool reply);
    void refuse(const QString& reason); // ERR and close
    void consumeUpload(QByteArrayView bytes);
    bool isProtected(const QString& name) const;

    SessionConfig m_config;
    SessionHost& m_host;
    State m_state = State::AwaitHello;
    int m_terminalNo = 0;
    QByteArray m_line;
    QStringList m_staged;

    // The upload in progress.
    QString m_uploadName;
    qint64 m_uploadSize = 0;
    qint64 m_uploadReceived = 0;
    quint32 m_uploadExpectedCrc = 0;
    quint32 m_uploadCrc = 0;
    std::optional<platform::Status> m_uploadError; // the first write failure; the rest of the bytes are skipped

    // The GET in progress.
    QStringList m_sending;
    qsizetype m_sendIndex = 0;
    bool m_sendDeflate = false;
};

} // namespace kavelo::wire

#endif
