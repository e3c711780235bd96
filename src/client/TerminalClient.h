#ifndef KAVELO_CLIENT_TERMINALCLIENT_H
#define KAVELO_CLIENT_TERMINALCLIENT_H

#include "platform/Status.h"
#include "wire/ProtocolHeader.h"
#include "wire/ServerDefaults.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QIODevice;

namespace kavelo::client {

class HttpsLink;

// What a handheld learns from the QR code of `kavelo terminal enroll`:
// kavelo://enroll?v=1&host=H&port=P&terminal=N&key=K&sha256=F
struct Enrollment
{
    QString host;
    quint16 port = 0;
    int terminalNo = 0;
    QByteArray key;
    QString sha256; // the certificate to pin
};
platform::Result<Enrollment> parseEnrollment(const QString& uri);

// A terminal's side of the protocol, blocking: the simulator kavelo-terminal, the end-to-end tests and the
// benchmarks use it. Every error says what went wrong ("ERR crc32 mismatch", "connection closed by the server").
// Use it from one thread; it needs no event loop.
class TerminalClient
{
  public:
    // A serial line: a device path or port name, 8 data bits, no parity, 1 stop bit, no flow control.
    struct SerialLine
    {
        QString device;
        qint32 baud = wire::kDefaultSerialBaud;
    };

    // Over HTTPS, the server's certificate pinned by its SHA-256 fingerprint (64 hex digits).
    struct Https
    {
        QString host;
        quint16 port = wire::kDefaultHttpsPort;
        QString sha256;
    };

    // Over TCP to host:port (protocol v1).
    TerminalClient(QString host, quint16 port, int timeoutMs = 30000);
    // Over HTTPS: put() is a PUT, get() lists the staged masters and fetches each (gzip when `deflate`), bye() closes.
    explicit TerminalClient(Https https, int timeoutMs = 30000);
    // Over a serial line. The line stays open from one session to the next.
    TerminalClient(SerialLine line, int timeoutMs = 30000);
    ~TerminalClient();

    TerminalClient(const TerminalClient&) = delete;
    TerminalClient& operator=(const TerminalClient&) = delete;

    // Connects and says HELLO, with the terminal's key when given; fails unless the server answers "OK KAVELO 1".
    // Over HTTPS: connects, checks the certificate against the pin and keeps the number and the key for each request.
    platform::Status connectAs(int terminalNo, const QByteArray& key = {});
    // PUT: the header, the bytes, then waits for the reply. `name` is sent as given.
    platform::Status put(const QString& name, const QByteArray& content);
    // PUT with a CRC of our own choosing (tests of the server's check).
    platform::Status putWithCrc(const QString& name, const QByteArray& content, quint32 crc);
    // GET (with `deflate`: GET deflate): stores each file under its name in `folder` (complete and verified files
    // only), returns their names.
    platform::Result<QStringList> get(const QString& folder, bool deflate = false);
    // BYE and the close.
    platform::Status bye();

    // Reads and writes at most this many bytes a second from then on (0: as fast as they go), as a terminal on a
    // weak link would; the connection's receive buffer is kept small so that the server feels it.
    void setLinkRate(qint64 bytesPerSecond);
    // Every byte read from the server so far.
    qint64 bytesReceived() const { return m_received; }

    // Low level, for tests: raw bytes out, one line in (without its LF).
    platform::Status sendRaw(const QByteArray& bytes);
    platform::Result<QByteArray> readLine();
    // Whatever arrives until nothing more has come for `quietMs`.
    QByteArray drain(int quietMs);
    // Cuts the connection without a word.
    void abort();

  private:
    platform::Status open();
    platform::Status flush();
    platform::Status httpsPut(const QString& name, const QByteArray& content);
    platform::Result<QStringList> httpsGet(const QString& folder, bool deflate);
    platform::Status
    httpsFetch(const QString& name, qint64 size, const QByteArray& sha256, const QString& folder, bool deflate);
    // Reads `size` bytes, handing them to `sink` in pieces.
    platform::Status readBody(qint64 size, const std::function<platform::Status(QByteArrayView)>& sink);
    platform::Status receiveFile(const wire::Header& frame, const QString& folder);
    platform::Status expectOk(const QString& what);
    void pace(qint64 bytes);

    QString m_host;
    quint16 m_port = 0;
    SerialLine m_line;                  // used when m_line.device is set
    std::unique_ptr<HttpsLink> m_https; // used when set
    int m_terminalNo = 0;               // over HTTPS
    QByteArray m_key;                   // over HTTPS
    int m_timeoutMs;
    std::unique_ptr<QIODevice> m_device;
    qint64 m_linkRate = 0;
    qint64 m_received = 0;
    qint64 m_pacedSince = 0; // bytes read under the current limit
    qint64 m_paceStartMs = 0;
};

} // namespace kavelo::client

#endif
