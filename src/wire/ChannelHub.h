#ifndef KAVELO_WIRE_CHANNELHUB_H
#define KAVELO_WIRE_CHANNELHUB_H

#include "platform/FileOps.h"
#include "platform/PinnedFile.h"
#include "wire/Occupant.h"
#include "wire/Session.h"
#include "wire/StagedMasters.h"
#include "wire/TransferObserver.h"
#include "wire/TransferOutcome.h"

#include <QHostAddress>

#include <functional>
#include <memory>
#include <optional>

class QObject;
class QThreadPool;

namespace kavelo::wire {

class HttpsConnection;
class SessionChannel;

// An upload is written to a temporary file of the program folder named after this, renamed to its name only once
// complete and verified; one that a crash left behind is removed when listening starts.
inline const QString kUploadTemplate = QStringLiteral(".kavelo-upload-XXXXXX");

// The limits every connection of the server runs under.
struct SessionLimits
{
    SessionConfig session;            // the largest file, the names an upload never takes
    QString programFolder;            // uploads land here, staged masters are read from here
    int idleTimeoutMs = 30000;        // the terminal moved nothing for this long while the server waited for it
    int helloTimeoutMs = 10000;       // a new protocol v1 connection must have said HELLO by then
    int handshakeTimeoutMs = 10000;   // a new HTTPS connection must have finished its TLS handshake by then
    qsizetype maxHeaderBytes = 16384; // an HTTPS request's header
    qint64 minFreeBytes =
        0; // an upload that would leave less free on the program folder's disk is refused; 0: no check
};

// What an HTTPS request's key came to.
enum class Access
{
    Granted,
    NoKey,         // 401
    WrongKey,      // 401, and counted against the address
    OtherTerminal, // 403: another terminal's key
    HeldOff,       // 429: the address guessed keys
};

struct Authorization
{
    Access access = Access::NoKey;
    qint64 retryAfterSeconds = 0; // HeldOff
};

// What a connection needs from the server that runs it (the transfer core). Every call comes on the event loop's
// thread.
class ChannelHub
{
  public:
    using StageReady = std::function<void(std::shared_ptr<const TerminalStage> stage)>;

    virtual ~ChannelHub() = default;

    virtual const SessionLimits& limits() const = 0;
    // Prepares masters for sending and compresses them.
    virtual QThreadPool& workers() = 0;
    // Where uploads are stored (a failure can be injected there).
    virtual platform::FileOps& files() = 0;
    // Who keeps account of the connections' work; null: nobody.
    virtual TransferObserver* observer() = 0;

    // TransferStatus, with TerminalNo and PortKind giving the terminal and its transport during the event.
    virtual void raiseTransfer(int terminalNo, Transport transport, qint16 kind, const QString& name) = 0;
    // Kind 3 and the handling of the saved file, then the staging of its masters when it was a control file.
    virtual TransferOutcome fileSaved(int terminalNo, Transport transport, const QString& name) = 0;
    // An upload just raised as saving failed (kind 4) was not saved, for this reason (as the terminal is told it).
    virtual void
    uploadFailed(int terminalNo, Transport transport, const QString& name, const platform::Status& why) = 0;
    // Whether an upload of `size` bytes may be stored now: refused (Status::Kind::NoSpace) when it would leave less
    // than MinFreeBytes free on the program folder's disk. Asked before the upload's bytes are taken.
    virtual platform::Status roomForUpload(qint64 size) = 0;

    // Protocol v1.
    // The copy of `name` staged for the terminal by its latest control file; null when there is none or it could not
    // be opened.
    virtual std::shared_ptr<const platform::PinnedFile> stagedFile(int terminalNo, const QString& name) = 0;
    // A valid HELLO, with the terminal's key or none: the reason to refuse it, or nothing.
    virtual std::optional<QString>
    helloRefused(const SessionChannel& channel, int terminalNo, const QByteArray& key) = 0;
    // A HELLO not refused: true when the session has its place now; otherwise the hub calls admit() later.
    virtual bool requestPlace(SessionChannel& channel) = 0;
    // The channel's session is over, or the channel goes away: its place, or its wait for one, is given up.
    virtual void leavePlace(SessionChannel& channel) = 0;

    // HTTPS.
    // Whether a request from `address` with `key` may act for terminal `terminalNo` (a wrong key is counted).
    virtual Authorization authorize(const QHostAddress& address, int terminalNo, const QByteArray& key) = 0;
    // The masters staged by the terminal's latest control file, once their digests are known (null: none since
    // start-up), from the event loop; nothing is called once `context` is gone.
    virtual void whenStaged(int terminalNo, QObject* context, StageReady ready) = 0;
    // A request of the connection's terminal wants the terminal's place: the requests of one terminal share one.
    // True when it has it now; otherwise the hub calls HttpsConnection::admit() later.
    virtual bool joinPlace(HttpsConnection& connection) = 0;
    // Its request is over, or it goes away.
    virtual void quitPlace(HttpsConnection& connection) = 0;
};

} // namespace kavelo::wire

#endif
