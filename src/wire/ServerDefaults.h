#ifndef KAVELO_WIRE_SERVERDEFAULTS_H
#define KAVELO_WIRE_SERVERDEFAULTS_H

#include <QString>
#include <QtGlobal>

namespace kavelo::wire {

// The defaults of the terminal server's settings, written once: the settings (KAVELO.ini) start from them, and so
// do the configurations of the transports, the transfer core and the terminal's client.
inline const QString kDefaultListenAddress = QStringLiteral("127.0.0.1"); // "ListenAddress": this PC only
constexpr quint16 kDefaultListenPort = 47100;                             // "ListenPort": protocol v1
constexpr quint16 kDefaultHttpsPort = 47143;                              // "HttpsPort"
constexpr qint64 kDefaultMaxFileSize = 64 * 1024 * 1024;                  // "MaxFileSize", in bytes
constexpr qint32 kDefaultSerialBaud = 115200;                             // "SerialBaud"
constexpr int kDefaultMaxSessions = 16;                                   // "MaxSessions"
constexpr int kDefaultMaxStartups = 32;                                   // "MaxStartups"
// "MinFreeBytes": an upload that would leave less free on the program folder's disk is refused; 0: no check.
constexpr qint64 kDefaultMinFreeBytes = 256 * 1024 * 1024;

} // namespace kavelo::wire

#endif
