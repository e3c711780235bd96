#include "wire/SerialLine.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "wire/ProtocolHeader.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qint64 kLineReadBuffer = 1024 * 1024;
constexpr qint64 kHuntChunk = 64 * 1024;
// Output still waiting after a session ended means a frame was cut off (the line held by flow control): the next
// session must not receive it.
constexpr qint64 kStuckOutput = 4096;
const QByteArray kHello = QByteArrayLiteral("HELLO ");

} // namespace

SerialLine::SerialLine(ChannelHub& hub, SerialLineConfig config, QObject* parent)
    : QObject(parent)
    , m_hub(hub)
    , m_config(std::move(config))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "opening a serial line", [this] { tryOpen(); });
    });
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        platform::guarded(lcComm, "reading a serial line", [this] { onReadyRead(); });
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        platform::guarded(lcComm, "a serial line's error", [this, error] { onError(error); });
    });
}

SerialLine::~SerialLine()
{
    m_stopped = true;
    m_channel.reset();
    if (m_port.isOpen()) {
        m_port.clear(QSerialPort::Output); // closing a line with output pending may wait for it
        m_port.close();
    }
}

QString SerialLine::description() const
{
    const QString kind =
        m_config.transport == Transport::UsbLine ? QStringLiteral("USB仮想COMポート") : QStringLiteral("COMポート");
    return QStringLiteral("%1 %2").arg(kind, m_config.port);
}

Status SerialLine::checkPort(const QString& port)
{
    if (port.trimmed().isEmpty()) {
        return Status::error(QStringLiteral("SerialPort is empty"));
    }
#ifdef Q_OS_UNIX
    if (!port.contains(QLatin1Char('/'))) {
        return Status::ok(); // a port name: ttyS0 means /dev/ttyS0
    }
    struct stat info = {};
    if (::stat(QFile::encodeName(port).constData(), &info) != 0) {
        return Status::ok(); // not there (yet): tried again until it comes
    }
    if (!S_ISCHR(info.st_mode)) {
        const char* what = S_ISDIR(info.st_mode)   ? "a folder"
                           : S_ISREG(info.st_mode) ? "a regular file"
                                                   : "not a device";
        return Status::error(QStringLiteral("SerialPort=%1 is %2, not a serial device").arg(port, QLatin1String(what)));
    }
#endif
    return Status::ok();
}

void SerialLine::start()
{
    m_stopped = false;
    qCInfo(lcComm).noquote() << QStringLiteral("serving terminals on %1 (%2 baud, 8N1, flow control %3)")
                                    .arg(description())
                                    .arg(m_config.baud)
                                    .arg(m_config.rtsCts ? QStringLiteral("RTS/CTS") : QStringLiteral("none"));
    tryOpen();
}

void SerialLine::stop(const QString& reason)
{
    m_stopped = true;
    m_retry.stop();
    if (m_channel) {
        m_channel->end(reason);
        m_port.flush(); // the ERR line, as far as the line takes it now
        retireChannel();
    }
    if (m_port.isOpen()) {
        m_port.clear(QSerialPort::Output);
        m_port.close();
        Q_EMIT stateChanged();
    }
}

void SerialLine::tryOpen()
{
    if (m_stopped || m_port.isOpen()) {
        return;
    }
    m_port.setPortName(m_config.port);
    const bool opened =
        m_port.open(QIODevice::ReadWrite) && m_port.setBaudRate(m_config.baud) &&
        m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity) &&
        m_port.setStopBits(QSerialPort::OneStop) &&
        m_port.setFlowControl(m_config.rtsCts ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    if (!opened) {
        const QString reason = m_port.errorString();
        if (m_port.isOpen()) {
            m_port.close();
        }
        if (reason != m_problem) { // said once, not every few seconds
            qCWarning(lcComm).noquote() << QStringLiteral("%1: cannot open: %2; trying again every %3 s")
                                               .arg(description(), reason)
                                               .arg(m_config.retryMs / 1000.0);
        }
        m_problem = reason;
        m_retry.start(m_config.retryMs);
        return;
    }
    m_port.setReadBufferSize(kLineReadBuffer);
    m_port.clear(); // what waited in the line before it was ours
    m_problem.clear();
    m_line.clear();
    m_skipLine = false;
    qCInfo(lcComm).noquote() << QStringLiteral("%1: open, waiting for terminals").arg(description());
    Q_EMIT stateChanged();
}

