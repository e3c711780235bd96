#ifndef KAVELO_WIRE_SERIALLINE_H
#define KAVELO_WIRE_SERIALLINE_H

#include "platform/Status.h"
#include "wire/ServerDefaults.h"
#include "wire/SessionChannel.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <memory>

namespace kavelo::wire {

struct SerialLineConfig
{
    QString port; // a device path (/dev/ttyUSB0, a pseudo-terminal's link) or a port name (ttyS0, COM3)
    qint32 baud = kDefaultSerialBaud; // 8 data bits, no parity, 1 stop bit
    bool rtsCts = false;              // hardware flow control
    Transport transport = Transport::ComLine;
    int retryMs = 3000; // a port that cannot be opened, or went away, is tried again after this
};

// One serial line that terminals reach through a USB communication unit's cradle or a COM port. A line is one
// channel: one session at a time, sessions one after another. Between sessions the line is hunted for the next
// line that starts with "HELLO "; everything before it (noise, the rest of a broken session) is ignored. Where a
// TCP connection would be closed, the session ends and the hunt begins again. A port that cannot be opened, or
// that goes away (a USB unit unplugged), is tried again every few seconds; the IP side is never held up by it.
class SerialLine : public QObject
{
    Q_OBJECT

  public:
    SerialLine(ChannelHub& hub, SerialLineConfig config, QObject* parent = nullptr);
    ~SerialLine() override;

    // Opens the port, or keeps trying.
    void start();
    // Ends the session on the line with `reason` and closes the port.
    void stop(const QString& reason);

    bool isOpen() const { return m_port.isOpen(); }
    const SerialLineConfig& config() const { return m_config; }
    // Why the port is not open now (empty while it is).
    const QString& problem() const { return m_problem; }
    // "USB仮想COMポート /dev/ttyUSB0" or "COMポート /dev/ttyS0".
    QString description() const;

    // Whether `port` may be served at all: a path must name a character device (a pseudo-terminal's link is one); a
    // regular file or a folder is refused. A path that does not exist (yet) is not refused: a USB unit may come.
    static platform::Status checkPort(const QString& port);

  Q_SIGNALS:
    // The port opened or closed.
    void stateChanged();

  private:
    void tryOpen();
    // `flushOutput`: drop what waits to be written first (a lost line has nothing to drop it from).
    void closePort(const QString& problem, bool flushOutput);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void hunt(QByteArray bytes);
    void startSession(const QByteArray& first);
    void onSessionClosed();
    void retireChannel();

    ChannelHub& m_hub;
    SerialLineConfig m_config;
    QSerialPort m_port;
    QTimer m_retry;
    std::unique_ptr<SessionChannel> m_channel;
    QByteArray m_line;       // the start of a line, while hunting
    bool m_skipLine = false; // the line is too long to be a HELLO: skip to its end
    bool m_stopped = true;
    bool m_closing = false;
    QString m_problem;
};

} // namespace kavelo::wire

#endif
