#ifndef KAVELO_SHELL_SETTINGS_H
#define KAVELO_SHELL_SETTINGS_H

#include "platform/Status.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace kavelo::shell {

inline const QString kSettingsFileName = QStringLiteral("KAVELO.ini");
inline const QString kLogFileName = QStringLiteral("kavelo.log");

// Settings keys, compared exactly and case-sensitively.
inline const QString kKeyDbName = QStringLiteral("DBname");
inline const QString kKeyData = QStringLiteral("DATA");
inline const QString kKeyImportDb = QStringLiteral("ImportDB");
inline const QString kKeyImportDir = QStringLiteral("ImportDir");
inline const QString kKeyListenAddress = QStringLiteral("ListenAddress");
inline const QString kKeyListenPort = QStringLiteral("ListenPort");
inline const QString kKeyAllowFrom = QStringLiteral("AllowFrom");
inline const QString kKeyMaxFileSize = QStringLiteral("MaxFileSize");
inline const QString kKeyUsbPort = QStringLiteral("UsbPort");
inline const QString kKeyMaxSessions = QStringLiteral("MaxSessions");
inline const QString kKeyMaxStartups = QStringLiteral("MaxStartups");

// The settings of one run: read once at start-up and handed, as a value, to whatever needs them.
struct Settings
{
    QString programFolder; // absolute; holds KAVELO.ini; received files land here, masters are staged here
    QString DBPath;        // "DBname"
    QString DataRoot;      // "DATA": a plain prefix of every path of the terminal folder tree
    QString importDb;      // "ImportDB": the host import's database
    QString importDir;     // "ImportDir": the host import's folder, ending with a separator
    QString listenAddress = QStringLiteral("127.0.0.1");
    quint16 listenPort = 47100;
    QString allowFrom; // empty: loopback and the private ranges
    qint64 maxFileSize = 67108864;
    QString usbPort;
    int maxSessions = 16; // terminal sessions at the same time
    int maxStartups = 32; // connections that have not said HELLO yet
    QStringList warnings; // worth a line in the log at start-up
};

// Parses the content of a settings file. Each line with "=" is a setting: key before the first "=", value after
// it, both trimmed of blanks; the last occurrence of a key wins; other lines and unknown keys are ignored.
// `sourceName` names the file in error messages.
platform::Result<Settings> parseSettings(QByteArrayView content, const QString& programFolder,
                                         const QString& sourceName);

// Reads "KAVELO.ini" in the program folder. A missing or unreadable file is an error naming its path.
platform::Result<Settings> ReadSettings(const QString& programFolder);

// The settings file's path in a program folder.
QString settingsPath(const QString& programFolder);

} // namespace kavelo::shell

#endif
