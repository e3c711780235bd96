#ifndef KAVELO_SHELL_SETTINGS_H
#define KAVELO_SHELL_SETTINGS_H

#include "platform/Status.h"
#include "status/StatusServer.h"
#include "wire/ServerDefaults.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <variant>

namespace kavelo::shell {

inline const QString kSettingsFileName = QStringLiteral("KAVELO.ini");
inline const QString kLogFileName = QStringLiteral("kavelo.log");
constexpr qint64 kMaxSettingsBytes = 1024 * 1024; // a larger settings file is refused

// Settings keys, compared exactly and case-sensitively.
inline const QString kKeyDbName = QStringLiteral("DBname");
inline const QString kKeyData = QStringLiteral("DATA");
inline const QString kKeyImportDb = QStringLiteral("ImportDB");
inline const QString kKeyImportDir = QStringLiteral("ImportDir");
inline const QString kKeyListenAddress = QStringLiteral("ListenAddress");
inline const QString kKeyListenPort = QStringLiteral("ListenPort");
inline const QString kKeyAllowFrom = QStringLiteral("AllowFrom");
inline const QString kKeyMaxFileSize = QStringLiteral("MaxFileSize");
inline const QString kKeyMinFreeBytes = QStringLiteral("MinFreeBytes");
inline const QString kKeyUsbPort = QStringLiteral("UsbPort");
inline const QString kKeySerialPort = QStringLiteral("SerialPort");
inline const QString kKeySerialBaud = QStringLiteral("SerialBaud");
inline const QString kKeySerialFlow = QStringLiteral("SerialFlow");
inline const QString kKeyStatusAddress = QStringLiteral("StatusAddress");
inline const QString kKeyStatusPort = QStringLiteral("StatusPort");
inline const QString kKeyStatusAllowFrom = QStringLiteral("StatusAllowFrom");
inline const QString kKeyMaxSessions = QStringLiteral("MaxSessions");
inline const QString kKeyMaxStartups = QStringLiteral("MaxStartups");
inline const QString kKeyLogMaxBytes = QStringLiteral("LogMaxBytes");
inline const QString kKeyLogKeep = QStringLiteral("LogKeep");
inline const QString kKeyDbSchema = QStringLiteral("DBSchema");
inline const QString kKeyDbLockWait = QStringLiteral("DBLockWait");
inline const QString kKeyBackupCopies = QStringLiteral("BackupCopies");
inline const QString kKeyBackupKeepDays = QStringLiteral("BackupKeepDays");
inline const QString kKeyUploadAlertHours = QStringLiteral("UploadAlertHours");
inline const QString kKeyHttpsPort = QStringLiteral("HttpsPort");
inline const QString kKeyTlsCertificate = QStringLiteral("TlsCertificate");
inline const QString kKeyTlsKey = QStringLiteral("TlsKey");
inline const QString kKeyRequireTerminalKeys = QStringLiteral("RequireTerminalKeys");

// The settings of one run: read once at start-up and handed, as a value, to whatever needs them.
struct Settings
{
    QString programFolder; // absolute; holds KAVELO.ini; received files land here, masters are staged here
    QString DBPath;        // "DBname": a SQLite path, or a postgresql:// URI
    QString DataRoot;      // "DATA": a plain prefix of every path of the terminal folder tree
    QString importDb;      // "ImportDB": the host import's database
    QString importDir;     // "ImportDir": the host import's folder, ending with a separator
    QString dbSchema = QStringLiteral("public"); // "DBSchema": the schema of the tables on a PostgreSQL server
    int dbLockWait = 30; // "DBLockWait": seconds a master another KAVELO writes on the server is waited for
    QString listenAddress = wire::kDefaultListenAddress;
    quint16 listenPort = wire::kDefaultListenPort;
    QString allowFrom; // empty: loopback and the private ranges
    qint64 maxFileSize = wire::kDefaultMaxFileSize;
    qint64 minFreeBytes = wire::kDefaultMinFreeBytes; // "MinFreeBytes": kept free on the disk by refusing uploads
    QString usbPort;
    QString serialPort;                           // "SerialPort": a device path or port name served as a terminal line
    qint32 serialBaud = wire::kDefaultSerialBaud; // "SerialBaud"
    bool serialRtsCts = false;                    // "SerialFlow": none (default) or rtscts
    QString statusAddress = status::kDefaultStatusAddress; // "StatusAddress": the status page's address
    quint16 statusPort = status::kDefaultStatusPort;       // "StatusPort"; 0: no status page
    QString statusAllowFrom;                               // "StatusAllowFrom"; empty: loopback only
    int maxSessions = wire::kDefaultMaxSessions;           // terminal sessions at the same time
    int maxStartups = wire::kDefaultMaxStartups;           // connections that have not said HELLO yet
    qint64 logMaxBytes = 10 * 1024 * 1024; // kavelo.log is rotated when a line would take it past this; 0: never
    int logKeep = 5;                       // rotated generations kept: kavelo.log.1 (newest) to kavelo.log.5
    int backupCopies = 7;                  // "BackupCopies": backups `kavelo backup` keeps in its destination; 0: all
    int backupKeepDays = 0;    // "BackupKeepDays": uploads in the backup tree older than this are removed; 0: never
    int uploadAlertHours = 48; // "UploadAlertHours": a terminal silent this long is alerted on; 0: never
    quint16 httpsPort =
        wire::kDefaultHttpsPort; // "HttpsPort": the terminals' HTTPS endpoint, on ListenAddress; 0: none
    QString tlsCertificate;      // "TlsCertificate": its certificate (PEM); empty: tls/kavelo.crt, made when missing
    QString tlsKey;              // "TlsKey": its private key (PEM); empty: tls/kavelo.key, made when missing
    bool requireTerminalKeys = false; // "RequireTerminalKeys=yes": a HELLO over TCP must carry the terminal's key
    QStringList warnings;             // worth a line in the log at start-up
};

// Why a settings file cannot be used, as data: the command line and the log word it in English (text()), the window
// and the status page in Japanese (japaneseText()).
struct SettingsError
{
    enum class Kind
    {
        Missing,    // there is no settings file
        Unreadable, // `reason`: the system's words
        TooLarge,
        Utf16,
        NotText,  // a line that sets a key does not decode; `reason`: the decoder's words
        BadValue, // `key`=`value` is not `reason` ("a port number (0 to 65535)")
        Unpaired, // `key` is set without `reason`, the key that goes with it, or the other way round
    };

