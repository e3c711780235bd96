#include "transfer/KeyRing.h"

#include "platform/Guarded.h"
#include "platform/Log.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace kavelo::transfer {

KeyRing::KeyRing(QString programFolder, QObject* parent)
    : QObject(parent)
    , m_programFolder(std::move(programFolder))
{
    platform::Result<QMap<int, KeyUse>> uses = readKeyUse(m_programFolder);
    if (uses.isOk()) {
        m_uses = *uses;
    } else {
        qCWarning(lcComm).noquote() << uses.status().message() + QStringLiteral("; the last uses start afresh");
    }
    check();
    if (m_keys.keys().isEmpty() && m_problem.isEmpty()) {
        qCInfo(lcComm) << "no terminal is enrolled yet (kavelo terminal enroll N)";
    } else if (m_problem.isEmpty()) {
        qCInfo(lcComm).noquote() << QStringLiteral("%1 terminal(s) enrolled").arg(m_keys.keys().size());
    }
    m_watcher.addPath(m_programFolder);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        platform::guarded(lcComm, "reading the terminal keys", [this] { check(); });
    });
    connect(&m_checkTimer, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "reading the terminal keys", [this] { check(); });
    });
    m_checkTimer.start(kCheckMs);
    m_useTimer.setSingleShot(true);
    connect(&m_useTimer, &QTimer::timeout, this, [this] {
        platform::guarded(lcComm, "writing the last uses of the terminal keys", [this] { writeUses(); });
    });
}

KeyRing::~KeyRing()
{
    if (m_usesDirty) {
        writeUses();
    }
}

QByteArray KeyRing::fileStamp() const
{
    // Size, time of change and file number: a replace by rename changes the number even within one second.
    const QString path = TerminalKeys::path(m_programFolder);
#ifdef Q_OS_UNIX
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return QByteArrayLiteral("none");
    }
    return QByteArray::number(static_cast<qint64>(info.st_size)) + ' ' +
           QByteArray::number(static_cast<qint64>(info.st_ino)) + ' ' +
           QByteArray::number(static_cast<qint64>(info.st_mtim.tv_sec)) + '.' +
           QByteArray::number(static_cast<qint64>(info.st_mtim.tv_nsec));
#else
    const QFileInfo info(path);
    return info.exists()
               ? QByteArray::number(info.size()) + ' ' + QByteArray::number(info.lastModified().toMSecsSinceEpoch())
               : QByteArrayLiteral("none");
#endif
}

void KeyRing::check()
{
    const QByteArray stamp = fileStamp();
    if (stamp == m_stamp) {
        return;
    }
    m_stamp = stamp;
    platform::Result<TerminalKeys> read = TerminalKeys::read(m_programFolder);
    if (!read.isOk()) {
        // The keys read last stay in force: a file being edited by hand must not open the door, nor shut it.
        if (read.status().message() != m_problem) {
            qCCritical(lcComm).noquote() << read.status().message() + QStringLiteral("; the keys read before stay");
        }
        m_problem = read.status().message();
        return;
    }
    m_problem.clear();
    QList<int> changed;
    const QMap<int, EnrolledKey>& before = m_keys.keys();
    const QMap<int, EnrolledKey>& after = read->keys();
    for (const EnrolledKey& key : before) {
        if (!after.contains(key.terminal) || after.value(key.terminal).hash != key.hash) {
            changed.append(key.terminal);
        }
    }
    for (const EnrolledKey& key : after) {
        if (!before.contains(key.terminal)) {
            changed.append(key.terminal);
        }
    }
    const bool first = !m_loaded;
    m_loaded = true;
    m_keys = std::move(*read);
    if (!changed.isEmpty() && !first) {
        QStringList numbers;
        for (int terminal : std::as_const(changed)) {
            numbers << QString::number(terminal);
        }
        qCInfo(lcComm).noquote() << QStringLiteral("terminal keys changed for terminal %1 (%2 enrolled)")
                                        .arg(numbers.join(QStringLiteral(", ")))
                                        .arg(m_keys.keys().size());
        Q_EMIT keysChanged(changed);
    }
}

void KeyRing::used(int terminal, const QString& protocol)
{
    m_uses.insert(terminal, KeyUse{QDateTime::currentDateTime(), protocol});
    m_usesDirty = true;
    if (!m_useTimer.isActive()) {
        m_useTimer.start(kUseWriteMs);
    }
}

void KeyRing::writeUses()
{
    platform::Status written = writeKeyUse(m_programFolder, m_uses);
    if (!written.isOk()) {
        qCWarning(lcComm).noquote() << written.message();
        return; // tried again at the next use
    }
    m_usesDirty = false;
}

} // namespace kavelo::transfer
