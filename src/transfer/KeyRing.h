#ifndef KAVELO_TRANSFER_KEYRING_H
#define KAVELO_TRANSFER_KEYRING_H

#include "transfer/TerminalKeys.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

namespace kavelo::transfer {

// The running service's view of the terminal keys: the key file as `kavelo terminal enroll` and `revoke` leave it,
// read again within a second or two of a change (a watcher, and a cheap look every second, as a watcher misses a
// file replaced by a rename), and when each key was last used, written to a file of its own now and then.
class KeyRing : public QObject
{
    Q_OBJECT

  public:
    static constexpr int kCheckMs = 1000;
    static constexpr int kUseWriteMs = 5000;

    explicit KeyRing(QString programFolder, QObject* parent = nullptr);
    ~KeyRing() override; // writes the last uses not yet written

    const TerminalKeys& keys() const { return m_keys; }
    KeyMatch match(int terminal, QByteArrayView key) const { return m_keys.match(terminal, key); }
    bool isEnrolled(int terminal) const { return m_keys.isEnrolled(terminal); }
    // The terminal's key was used, over `protocol`.
    void used(int terminal, const QString& protocol);
    const QMap<int, KeyUse>& lastUses() const { return m_uses; }
    // Why the key file could not be read last time, else empty.
    const QString& problem() const { return m_problem; }

    // Reads the key file again when it has changed.
    void check();
    // Reads the key file again now, changed or not (a reload).
    void reload()
    {
        m_stamp.clear();
        check();
    }

  Q_SIGNALS:
    // The keys of these terminals were enrolled, replaced or revoked.
    void keysChanged(const QList<int>& terminals);

  private:
    QByteArray fileStamp() const;
    void writeUses();

    QString m_programFolder;
    TerminalKeys m_keys;
    QByteArray m_stamp;
    bool m_loaded = false; // read once at least
    QString m_problem;
    QMap<int, KeyUse> m_uses;
    bool m_usesDirty = false;
    QFileSystemWatcher m_watcher;
    QTimer m_checkTimer;
    QTimer m_useTimer;
};

} // namespace kavelo::transfer

#endif
