#ifndef KAVELO_TRANSFER_TERMINALSERVER_H
#define KAVELO_TRANSFER_TERMINALSERVER_H

#include "transfer/CommServer.h"
#include "transfer/HttpsEndpoint.h"
#include "transfer/HttpsSeat.h"
#include "transfer/KeyGuard.h"
#include "transfer/KeyRing.h"
#include "transfer/SessionPlaces.h"
#include "transfer/StagedCopies.h"
#include "transfer/TcpEndpoint.h"
#include "wire/AllowFrom.h"
#include "wire/ServerDefaults.h"
#include "wire/SessionChannel.h"

#include <QList>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace kavelo::wire {
class SerialLine;
} // namespace kavelo::wire

namespace kavelo::transfer {

// Why an upload is refused while storing it would leave less than MinFreeBytes free (after "cannot store the file").
inline const QString kDiskNearlyFull = QStringLiteral("the PC's disk is nearly full");

// Everything the built-in server needs, as plain values (taken from the settings by the shell).
struct ServerConfig
{
    QString programFolder;                               // received files land here, staged masters are sent
    QString listenAddress = wire::kDefaultListenAddress; // "ListenAddress"
    quint16 listenPort = wire::kDefaultListenPort;       // "ListenPort"; 0 picks a free port
    QString allowFrom;                                   // "AllowFrom"; empty: loopback and the private ranges
    qint64 maxFileSize = wire::kDefaultMaxFileSize;      // "MaxFileSize"
    qint64 minFreeBytes = 0; // "MinFreeBytes": uploads that would leave less free are refused; 0 (no check) until set
    QString usbPort;         // "UsbPort": the headless choice of a USB port
    QString serialPort;      // "SerialPort": the line served; empty: the chosen port
    qint32 serialBaud = wire::kDefaultSerialBaud; // "SerialBaud"
    bool serialRtsCts = false;                    // "SerialFlow=rtscts"
    QStringList protectedNames;                   // never written by an upload (compared ignoring case)
    int maxSessions = wire::kDefaultMaxSessions;  // "MaxSessions": sessions at the same time
    int maxStartups = wire::kDefaultMaxStartups;  // "MaxStartups": connections not yet past HELLO
    int idleTimeoutMs = 30000;                    // the terminal moved nothing for this long
    int helloTimeoutMs = 10000;                   // a connection must say HELLO within this
    int handshakeTimeoutMs = 10000;               // an HTTPS connection must finish its TLS handshake
    int retryMs = 3000;                           // an address that cannot be bound, a port that cannot be
                                                  // opened: tried again after this
    bool requireTerminalKeys = false;             // "RequireTerminalKeys": a HELLO over TCP needs the key
    bool https = false;                           // serve HTTPS ("HttpsPort" not 0)
    quint16 httpsPort = 0;                        // "HttpsPort"; 0 with https: a free port (tests)
    TlsFiles tls;                                 // its certificate and key
};

// The built-in communication server, the transfer core: serves terminals on the thread of the event loop with the
// terminal protocol, version 1, over TCP and over one serial line (the USB port chosen at the search, or
// "SerialPort"), and with the HTTPS API. Sessions of different terminals run side by side (up to maxSessions, one
// place per terminal); their saved files are handled one at a time, in the order the uploads completed. Listening
// means serving on at least one of the three; an address that cannot be bound, a certificate that cannot be used
// and a line that cannot be opened are tried again every few seconds, each without holding up the others.
class TerminalServer : public CommServer, private wire::ChannelHub
{
    Q_OBJECT

  public:
    // Asks the operator to pick one of the USB ports; nothing when declined.
    using PortChooser = std::function<std::optional<int>(const QStringList& ports)>;
    // Tells the operator about a failure of the server itself (a bind failure).
    using Reporter = std::function<void(const QString& message)>;

    // `files` stores uploads (tests inject failures there).
    TerminalServer(ServerConfig config,
                   PortChooser chooser,
                   Reporter reporter,
                   platform::FileOps& files = platform::FileOps::real(),
                   QObject* parent = nullptr);
    ~TerminalServer() override;

    int TerminalNo() const override;
    int PortKind() const override;
    QString IPAddress() const override;
    int PortNo() const override;
    bool Listening() const override;
    void setListening(bool listening) override;
    qint16 CountUsbPorts(qint32 request) override;
    bool ChooseUsbPort() override;

    // New settings while running (a reload); what did not change goes on untouched. A listener whose address and
    // port stay keeps its connections and takes the new AllowFrom (connections from addresses no longer allowed
    // end) and MaxStartups; one whose address or port changed is bound anew, and only its sessions end. New
    // sessions take the new limits; a higher MaxSessions admits waiting ones at once. The serial line is opened
    // anew when its port, rate or flow control changed. HTTPS takes a changed certificate for the connections to
    // come. The program folder never changes.
    void reconfigure(ServerConfig config);
    // Reads the terminal keys again now (a reload), whether or not the file looks changed.
    void reloadKeys() { m_keys.reload(); }

