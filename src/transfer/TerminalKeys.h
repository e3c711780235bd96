#ifndef KAVELO_TRANSFER_TERMINALKEYS_H
#define KAVELO_TRANSFER_TERMINALKEYS_H

#include "platform/Status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QMap>
#include <QString>

namespace kavelo::transfer {

// The key files of the program folder. Only `kavelo terminal enroll` and `revoke` write the first; only the running
// service writes the second.
inline const QString kTerminalKeysFileName = QStringLiteral("terminal-keys.txt");
inline const QString kKeyUseFileName = QStringLiteral("terminal-keys-used.txt");

// The protocol a key was last used over, as the files and pages show it.
inline const QString kUsedOverHttps = QStringLiteral("https");
inline const QString kUsedOverV1 = QStringLiteral("v1");

struct EnrolledKey
{
    int terminal = 0;
    QDateTime enrolledAt;
    QByteArray hash; // SHA-256 of the key: 32 bytes
};

// What a presented key is.
enum class KeyMatch
{
    Right,         // the terminal's own key
    OtherTerminal, // a key, but another terminal's
    Unknown,       // nobody's key
};

// The terminals' keys as stored: one SHA-256 per terminal, never a key in clear. A key is 192 random bits as
// URL-safe text (32 characters of A-Z a-z 0-9 - _). The file ("terminal-keys.txt", mode 0600) is replaced whole.
class TerminalKeys
{
  public:
    // Reads the program folder's key file; a missing file is no keys. A malformed line is an error naming it.
    static platform::Result<TerminalKeys> read(const QString& programFolder);
    // Writes the key file (mode 0600, replaced in one step).
    platform::Status write(const QString& programFolder) const;

    // A new key for `terminal`, replacing any older one; returned in clear, once.
    platform::Result<QString> enroll(int terminal, const QDateTime& now);
    // Forgets the terminal's key; false when it had none.
    bool revoke(int terminal);

    // Compares `key`'s digest with every stored one, in constant time, whatever matches.
    KeyMatch match(int terminal, QByteArrayView key) const;
    bool isEnrolled(int terminal) const { return m_keys.contains(terminal); }
    const QMap<int, EnrolledKey>& keys() const { return m_keys; }

    static QString path(const QString& programFolder);

  private:
    QMap<int, EnrolledKey> m_keys;
};

// When each terminal's key was last used, and over which protocol: kept by the running service.
struct KeyUse
{
    QDateTime at;
    QString protocol; // kUsedOverHttps or kUsedOverV1
};
platform::Result<QMap<int, KeyUse>> readKeyUse(const QString& programFolder);
platform::Status writeKeyUse(const QString& programFolder, const QMap<int, KeyUse>& uses);

} // namespace kavelo::transfer

#endif