    Kind kind = Kind::Missing;
    QString file;
    qint64 line = 0; // 0: the file as a whole
    QString key;
    QString value;
    QString reason;

    QString text() const;
    // The same for the operator, in Japanese through the catalogue (the window, the status page).
    QString japaneseText() const;
};

// Reads "KAVELO.ini" in the program folder: the settings, or why they cannot be had.
std::variant<Settings, SettingsError> loadSettings(const QString& programFolder);

// Parses the content of a settings file. Each line with "=" is a setting: key before the first "=", value after
// it, both trimmed of blanks; the last occurrence of a key wins; other lines and unknown keys are ignored.
// The text is Windows-31J, or UTF-8 when the file starts with the UTF-8 byte order mark. A line that does not
// decode is an error naming it only when it sets a key read here; any other is ignored with a warning. (Keys are
// ASCII and "=" is never the second byte of a Windows-31J character, so the key is known before the value is
// decoded.) `sourceName` names the file in error messages.
platform::Result<Settings>
parseSettings(QByteArrayView content, const QString& programFolder, const QString& sourceName);

// Reads "KAVELO.ini" in the program folder. A missing or unreadable file is an error naming its path.
platform::Result<Settings> ReadSettings(const QString& programFolder);

// The settings file's path in a program folder.
QString settingsPath(const QString& programFolder);

} // namespace kavelo::shell

#endif
