#ifndef KAVELO_WIRE_SESSIONCHANNEL_H
#define KAVELO_WIRE_SESSIONCHANNEL_H

#include "wire/ChannelHub.h"
#include "wire/Occupant.h"
#include "wire/Session.h"

#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QIODevice;

namespace kavelo::wire {

class StagedSender;

// One session over one byte stream (a TCP connection, a serial line): feeds the session what arrives, keeps the
// upload in a temporary file of the program folder, streams the masters staged for its terminal on GET, and times
// the terminal out. Where the session would close the connection it raises
// closeRequested(); the owner of the stream decides what closing means there.
class SessionChannel : public QObject, public SessionHost, public Occupant
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
    void admit() override;
    // Ends the session for a reason of the server's (ERR <reason>, upload discarded).
    void end(const QString& reason) override;
    // The stream broke: a partial upload is discarded.
    void streamLost();

    bool ended() const { return m_session.closed(); }
    bool greeted() const { return m_session.terminalNo() > 0; }
    int terminalNo() const override { return m_session.terminalNo(); }
    Session::State state() const { return m_session.state(); }
    QString peer() const override { return m_peer; }
    const QHostAddress& address() const { return m_address; }
    Transport transport() const override { return m_transport; }
    QDateTime since() const override { return m_since; }
    // What the session is doing, in a few words ("receiving S_HACH.dat").
    QString activity() const override;
    // "terminal 3 (192.168.10.21:50344)", or the peer alone before HELLO.
    QString describe() const override;

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
    platform::Status uploadRoom(const QString& name, qint64 size) override;
    platform::Status uploadBegin(const QString& name, qint64 size) override;
    platform::Status uploadWrite(QByteArrayView bytes) override;
    platform::Status uploadCommit(const QString& name) override;
    void uploadDiscard() override;
    void uploadFailed(const QString& name, const platform::Status& why) override;
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
    std::optional<platform::Status> m_told;         // the failure the next ERR tells, as data
    QString m_unsaved;                              // the upload that was just given up, for the line that says why
    QString m_current;                              // the file being received or sent
    qint64 m_uploadSize = 0;
    qint64 m_getBytes = 0; // of the GET going out
    qint64 m_getWire = 0;
    QPointer<StagedSender> m_sender;
};

} // namespace kavelo::wire

#endif