void SerialLine::closePort(const QString& problem, bool flushOutput)
{
    if (m_channel) {
        m_channel->streamLost(); // a half-sent upload is discarded
        retireChannel();
    }
    if (m_port.isOpen()) {
        if (flushOutput) {
            m_port.clear(QSerialPort::Output);
        }
        m_port.close();
    }
    m_problem = problem;
    qCWarning(lcComm).noquote()
        << QStringLiteral("%1: %2; trying again every %3 s").arg(description(), problem).arg(m_config.retryMs / 1000.0);
    Q_EMIT stateChanged();
    if (!m_stopped) {
        m_retry.start(m_config.retryMs);
    }
}

void SerialLine::onError(QSerialPort::SerialPortError error)
{
    // The device went away (a USB unit unplugged, the other end of a pseudo-terminal gone) or cannot be read or
    // written any more: closed, and opened again when it is back.
    const bool lost =
        error == QSerialPort::ResourceError || error == QSerialPort::ReadError || error == QSerialPort::WriteError;
    if (!lost || !m_port.isOpen() || m_closing) {
        return;
    }
    m_closing = true; // one close for the burst of errors a lost line raises
    const QString reason = m_port.errorString().isEmpty() ? QStringLiteral("the line went away") : m_port.errorString();
    // Closed from the event loop, not from inside the port's own call that reported the error.
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (m_port.isOpen()) {
                platform::guarded(lcComm, "closing a lost serial line", [this, &reason] { closePort(reason, false); });
            }
            m_closing = false;
        },
        Qt::QueuedConnection);
}

void SerialLine::onReadyRead()
{
    if (m_channel) {
        return; // the session reads the line
    }
    while (!m_channel && m_port.bytesAvailable() > 0) {
        hunt(m_port.read(kHuntChunk));
    }
}

void SerialLine::hunt(QByteArray bytes)
{
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? bytes.size() : lf + 1;
        if (!m_skipLine) {
            m_line.append(bytes.constData() + pos, end - pos);
        }
        pos = end;
        if (!m_skipLine && m_line.size() >= kHello.size() && !m_line.startsWith(kHello)) {
            m_skipLine = true; // not a HELLO: ignored up to its end
        }
        if (!m_skipLine && m_line.size() > kMaxHeaderBytes) {
            m_skipLine = true;
        }
        if (m_skipLine) {
            m_line.clear();
        }
        if (lf < 0) {
            return; // the line goes on in the next bytes
        }
        if (!m_skipLine && m_line.startsWith(kHello)) {
            const QByteArray first = m_line + bytes.mid(pos);
            m_line.clear();
            startSession(first);
            return;
        }
        m_line.clear();
        m_skipLine = false;
    }
}

void SerialLine::startSession(const QByteArray& first)
{
    m_channel = std::make_unique<SessionChannel>(m_hub, m_port, m_config.port, m_config.transport);
    connect(m_channel.get(), &SessionChannel::closeRequested, this, [this] {
        platform::guarded(lcComm, "ending a line session", [this] { onSessionClosed(); });
    });
    m_channel->feedFirst(first);
}

void SerialLine::retireChannel()
{
    // Deleted from the event loop: the line's end may be reported from inside the channel's own work (a write that
    // fails, a handler that stops listening).
    m_channel->detach();
    SessionChannel* channel = m_channel.release();
    channel->setParent(this);
    channel->deleteLater();
}

void SerialLine::onSessionClosed()
{
    if (!m_channel) {
        return;
    }
    QByteArray unread = m_channel->takeUnread();
    retireChannel();
    if (m_port.bytesToWrite() > kStuckOutput) {
        m_port.clear(QSerialPort::Output);
    }
    m_line.clear();
    m_skipLine = false;
    hunt(std::move(unread));
    onReadyRead();
}

} // namespace kavelo::wire