    // The terminal keys, and the addresses held off for guessing them.
    const KeyRing& keyRing() const { return m_keys; }
    const KeyGuard& keyGuard() const { return m_guard; }

    // Who keeps account of the sessions' work (the status page); null: nobody.
    void setTransferObserver(wire::TransferObserver* observer) { m_observer = observer; }

    // The sessions that have their place now (a terminal's HTTPS requests in flight count as one).
    const QList<wire::Occupant*>& openSessions() const { return m_places.open(); }
    // The HTTPS endpoint; null when HttpsPort is 0.
    const HttpsEndpoint* https() const { return m_https.get(); }
    // Whether the TCP listener is bound now.
    bool listeningOnIp() const { return m_tcp->serving(); }
    // Whether uploads are refused now because the disk is nearly full (the last one asked was).
    bool diskShort() const { return m_diskShort; }
    // Why the listen address is not bound while it is tried again; empty otherwise.
    const QString& bindProblem() const { return m_tcp->problem(); }
    // The line served while listening, or null.
    const wire::SerialLine* serialLine() const { return m_serial.get(); }
    // The port that is served while listening: "SerialPort", else the one chosen at the USB search; empty: none.
    QString servedPort() const;

    // The USB serial ports present (ports with a USB vendor id), by name.
    static QStringList usbPortNames();
    // The names an upload may never take: the settings file, the log, the key files and the program's own files.
    static QStringList defaultProtectedNames();

  private:
    // ChannelHub.
    const wire::SessionLimits& limits() const override { return m_limits; }
    QThreadPool& workers() override { return m_workers; }
    platform::FileOps& files() override { return m_files; }
    wire::TransferObserver* observer() override { return m_observer; }
    void raiseTransfer(int terminalNo, wire::Transport transport, qint16 kind, const QString& name) override;
    wire::TransferOutcome fileSaved(int terminalNo, wire::Transport transport, const QString& name) override;
    void
    uploadFailed(int terminalNo, wire::Transport transport, const QString& name, const platform::Status& why) override;
    platform::Status roomForUpload(qint64 size) override;
    std::shared_ptr<const platform::PinnedFile> stagedFile(int terminalNo, const QString& name) override;
    std::optional<QString>
    helloRefused(const wire::SessionChannel& channel, int terminalNo, const QByteArray& key) override;
    bool requestPlace(wire::SessionChannel& channel) override;
    void leavePlace(wire::SessionChannel& channel) override;
    wire::Authorization authorize(const QHostAddress& address, int terminalNo, const QByteArray& key) override;
    void whenStaged(int terminalNo, QObject* context, StageReady ready) override;
    bool joinPlace(wire::HttpsConnection& connection) override;
    void quitPlace(wire::HttpsConnection& connection) override;

    // Gives up an occupant's place; a waiting one is admitted from the event loop.
    void leave(wire::Occupant& occupant);

    void admitWaiting();
    // A wrong key from `address` (counted; the address may be held off from now on, which is logged).
    void keyFailed(const QHostAddress& address);
    void onKeysChanged(const QList<int>& terminals);
    void removeStaleFiles();
    // AllowFrom as addresses and ranges; entries that are neither are logged and left out.
    static QList<wire::Subnet> allowedOf(const QString& allowFrom);
    TcpEndpointConfig tcpConfig() const;
    HttpsEndpointConfig httpsConfig() const;
    void reconfigureSerial(const ServerConfig& old);
    void reconfigureHttps();
    // An endpoint serves now: listening has started, if it had not.
    void onStarted();
    void startSerial();
    void startHttps();
    // Its session ends with `reason`.
    void stopSerial(const QString& reason);
    // The ports a terminal line can be served on: the USB serial ports present, and "SerialPort".
    QStringList servablePorts() const;

    ServerConfig m_config;
    wire::SessionLimits m_limits;
    PortChooser m_chooser;
    Reporter m_reporter;
    QList<wire::Subnet> m_allowed;
    platform::FileOps& m_files;
    QThreadPool m_workers;
    StagedCopies m_staged;
    KeyRing m_keys;
    KeyGuard m_guard;
    SessionPlaces m_places;
    bool m_admitQueued = false;
    std::unique_ptr<TcpEndpoint> m_tcp;
    std::unique_ptr<wire::SerialLine> m_serial;
    std::unique_ptr<HttpsEndpoint> m_https;
    std::map<int, std::unique_ptr<HttpsSeat>> m_seats;    // by terminal: its HTTPS requests in flight
    std::vector<std::unique_ptr<HttpsSeat>> m_emptySeats; // deleted from the event loop
    QString m_chosenPort;                                 // at the USB search
    bool m_wanted = false;                                // listening was asked for
    bool m_listening = false;                             // and ListenStarted raised
    bool m_diskShort = false;                             // the last upload was refused for lack of room on the disk
    wire::TransferObserver* m_observer = nullptr;
    int m_terminalNo = 0;
    int m_portKind = wire::kPortIp;
};

} // namespace kavelo::transfer

#endif
