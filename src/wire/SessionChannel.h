#ifndef KAVELO_WIRE_SESSIONCHANNEL_H
#define KAVELO_WIRE_SESSIONCHANNEL_H

#include "platform/FileOps.h"
#include "platform/PinnedFile.h"
#include "wire/Session.h"
#include "wire/TransferObserver.h"

#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QIODevice;
class QThreadPool;

namespace kavelo::wire {

class SessionChannel;
class StagedSender;

// How terminals reach the server.
enum class Transport
{
    Ip,
    UsbLine, // a USB communication unit's virtual COM port
    ComLine, // a COM port
};

// The PortKind value of a transport: 3 IP, 2 USB virtual COM port, 1 COM port.
int portKindOf(Transport transport);
// "ip", "usb" or "com".
QString transportName(Transport transport);

// The limits every session of the server runs under.
struct SessionLimits
{
    SessionConfig session;
    QString programFolder;     // uploads land here, staged masters are read from here
    int idleTimeoutMs = 30000; // the terminal moved nothing for this long while the server waited for it
    int helloTimeoutMs = 10000; // a new connection must have said HELLO by then
};

// What a channel needs from the server that runs it. Every call comes on the event loop's thread.
class ChannelHub
{
  public:
    virtual ~ChannelHub() = default;

    virtual const SessionLimits& limits() const = 0;
    // Prepares masters for sending and compresses them.
    virtual QThreadPool& workers() = 0;
    // Where uploads are stored (a failure can be injected there).
    virtual platform::FileOps& files() = 0;
    // The copy of `name` staged for the terminal by its latest control file; null when there is none or it could not
    // be opened.
    virtual std::shared_ptr<const platform::PinnedFile> stagedFile(int terminalNo, const QString& name) = 0;
    // TransferStatus, with TerminalNo (and PortKind) giving the channel's terminal during the event.
    virtual void raiseTransfer(const SessionChannel& channel, qint16 kind, const QString& name) = 0;
    // Kind 3 and the handling of the saved file.
    virtual TransferOutcome fileSaved(const SessionChannel& channel, const QString& name) = 0;
    // A valid HELLO, with the terminal's key or none: the reason to refuse it, or nothing.
    virtual std::optional<QString> helloRefused(const SessionChannel& channel, int terminalNo, const QByteArray& key) = 0;
    // A HELLO not refused: true when the session has its place now; otherwise the hub calls admit() later.
    virtual bool requestPlace(SessionChannel& channel) = 0;
    // The channel's session is over, or the channel goes away: its place, or its wait for one, is given up.
    virtual void leavePlace(SessionChannel& channel) = 0;
    // Who keeps account of the sessions' work; null: nobody.
    virtual TransferObserver* observer() = 0;
};

// One session over one byte stream (a TCP connection, a serial line): feeds the session what arrives, keeps the
// upload in a temporary file of the program folder, streams the masters staged for its terminal on GET, and times
// the terminal out. Where the session would close the connection it raises
// closeRequested(); the owner of the stream decides what closing means there.
class SessionChannel : public QObject, public SessionHost
{
    Q_OBJECT

  public:
    // `address`: the peer's, over TCP; none on a serial line.
    SessionChannel(ChannelHub& hub,
                   QIODevice& device,
                   QString peer,
                   Transport transport,
                   QHostAddress address = {},
                   QObject* parent = nullptr);
    ~SessionChannel() override;

    SessionChannel(const SessionChannel&) = delete;
    SessionChannel& operator=(const SessionChannel&) = delete;

    // Feeds the session what the device holds, as far as the session takes bytes now.
    void pump();
    // Feeds `bytes`, read from the device by the channel's owner, before anything the device holds.
    void feedFirst(const QByteArray& bytes);
    // What was read from the device but not taken by the session (a line's owner hunts in it for the next HELLO).
    QByteArray takeUnread();
    // Reads nothing more from the device: its owner reads it from now on.
    void detach();
    // The hub gives this session its place: the HELLO is answered.
    void admit();
    // Ends the session for a reason of the server's (ERR <reason>, upload discarded).
    void end(const QString& reason);
    // The stream broke: a partial upload is discarded.
    void streamLost();

    bool ended() const { return m_session.closed(); }
    bool greeted() const { return m_session.terminalNo() > 0; }
    int terminalNo() const { return m_session.terminalNo(); }
    Session::State state() const { return m_session.state(); }
    const QString& peer() const { return m_peer; }
    const QHostAddress& address() const { return m_address; }
    Transport transport() const { return m_transport; }
    QDateTime since() const { return m_since; }
    // What the session is doing, in a few words ("receiving S_HACH.dat").
    QString activity() const;
    // "terminal 3 (192.168.10.21:50344)", or the peer alone before HELLO.
    QString describe() const;

  Q_SIGNALS:
    // The session is over: close the stream once what was written has gone out.
    void closeRequested();

  private:
    // SessionHost.
    void send(const QByteArray& bytes) override;
    void close() override;
    void transferStatus(qint16 kind, const QString& name) override;
    std::optional<QString> helloRefused(int terminalNo, const QByteArray& key) override;
    bool helloReceived(int terminalNo) override;
    platform::Status uploadBegin(const QString& name, qint64 size) override;
    platform::Status uploadWrite(QByteArrayView bytes) override;
    platform::Status uploadCommit(const QString& name) override;
    void uploadDiscard() override;
    TransferOutcome fileSaved(const QString& name) override;
    std::optional<platform::Status> sendStaged(const QString& name, bool deflate) override;
    void getSent(qsizetype files) override;

    void prepareSession();
    void onStagedSent(const platform::Status& status);
    void onTimeout();
    // Sets the timer for what the session now waits for; `progress`: the terminal just moved bytes.
    void rearm(bool progress);
    void afterSessionCall();

    ChannelHub& m_hub;
    QIODevice& m_device;
    QString m_peer;
    Transport m_transport;
    QHostAddress m_address;
    QDateTime m_since;
    Session m_session;
    QTimer m_timer;
    QByteArray m_pending; // read from the device, not yet taken by the session
    qsizetype m_pendingUsed = 0;
    bool m_pumping = false;
    bool m_closeRaised = false;
    bool m_placeLeft = false;
    bool m_failureLogged = false; // the cause of the next ERR is in the log already
    std::unique_ptr<platform::NewFile> m_upload;
    std::optional<platform::Status> m_storeFailure; // why the upload could not be stored, with its path
    QString m_unsaved; // the upload that was just given up, for the line that says why
    QString m_current; // the file being received or sent
    qint64 m_uploadSize = 0;
    qint64 m_getBytes = 0; // of the GET going out
    qint64 m_getWire = 0;
    QPointer<StagedSender> m_sender;
};

} // namespace kavelo::wire

#endif
