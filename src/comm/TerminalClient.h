#ifndef KAVELO_COMM_TERMINALCLIENT_H
#define KAVELO_COMM_TERMINALCLIENT_H

#include "comm/ProtocolHeader.h"
#include "platform/Status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QTcpSocket;

namespace kavelo::comm {

// A terminal's side of the protocol, blocking: the simulator kavelo-terminal, the end-to-end tests and the
// benchmark use it. Every error says what went wrong ("ERR crc32 mismatch", "connection closed by the server").
// Use it from one thread; it needs no event loop.
class TerminalClient
{
  public:
    TerminalClient(QString host, quint16 port, int timeoutMs = 30000);
    ~TerminalClient();

    TerminalClient(const TerminalClient&) = delete;
    TerminalClient& operator=(const TerminalClient&) = delete;

    // Connects and says HELLO; fails unless the server answers "OK KAVELO 1".
    platform::Status connectAs(int terminalNo);
    // PUT: the header, the bytes, then waits for the reply. `name` is sent as given.
    platform::Status put(const QString& name, const QByteArray& content);
    // PUT with a CRC of our own choosing (tests of the server's check).
    platform::Status putWithCrc(const QString& name, const QByteArray& content, quint32 crc);
    // GET: stores each file under its name in `folder` (complete and verified files only), returns their names.
    platform::Result<QStringList> get(const QString& folder);
    // BYE and the close.
    platform::Status bye();

    // Low level, for tests: raw bytes out, one line in (without its LF).
    platform::Status sendRaw(const QByteArray& bytes);
    platform::Result<QByteArray> readLine();
    // Cuts the connection without a word.
    void abort();

  private:
    platform::Status flush();
    platform::Result<QByteArray> readExactly(qint64 size);
    platform::Status expectOk(const QString& what);

    QString m_host;
    quint16 m_port;
    int m_timeoutMs;
    std::unique_ptr<QTcpSocket> m_socket;
};

} // namespace kavelo::comm

#endif
