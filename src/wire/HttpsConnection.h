#ifndef KAVELO_WIRE_HTTPSCONNECTION_H
#define KAVELO_WIRE_HTTPSCONNECTION_H

#include "platform/Crypto.h"
#include "platform/FileOps.h"
#include "wire/ApiRequest.h"
#include "wire/ChannelHub.h"
#include "wire/HttpRequestReader.h"
#include "wire/MasterAnswer.h"
#include "wire/ScratchCompression.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class QSslSocket;

namespace kavelo::wire {

class FileStreamer;

// One terminal's HTTPS connection, after its TLS handshake: reads its requests one after another (HTTP/1.1, kept
// alive), checks each one's key, path and limits before a byte of its body is stored, takes the terminal's place
// for it, streams an upload into a temporary file and a master out of its staged copy, and answers. What goes
// wrong costs this connection only: a header that does not come whole within the idle time, a body that stops, a
// reader that stops taking bytes.
class HttpsConnection : public QObject
{
    Q_OBJECT

  public:
    HttpsConnection(ChannelHub& hub, QSslSocket& socket, QString peer, QObject* parent = nullptr);
    ~HttpsConnection() override;

    HttpsConnection(const HttpsConnection&) = delete;
    HttpsConnection& operator=(const HttpsConnection&) = delete;

    // The terminal of the request in flight, once its key was accepted; 0 otherwise.
    int terminalNo() const { return m_granted && m_target ? m_target->terminalNo : 0; }
    const QString& peer() const { return m_peer; }
    QString describe() const;
    // What it is doing, in a few words ("receiving S_HACH.dat").
    QString activity() const;
    // A request of it carried a right key: it no longer counts among the connections not yet authenticated.
    bool authenticated() const { return m_keyTerminal > 0; }
    // The terminal whose key its last accepted request carried; 0: none yet.
    int keyTerminal() const { return m_keyTerminal; }

    // Reads what came with the handshake's end; then the connection reads as bytes arrive.
    void start();
    // The terminal's place is given to the request that waited for it.
    void admit();
    // Ends the request in flight for a reason of the server's (listening stopped, the terminal's key changed, it
    // connected again over protocol v1): 503 unless an answer is half sent, upload discarded, then the close.
    void end(const QString& reason);
    // The connection broke: an upload in progress is discarded.
    void streamLost();

  Q_SIGNALS:
    // Close the connection once what was written has gone out.
    void closeRequested();

  private:
    enum class Phase
    {
        Header,     // waiting for a request's header
        AwaitPlace, // authenticated, waiting for the terminal's place
        Body,       // receiving an upload
        Busy,       // the server is at work (digests, compression): nothing is read
        Answering,  // the answer is going out
        Lingering,  // an answer that closes went out; what the client still sends is read and dropped
        Closed,
    };

    void pump();
    void process();
    void onHeader();
    bool checkUpload();
    void onAdmitted();
    void beginUpload();
    void takeBody(const QByteArray& bytes);
    void finishUpload();
    void answerUpload(const TransferOutcome& outcome, qint64 size);
    void sendList(const std::shared_ptr<const TerminalStage>& stage);
    void sendMaster(const std::shared_ptr<const TerminalStage>& stage);
    void sendCompressed(const Compressed& compressed);
    void streamFile(
        int status, HttpFields fields, std::shared_ptr<const platform::PinnedFile> file, qint64 offset, qint64 length);
    // An answer with its body in hand.
    void answer(int status, const HttpFields& fields, const QByteArray& body, bool close = false);
    // An error answer: {"error": reason}; the connection closes when a body it did not read may follow.
    // An error answer. `told`: the failure it tells, as data (its text is `reason`), for whoever keeps account.
    void refuse(int status, const QString& reason, const HttpFields& fields = {}, const platform::Status& told = {});
    // Answers with `told`, the failure of an upload, as its text: 507 when the disk is full, else `status`.
    void refuseUpload(const platform::Status& told, int status = 500);
    // The upload is given up: kind 4 (saving failed) and `told`, the failure as the client is told it, for the
    // operator and the observer; the log says `cause` (with the path) when there is one, else `told`.
    void uploadFailed(const platform::Status& told, const platform::Status& cause = {});
    void requestDone();
    void leavePlace();
    void closeConnection(bool linger);
    void onTimeout();
    void arm(int ms);
    void note(int status, const QString& detail);

    ChannelHub& m_hub;
    QSslSocket& m_socket;
    QString m_peer;
    QHostAddress m_address;
    QDateTime m_since;
    HttpRequestReader m_reader;
    Phase m_phase = Phase::Header;
    QTimer m_timer;

    // The request in flight.
    std::optional<ApiTarget> m_target;
    QByteArray m_method;
    QByteArray m_path;
    bool m_granted = false;       // its key was accepted
    int m_keyTerminal = 0;        // the terminal of the last request whose key was accepted
    bool m_inPlace = false;       // it joined the terminal's place (or waits for it)
    bool m_close = false;         // the connection closes after the answer
    bool m_failureLogged = false; // its failure is in the log already (the filing logs its own)
    QString m_current;            // the file being received or sent

    // The upload in progress.
    std::unique_ptr<platform::NewFile> m_upload;
    qint64 m_expected = 0;
    qint64 m_received = 0;
    std::optional<QByteArray> m_wantedDigest;
    std::unique_ptr<platform::Sha256> m_digest;

    // The answer going out.
    QPointer<FileStreamer> m_streamer;
    MasterAnswer m_answer;
    std::shared_ptr<const platform::PinnedFile> m_masterFile;
    Compressed m_compressed; // kept while its bytes go out
    QFutureWatcher<Compressed> m_compression;
    qint64 m_masterSize = 0;
    qint64 m_wire = 0;
};

} // namespace kavelo::wire

#endif
